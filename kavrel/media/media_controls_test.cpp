// Sound, PTZ, fisheye, snapshots and local recordings as the control drives them: script methods
// and tool-bar commands on panes whose live slots are filled as a started stream leaves them, with
// the library's media calls recorded (and the snapshot's bitmap written) by a fake table.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/control_host.h"
#include "kavrel/core/callback_names.h"
#include "kavrel/core/device_model.h"
#include "kavrel/media/save_functions.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "kavrel/ui/ui_messages.h"
#include "kavrel/ui/video_wnd.h"
#include "kavrel/ui/video_wnd_manager.h"
#include "platform/window/testing/scripted_site.h"

#include "kavrel/media/testing/stb_images.h"

namespace {

namespace fs = std::filesystem;
using com::Variant;
using kavrel::CkavrelCtrl;

constexpr com::DISPID kCallBackMsg = 32;

// What the fake library was asked, one line per call; and how it answers snapshots.
struct Recorder {
  static std::mutex lock;
  static std::vector<std::string> calls;
  static int snapshot_width;  // 0: the capture fails
  static int snapshot_height;
  static int open_sound_result;

  static void add(std::string line) {
    std::lock_guard<std::mutex> hold(lock);
    calls.push_back(std::move(line));
  }
  static std::vector<std::string> taken() {
    std::lock_guard<std::mutex> hold(lock);
    std::vector<std::string> out;
    out.swap(calls);
    return out;
  }
  static std::string dev(const char* id, int32_t ch) { return std::string(id) + "/" + std::to_string(ch); }

  static int32_t open_sound(brixa_handle, const char* id, int32_t ch) {
    add("open_sound " + dev(id, ch));
    return open_sound_result;
  }
  static int32_t close_sound(brixa_handle, const char* id, int32_t ch) {
    add("close_sound " + dev(id, ch));
    return 0;
  }
  static int32_t setvolume(brixa_handle, const char* id, int32_t ch, int32_t v) {
    add("setvolume " + dev(id, ch) + " " + std::to_string(v));
    return 0;
  }
  static int32_t ptz(brixa_handle, const char* id, int32_t ch, int32_t cmd, int32_t param, int32_t stop) {
    add("ptz " + dev(id, ch) + " " + std::to_string(cmd) + " " + std::to_string(param) + " " + std::to_string(stop));
    return 0;
  }
  static void mount(brixa_handle, const char* id, int32_t ch, int32_t mode) {
    add("mount " + dev(id, ch) + " " + std::to_string(mode));
  }
  static void view(brixa_handle, const char* id, int32_t ch, int32_t value) {
    add("view " + dev(id, ch) + " " + std::to_string(value));
  }
  static int32_t save_picture(brixa_handle, const char* id, int32_t ch, const char* path) {
    add("save_picture " + dev(id, ch));
    if (snapshot_width == 0) return -3;
    std::vector<uint8_t> px(static_cast<size_t>(snapshot_width * snapshot_height * 3));
    for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>((i * 7) % 251);
    return stbi_write_bmp(path, snapshot_width, snapshot_height, 3, px.data()) != 0 ? 0 : -1;
  }
  static int32_t save_play_picture(brixa_handle, const char*, const char*) { return -4; }
  static int32_t start_recording(brixa_handle, const char* id, int32_t ch, const char* path) {
    add("start_recording " + dev(id, ch) + " " + fs::path(path).filename().string());
    return 0;
  }
  static int32_t stop_recording(brixa_handle, const char* id, int32_t ch) {
    add("stop_recording " + dev(id, ch));
    return 0;
  }
  static int32_t start_play_recording(brixa_handle, const char*, const char*) { return -4; }
  static int32_t stop_play_recording(brixa_handle, const char*) { return -4; }

  static constexpr kavrel::MediaCalls table{open_sound,     close_sound,       setvolume,       ptz,
                                            mount,          view,              save_picture,    save_play_picture,
                                            start_recording, stop_recording,   start_play_recording,
                                            stop_play_recording};
};
std::mutex Recorder::lock;
std::vector<std::string> Recorder::calls;
int Recorder::snapshot_width = 352;
int Recorder::snapshot_height = 288;
int Recorder::open_sound_result = 0;

using Calls = std::vector<std::string>;

class MediaControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kavrel-media-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    cache_home_ = pattern;
    ::setenv("XDG_CACHE_HOME", cache_home_.c_str(), 1);
    fs::create_directories(cache_home_ + "/chosen");
    site_ = std::make_shared<platform::testing::ScriptedSite>();
    platform::set_host_site(site_);
    Recorder::taken();
    Recorder::snapshot_width = 352;
    Recorder::snapshot_height = 288;
    Recorder::open_sound_result = 0;
    std::string error;
    host_ = host::ControlHost::adopt(
        [this] {
          control_ = CkavrelCtrl::Create();
          control_->set_media_calls_for_testing(&Recorder::table);
          return static_cast<com::IDispatch*>(control_);
        },
        &error);
    ASSERT_NE(host_, nullptr) << error;
    ASSERT_EQ(host_->create_window(), com::S_OK);
  }
  void TearDown() override {
    host_.reset();
    platform::set_host_site(nullptr);
    fs::remove_all(cache_home_);
  }

  template <class Fn>
  void on_ui(Fn fn) {
    host_->ui().run([&] { fn(*control_); });
  }
  // Pane `pane` plays channel `channel` of device `dev` (with a camera, so PTZ and fisheye act).
  void streaming(int32_t pane, const std::string& dev = "KVR-1", int32_t channel = 0, bool with_camera = true) {
    on_ui([&](CkavrelCtrl& c) {
      auto camera = with_camera ? std::make_shared<kavrel::CamInfo>(dev + "_cam") : nullptr;
      c.set_live_slot_for_testing(pane, dev, channel, true, camera);
    });
  }
  void call(const std::string& method, std::vector<Variant> args, Variant* result = nullptr) {
    ASSERT_EQ(host_->call(method, args, result), com::S_OK) << method;
  }
  int32_t call_long(const std::string& method, std::vector<Variant> args) {
    Variant result;
    EXPECT_EQ(host_->call(method, args, &result), com::S_OK) << method;
    return result.lval;
  }
  std::string call_text(const std::string& method, std::vector<Variant> args) {
    Variant result;
    EXPECT_EQ(host_->call(method, args, &result), com::S_OK) << method;
    return kavrel::to_narrow(result.bstr);
  }
  void command(int32_t pane, int32_t number) {
    on_ui([&](CkavrelCtrl& c) {
      platform::send_message(c.window(), kavrel::ui::kMsgCommand, static_cast<platform::WPARAM>(pane), number);
    });
  }
  size_t snapshot_events(int32_t pane) {
    size_t n = 0;
    for (const auto& e : host_->events()) {
      if (e.id == kCallBackMsg && e.arg_long(2) == kavrel::kEventSnapshotTaken && e.arg_long(3) == pane) ++n;
    }
    return n;
  }
  std::string cache_folder() const { return cache_home_ + "/kavrel/"; }
  std::vector<std::string> cache_files() const {
    std::vector<std::string> names;
    if (!fs::exists(cache_folder())) return names;
    for (const auto& entry : fs::directory_iterator(cache_folder())) names.push_back(entry.path().filename().string());
    return names;
  }
  size_t count_calls(const std::string& kind) {
    size_t n = 0;
    for (const auto& c : site_->calls()) n += c.kind == kind ? 1 : 0;
    return n;
  }
  bool pane_recording(int32_t pane) {
    bool on = false;
    on_ui([&](CkavrelCtrl& c) { on = c.video_wall()->pane(pane)->panel().tool().flags().recording; });
    return on;
  }

  std::string cache_home_;
  std::shared_ptr<platform::testing::ScriptedSite> site_;
  std::unique_ptr<host::ControlHost> host_;
  CkavrelCtrl* control_ = nullptr;
};

TEST_F(MediaControlsTest, PtzRepeatOfTheSameMoveIsSentOnceUntilAStop) {
  streaming(2, "KVR-1", 3);
  call("CliPTZMoveUp", {Variant::i4(2), Variant::i4(5)});
  call("CliPTZMoveUp", {Variant::i4(2), Variant::i4(5)});
  EXPECT_EQ(Recorder::taken(), (Calls{"ptz KVR-1/3 0 5 0"}));

  call("CliPTZMoveUp", {Variant::i4(2), Variant::i4(5)});
  call("CliPTZStop", {Variant::i4(2)});
  call("CliPTZMoveUp", {Variant::i4(2), Variant::i4(5)});
  call("CliPTZZoomStop", {Variant::i4(2)});
  EXPECT_EQ(Recorder::taken(), (Calls{"ptz KVR-1/3 0 0 1", "ptz KVR-1/3 0 5 0", "ptz KVR-1/3 0 0 1"}));

  // Another speed is another command.
  call("CliPTZMoveLeft", {Variant::i4(2), Variant::i4(3)});
  call("CliPTZMoveLeft", {Variant::i4(2), Variant::i4(4)});
  call("CliPTZZoomIn", {Variant::i4(2), Variant::i4(4)});
  EXPECT_EQ(Recorder::taken(), (Calls{"ptz KVR-1/3 2 3 0", "ptz KVR-1/3 2 4 0", "ptz KVR-1/3 4 4 0"}));
}

TEST_F(MediaControlsTest, PresetRecalledTwiceIsSentBothTimesEachAfterAStop) {
  streaming(0);
  call("CliPTZRecallPreset", {Variant::i4(0), Variant::i4(3)});
  call("CliPTZRecallPreset", {Variant::i4(0), Variant::i4(3)});
  call("CliPTZSetPreset", {Variant::i4(0), Variant::i4(4)});
  call("CliPTZDeletePreset", {Variant::i4(0), Variant::i4(4)});
  EXPECT_EQ(Recorder::taken(), (Calls{"ptz KVR-1/0 -1 0 1", "ptz KVR-1/0 10 3 0", "ptz KVR-1/0 10 0 1",
                                      "ptz KVR-1/0 10 3 0", "ptz KVR-1/0 10 0 1", "ptz KVR-1/0 11 4 0",
                                      "ptz KVR-1/0 11 0 1", "ptz KVR-1/0 12 4 0"}));
}

TEST_F(MediaControlsTest, PtzForPanesWithoutCameraOrOutOfRangeSendsNothing) {
  streaming(1, "KVR-1", 0, false);
  call("CliPTZMoveUp", {Variant::i4(1), Variant::i4(5)});
  call("CliPTZStop", {Variant::i4(1)});
  call("CliPTZMoveUp", {Variant::i4(16), Variant::i4(5)});
  call("CliPTZStop", {Variant::i4(-1)});
  call("CliPTZRecallPreset", {Variant::i4(7), Variant::i4(1)});
  EXPECT_TRUE(Recorder::taken().empty());
  EXPECT_EQ(call_long("CLiPTZCtrl", {Variant::i4(1), Variant::i4(0), Variant::i4(0), Variant::i4(0), Variant::i4(5)}),
            0);
  EXPECT_TRUE(Recorder::taken().empty());
}

TEST_F(MediaControlsTest, FisheyeWallThenCeilingFromThePaneMenu) {
  streaming(0, "FISH", 0);
  command(0, kavrel::ui::kCmdFisheyeCeiling);  // "Teto"
  EXPECT_EQ(Recorder::taken(), (Calls{"mount FISH/0 1"}));
  command(0, kavrel::ui::kCmdFisheyeWall);  // "Parede"
  EXPECT_EQ(Recorder::taken(), (Calls{"mount FISH/0 2", "view FISH/0 8"}));
  command(0, kavrel::ui::kCmdFisheyeCeiling);
  EXPECT_EQ(Recorder::taken(), (Calls{"mount FISH/0 1", "view FISH/0 7"}));
  command(0, kavrel::ui::kCmdFisheyeCeiling);  // unchanged: nothing
  EXPECT_TRUE(Recorder::taken().empty());
  int32_t mount = 0, view = 0;
  on_ui([&](CkavrelCtrl& c) {
    mount = c.pane_mount_mode(0);
    view = c.pane_visualization(0);
  });
  EXPECT_EQ(mount, 1);
  EXPECT_EQ(view, 7);
}

TEST_F(MediaControlsTest, FisheyeWallLayoutOnACeilingPaneSwitchesTheMountFirst) {
  streaming(4, "FISH", 0);
  command(4, kavrel::ui::kCmdFisheyeCeiling);
  Recorder::taken();
  command(4, kavrel::ui::kCmdFisheyeWallPanorama);  // "Layout para parede" > "Panorama"
  EXPECT_EQ(Recorder::taken(), (Calls{"mount FISH/0 2", "view FISH/0 3"}));
  command(4, kavrel::ui::kCmdFisheyeOriginal);  // a ceiling layout on a wall pane
  EXPECT_EQ(Recorder::taken(), (Calls{"mount FISH/0 1", "view FISH/0 2"}));
  command(4, 218);
  EXPECT_EQ(Recorder::taken(), (Calls{"view FISH/0 15"}));
}

TEST_F(MediaControlsTest, FisheyeCommandsForAPaneThatDoesNotStreamDoNothing) {
  command(5, kavrel::ui::kCmdFisheyeWall);
  command(5, kavrel::ui::kCmdFisheyeWallPanorama);
  EXPECT_TRUE(Recorder::taken().empty());
}

TEST_F(MediaControlsTest, AudioStateFollowsTheOpenAndIsZeroOnceThePaneStops) {
  EXPECT_EQ(call_long("CliGetAudioState", {Variant::i4(3)}), 0);
  EXPECT_EQ(call_long("CliGetAudioState", {Variant::i4(16)}), -1);
  EXPECT_EQ(call_long("CliSetAudioState", {Variant::i4(16), Variant::i4(1)}), -1);
  EXPECT_EQ(call_long("CliSetAudioState", {Variant::i4(3), Variant::i4(1)}), 0);
  EXPECT_TRUE(Recorder::taken().empty()) << "a pane that does not stream opens no sound";

  streaming(3, "KVR-1", 1);
  streaming(6, "KVR-2", 0);
  EXPECT_EQ(call_long("CliSetAudioState", {Variant::i4(3), Variant::i4(1)}), 0);
  EXPECT_EQ(call_long("CliGetAudioState", {Variant::i4(3)}), 1);
  EXPECT_EQ(call_long("CliSetVolume", {Variant::i4(3), Variant::i4(70)}), 0);
  EXPECT_EQ(call_long("CliGetVolume", {Variant::i4(3)}), 0);
  // The library plays one stream's sound: opening another pane's closes this one's.
  EXPECT_EQ(call_long("CliSetAudioState", {Variant::i4(6), Variant::i4(1)}), 0);
  EXPECT_EQ(call_long("CliGetAudioState", {Variant::i4(3)}), 0);
  EXPECT_EQ(call_long("CliGetAudioState", {Variant::i4(6)}), 1);
  EXPECT_EQ(Recorder::taken(), (Calls{"open_sound KVR-1/1", "setvolume KVR-1/1 70", "open_sound KVR-2/0"}));

  call("CliStopPlayDev", {Variant::i4(6)});
  EXPECT_EQ(call_long("CliGetAudioState", {Variant::i4(6)}), 0);
  EXPECT_EQ(Recorder::taken(), (Calls{"close_sound KVR-2/0"}));

  Recorder::open_sound_result = -1;
  EXPECT_EQ(call_long("CliSetAudioState", {Variant::i4(3), Variant::i4(1)}), 0);
  EXPECT_EQ(call_long("CliGetAudioState", {Variant::i4(3)}), 0) << "a failed open leaves the sound off";
}

TEST_F(MediaControlsTest, CacheFileNameOfAPane) {
  EXPECT_EQ(call_text("CliCapturePicToInternetCache", {Variant::i4(16)}), "");
  EXPECT_EQ(call_text("CliCapturePicToInternetCache", {Variant::i4(2)}), cache_folder());
  streaming(2, "KVR-9", 0);
  std::string name = call_text("CliCapturePicToInternetCache", {Variant::i4(2)});
  ASSERT_EQ(name.rfind(cache_folder() + "KVR-9_", 0), 0u) << name;
  EXPECT_EQ(name.size(), cache_folder().size() + std::string("KVR-9_2026-12-10_12-00-00.bmp").size()) << name;
  EXPECT_TRUE(cache_files().empty()) << "it captures nothing";
  // A device identifier that would leave the folder gives the folder alone.
  streaming(3, "../../etc/x", 0);
  EXPECT_EQ(call_text("CliCapturePicToInternetCache", {Variant::i4(3)}), cache_folder());
}

TEST_F(MediaControlsTest, SnapshotOfAnIdlePaneOnlyTellsThePage) {
  command(1, kavrel::ui::kCmdSnapshot);
  EXPECT_EQ(snapshot_events(1), 1u);
  EXPECT_EQ(count_calls("save_dialog"), 0u);
  EXPECT_TRUE(cache_files().empty());
  EXPECT_TRUE(Recorder::taken().empty());
}

TEST_F(MediaControlsTest, SnapshotThatTheLibraryCannotTakeAsksNothingAndLeavesNoFile) {
  streaming(0);
  Recorder::snapshot_width = 0;
  command(0, kavrel::ui::kCmdSnapshot);
  EXPECT_EQ(Recorder::taken(), (Calls{"save_picture KVR-1/0"}));
  EXPECT_EQ(count_calls("save_dialog"), 0u);
  EXPECT_EQ(snapshot_events(0), 1u);
  EXPECT_TRUE(cache_files().empty());
}

TEST_F(MediaControlsTest, SnapshotExtensionChoosesTheFormatExactly) {
  streaming(0);
  struct Case {
    const char* name;
    int width, height;
    const char* magic;
  } cases[] = {
      {"shot.PNG", 704, 576, "\x89PNG"}, {"shot.png", 704, 576, "\x89PNG"}, {"shot.Png", 352, 288, "BM"},
      {"shot.jpg", 704, 576, "\xFF\xD8"}, {"shot.JPG", 704, 576, "\xFF\xD8"}, {"shot.Jpg", 352, 288, "BM"},
      {"shot.bmp", 352, 288, "BM"},
  };
  size_t events = 0;
  for (const Case& c : cases) {
    const std::string chosen = cache_home_ + "/chosen/" + c.name;
    site_->answer_save({true, true, chosen, 1});
    command(0, kavrel::ui::kCmdSnapshot);
    EXPECT_EQ(snapshot_events(0), ++events);
    ASSERT_TRUE(fs::exists(chosen)) << c.name;
    std::FILE* f = std::fopen(chosen.c_str(), "rb");
    char head[4] = {};
    ASSERT_EQ(std::fread(head, 1, 4, f), 4u);
    std::fclose(f);
    EXPECT_EQ(std::string(head, std::string(c.magic).size()), c.magic) << c.name;
    int w = 0, h = 0, n = 0;
    stbi_uc* px = stbi_load(chosen.c_str(), &w, &h, &n, 0);
    ASSERT_NE(px, nullptr) << c.name;
    stbi_image_free(px);
    EXPECT_EQ(w, c.width) << c.name;
    EXPECT_EQ(h, c.height) << c.name;
    EXPECT_TRUE(cache_files().empty()) << c.name << ": the temporary files are deleted";
  }
  size_t sounds = 0;
  for (const auto& c : site_->calls()) sounds += c.kind == "sound" && c.text == "301" ? 1 : 0;
  EXPECT_EQ(sounds, std::size(cases));
}

TEST_F(MediaControlsTest, CancelledSnapshotSavesNothingAndDeletesTheTemporaryBitmap) {
  streaming(0);
  command(0, kavrel::ui::kCmdSnapshot);  // the scripted site cancels
  EXPECT_EQ(count_calls("save_dialog"), 1u);
  EXPECT_TRUE(cache_files().empty());
  EXPECT_TRUE(fs::is_empty(cache_home_ + "/chosen"));
}

TEST_F(MediaControlsTest, RecordButtonStartsAndStopsAndSavesAndClosingThePaneStopsWithoutSaving) {
  command(2, kavrel::ui::kCmdRecord);  // idle pane: nothing
  EXPECT_TRUE(Recorder::taken().empty());

  streaming(2, "KVR-5", 1);
  command(2, kavrel::ui::kCmdRecord);
  Calls calls = Recorder::taken();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].rfind("start_recording KVR-5/1 KVR-5_Cam2_", 0), 0u) << calls[0];
  EXPECT_EQ(calls[0].substr(calls[0].size() - 4), ".dav");
  EXPECT_TRUE(pane_recording(2));
  command(2, kavrel::ui::kCmdRecord);
  EXPECT_EQ(Recorder::taken(), (Calls{"stop_recording KVR-5/1"}));
  EXPECT_FALSE(pane_recording(2));
  // The stopped recording goes to the save procedure (the scripted site cancels its dialog).
  EXPECT_EQ(count_calls("save_dialog"), 1u);

  command(2, kavrel::ui::kCmdRecord);
  Recorder::taken();
  command(2, kavrel::ui::kCmdClose);
  calls = Recorder::taken();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0], "stop_recording KVR-5/1");
  EXPECT_FALSE(pane_recording(2));
  EXPECT_EQ(count_calls("save_dialog"), 1u) << "closing the pane saves nothing";
  size_t record_sounds = 0;
  for (const auto& c : site_->calls()) record_sounds += c.kind == "sound" && c.text == "302" ? 1 : 0;
  EXPECT_EQ(record_sounds, 4u);
}

TEST_F(MediaControlsTest, RecordingRefusedForADeviceIdentifierThatNamesAnotherFolder) {
  streaming(1, "../up", 0);
  command(1, kavrel::ui::kCmdRecord);
  EXPECT_TRUE(Recorder::taken().empty());
  EXPECT_FALSE(pane_recording(1));
}

}  // namespace
