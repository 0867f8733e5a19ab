// Recorded video as a page drives it: record searches, playback in the playback pane and video
// export, with the control signed in to the simulated cloud and logged in to the simulated device
// through the simulated tunnel service. The library's recording exports are stood in for by a
// table of fakes, so each test decides what the library answers and sees what the control asks.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/control_host.h"
#include "kavrel/core/callback_names.h"
#include "kavrel/media/recording_calls.h"
#include "kavrel/media/stream_converter.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "kavrel/testing/control_world.h"
#include "kavrel/ui/testing/ui_fixture.h"
#include "kavrel/ui/ui_messages.h"
#include "kavrel/ui/video_wnd.h"
#include "platform/testing/debug_capture.h"
#include "platform/window/testing/scripted_site.h"
#include "trace/trace.h"

namespace {

using namespace std::chrono_literals;
using com::Variant;
using kavrel::CkavrelCtrl;
using kavrel::testing::eventually;
namespace fs = std::filesystem;

constexpr com::DISPID kCallBackMsg = 32;
constexpr int32_t kAny = -999;

const char* kFixture = R"({
  "applications": [ { "app_key": "page-app-key", "app_pass": "page-app-pass" } ],
  "accounts": [ {
    "user": "alice", "password": "alice-pw", "devs_sn": 10, "cams_sn": 20,
    "devices": [
      { "dev_id": "KVR-GOOD", "dev_user": "admin", "dev_pass": "good-pw", "name": "Loja", "channel_count": 2,
        "dev_port": GOOD_PORT, "dev_http_port": 80 },
      { "dev_id": "KVR-DOWN", "dev_user": "admin", "dev_pass": "down-pw", "name": "Deposito", "channel_count": 1,
        "dev_port": 37777, "dev_http_port": 80, "online": false }
    ],
    "cameras": { "cams": [ { "id": "KVR-GOOD_000", "devid": "KVR-GOOD", "chlid": 0 },
                           { "id": "KVR-GOOD_001", "devid": "KVR-GOOD", "chlid": 1 },
                           { "id": "KVR-DOWN_000", "devid": "KVR-DOWN", "chlid": 0 } ] }
  } ]
})";

// The library's recording exports as the tests script them. The control calls them from its
// user-interface thread and its workers; everything is guarded by `lock`.
struct FakeLibrary {
  static inline std::mutex lock;
  static inline std::vector<std::string> calls;
  static inline int32_t next_playback = 101;
  static inline int32_t backup_result = 7;
  static inline int32_t query_result = 0;
  static inline int32_t skip_result = 201;
  static inline int32_t backup_seconds = 0;
  static inline std::string backup_file;
  static inline std::string backup_start;
  static inline std::string query_times;

  static void reset() {
    std::lock_guard<std::mutex> hold(lock);
    calls.clear();
    next_playback = 101;
    backup_result = 7;
    query_result = 0;
    skip_result = 201;
    backup_seconds = 0;
    backup_file.clear();
    backup_start.clear();
    query_times.clear();
  }
  static void note(const std::string& call) {
    std::lock_guard<std::mutex> hold(lock);
    calls.push_back(call);
  }
  static size_t count(const std::string& prefix) {
    std::lock_guard<std::mutex> hold(lock);
    size_t n = 0;
    for (const auto& c : calls) n += c.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }
  static int32_t start_playback(brixa_handle, void* hwnd, const char* dev, int32_t chl, const char* start) {
    note(std::string("start_playback ") + dev + " " + std::to_string(chl) + " " + start +
         (hwnd != nullptr ? " window" : " no-window"));
    std::lock_guard<std::mutex> hold(lock);
    return next_playback++;
  }
  static int32_t stop_playback(int32_t id) {
    note("stop_playback " + std::to_string(id));
    return 0;
  }
  static int32_t control_playback(int32_t id, uint32_t cmd) {
    note("control_playback " + std::to_string(id) + " " + std::to_string(cmd));
    std::lock_guard<std::mutex> hold(lock);
    return cmd >= 4 && cmd <= 5 ? skip_result : 0;
  }
  static int32_t start_backup(brixa_handle, int32_t, const char* dev, int32_t chl, const char* start, int32_t secs,
                              const char* file) {
    note(std::string("start_backup ") + dev + " " + std::to_string(chl));
    std::lock_guard<std::mutex> hold(lock);
    backup_seconds = secs;
    backup_file = file;
    backup_start = start;
    // The library refuses an export without a start time when no playback gives one.
    if (*start == 0 && backup_result > 0) return -11;
    if (backup_result > 0) std::ofstream(file, std::ios::binary) << "DAV exported bytes";
    return backup_result;
  }
  static int32_t stop_backup() {
    note("stop_backup");
    return 0;
  }
  static int32_t query_files(brixa_handle, const char* dev, int32_t chl, const char* s, const char* e) {
    note(std::string("query_files ") + dev + " " + std::to_string(chl) + " " + s + " " + e);
    std::lock_guard<std::mutex> hold(lock);
    return query_result;
  }
  static int32_t query_status(brixa_handle, const char* dev, int32_t chl, const char* month) {
    note(std::string("query_status ") + dev + " " + std::to_string(chl) + " " + month);
    std::lock_guard<std::mutex> hold(lock);
    return query_result;
  }
  static constexpr kavrel::RecordingCalls table = {start_playback, stop_playback, control_playback, start_backup,
                                                   stop_backup,    query_files,   query_status};
};

// A converter that writes "MP4:" before the bytes it was given.
struct FakeConverter {
  static inline std::string destination;
  static inline std::string received;
  static int32_t init() { return 1; }
  static int32_t open(int32_t, const char* path, int32_t bytes, void** handle) {
    destination.assign(path, static_cast<size_t>(bytes));
    received.clear();
    *handle = &destination;
    return 0;
  }
  static void input(void*, const uint8_t* data, int32_t size) {
    received.append(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
  }
  static void close(void*) { std::ofstream(destination, std::ios::binary) << "MP4:" << received; }
  static void release(void*) {}
  static int32_t cleanup() { return 1; }
  static constexpr kavrel::StreamConverterCalls table = {init, open, input, close, release, cleanup};
};

struct Seen {
  int32_t id, tag1, tag2;
  std::string info;
  int32_t info_len;
};

class RecordedVideoTest : public kavrel::testing::ControlWorldTest {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kavrel-recorded-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home_ = pattern;
    ::setenv("XDG_CACHE_HOME", home_.c_str(), 1);
    fs::create_directories(home_ + "/browser-cache");
    fs::create_directories(home_ + "/downloads");
    FakeLibrary::reset();
    kavrel::set_recording_calls(&FakeLibrary::table);
    kavrel::set_stream_converter_calls(&FakeConverter::table);
    kavrel::ui::set_picture_mode_calls(&kavrel::ui::testing::PictureModeRecorder::table);
    site_ = std::make_shared<platform::testing::ScriptedSite>();
    site_->set_cache_folder(home_ + "/browser-cache");
    platform::set_host_site(site_);
    trace::force_verbose_for_testing(true);

    ASSERT_NO_FATAL_FAILURE(start_control(kavrel::testing::with_good_port(kFixture, kavrel::testing::free_port())));
  }
  void TearDown() override {
    stop_control();
    trace::force_verbose_for_testing(false);
    platform::set_host_site(nullptr);
    kavrel::ui::set_picture_mode_calls(nullptr);
    kavrel::set_stream_converter_calls(nullptr);
    kavrel::set_recording_calls(nullptr);
    fs::remove_all(home_);
  }

  void call(const char* method, std::vector<Variant> args, Variant* result = nullptr) {
    ASSERT_EQ(host_->call(method, std::move(args), result), com::S_OK) << method;
  }
  int32_t start_backup(const char16_t* cam, const char16_t* start, int32_t secs) {
    Variant result;
    call("CliStartBackup", {Variant::string(cam), Variant::string(start), Variant::i4(secs)}, &result);
    return result.lval;
  }
  void start_playback(const char16_t* cam, const char16_t* start) {
    call("CliStartPlaybackDev", {Variant::string(cam), Variant::string(start), Variant::i4(0)});
  }
  // Waits until the playback runs under a handle.
  bool playing() {
    return eventually([&] { return control_->playback_handle() > 0; }, 30s);
  }
  // A library callback, delivered as the library's callback thread delivers it.
  void library_callback(int32_t id, int32_t tag1, int32_t tag2, const std::string& info) {
    CkavrelCtrl::connectorcallback(reinterpret_cast<intptr_t>(control_), control_->client(), id, tag1, tag2,
                                   info.empty() ? nullptr : info.c_str(), static_cast<int32_t>(info.size()));
  }

  static Seen seen(const host::ScriptEvent& e) {
    return {e.arg_long(2), e.arg_long(3), e.arg_long(4), e.arg_is_null(5) ? "" : e.arg_text(5),
            e.arg_long(6)};
  }
  std::vector<Seen> callbacks(int32_t id) {
    std::vector<Seen> out;
    for (const auto& e : host_->events()) {
      if (e.id == kCallBackMsg && seen(e).id == id) out.push_back(seen(e));
    }
    return out;
  }
  std::optional<Seen> wait_event(int32_t id, int32_t tag1, int32_t tag2, std::chrono::milliseconds limit = 15s) {
    auto e = host_->wait_for_event(
        [&](const host::ScriptEvent& event) {
          if (event.id != kCallBackMsg) return false;
          Seen s = seen(event);
          return s.id == id && (tag1 == kAny || s.tag1 == tag1) && (tag2 == kAny || s.tag2 == tag2);
        },
        limit);
    if (!e) return std::nullopt;
    return seen(*e);
  }
  bool wait_for(int32_t id, int32_t tag1, int32_t tag2, const std::string& info, std::chrono::milliseconds limit) {
    auto s = wait_event(id, tag1, tag2, limit);
    return s && (info.empty() || s->info == info);
  }
  size_t message_boxes() const {
    size_t n = 0;
    for (const auto& c : site_->calls()) n += c.kind == "message_box" ? 1 : 0;
    return n;
  }

  std::string home_;
  std::shared_ptr<platform::testing::ScriptedSite> site_;
};

// ---- progress ----

TEST(ExportProgress, PercentOfTheDownloadedPart) {
  struct Case {
    int32_t total, done, percent;
  };
  const Case cases[] = {
      {1000, 250, 25}, {20, 5, 25},   {1000, -1, 100}, {0, 0, 100},     {20, 20, 100},    {20, 30, 100},
      {20, -2, 0},     {0, -3, 0},    {-5, -7, 0},     {-5, 3, 100},    {1000, 0, 0},     {1000, 999, 99},
      {2000000000, 1999999999, 99},  // no overflow on the way
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kavrel::export_progress_percent(c.total, c.done), c.percent) << c.total << " " << c.done;
  }
}

TEST_F(RecordedVideoTest, ProgressReachesThePlaybackPanesIndicator) {
  library_callback(BRIXA_CB_CALLBACK_BACKUP_PROGRESS, 1000, 250, "");
  EXPECT_TRUE(ui_eventually([](CkavrelCtrl& c) { return c.playback_pane()->panel().progress().percent() == 25; }));
  library_callback(BRIXA_CB_CALLBACK_BACKUP_PROGRESS, 1000, -1, "");
  EXPECT_TRUE(ui_eventually([](CkavrelCtrl& c) { return c.playback_pane()->panel().progress().percent() == 100; }));
}

// ---- record searches ----

TEST_F(RecordedVideoTest, SearchAnswersReachThePageWithTheLibrarysTextUnchanged) {
  bring_online(3);
  call("CliQueryRecordDev", {Variant::string(u"KVR-GOOD_001"), Variant::string(u"20261210000000"),
                             Variant::string(u"20261210235959")});
  ASSERT_TRUE(eventually([] { return FakeLibrary::count("query_files KVR-GOOD 1 20261210000000 20261210235959") == 1; },
                         30s));
  const std::string page = R"({"files":[{"start":"20261210010000","end":"20261210011000"}],"ünicode":"ç"})";
  library_callback(BRIXA_CB_CALLBACK_QUERY_RECORD, 1, 1, page);
  auto answer = wait_event(kavrel::kEventRecordQuery, 1, 1);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->info, page);
  EXPECT_EQ(answer->info_len, static_cast<int32_t>(page.size()));

  call("CliQueryRecordStatusDev", {Variant::string(u"KVR-GOOD_000"), Variant::string(u"202612")});
  ASSERT_TRUE(eventually([] { return FakeLibrary::count("query_status KVR-GOOD 0 202612") == 1; }, 30s));
  library_callback(BRIXA_CB_CALLBACK_QUERY_RECORD_STATUS, 0, 0, R"({"flag":[1,0,1]})");
  auto month = wait_event(kavrel::kEventRecordQueryStatus, 0, 0);
  ASSERT_TRUE(month);
  EXPECT_EQ(month->info, R"({"flag":[1,0,1]})");
}

TEST_F(RecordedVideoTest, ASearchTheLibraryRefusesAnswersWithItsResultAndTheCamera) {
  bring_online(3);
  FakeLibrary::query_result = -3;
  call("CliQueryRecordDev", {Variant::string(u"KVR-GOOD_000"), Variant::string(u"20261210000000"),
                             Variant::string(u"20261210235959")});
  auto refused = wait_event(kavrel::kEventRecordQuery, 0, -3, 30s);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->info, "KVR-GOOD_000");
  EXPECT_EQ(refused->info_len, 12);
  FakeLibrary::query_result = -5;
  call("CliQueryRecordStatusDev", {Variant::string(u"KVR-GOOD_000"), Variant::string(u"202612")});
  auto month = wait_event(kavrel::kEventRecordQueryStatus, 0, -5, 30s);
  ASSERT_TRUE(month);
  EXPECT_EQ(month->info, "KVR-GOOD_000");
}

TEST_F(RecordedVideoTest, ASearchOnAnOfflineDeviceOrAnUnknownCameraRaisesNothing) {
  bring_online(3);
  call("CliQueryRecordDev", {Variant::string(u"KVR-DOWN_000"), Variant::string(u"20261210000000"),
                             Variant::string(u"20261210235959")});
  call("CliQueryRecordDev", {Variant::string(u"KVR-NONE_000"), Variant::string(u"20261210000000"),
                             Variant::string(u"20261210235959")});
  // The offline device's login fails once its tunnel has had its time; the worker ends without
  // a search event.
  ASSERT_TRUE(wait_for(kavrel::kEventLogin, 0, kAny, "KVR-DOWN", 60s));
  std::this_thread::sleep_for(200ms);  // let a wrongly queued event reach the page
  EXPECT_TRUE(callbacks(kavrel::kEventRecordQuery).empty());
  EXPECT_EQ(FakeLibrary::count("query_files"), 0u);
}

// ---- playback ----

TEST_F(RecordedVideoTest, APlaybackStartsInThePlaybackPaneWithItsTitle) {
  bring_online(3);
  start_playback(u"KVR-GOOD_001", u"20261210083000");
  ASSERT_TRUE(playing());
  EXPECT_EQ(FakeLibrary::count("start_playback KVR-GOOD 1 20261210083000 window"), 1u);
  ASSERT_TRUE(ui_eventually([](CkavrelCtrl& c) { return !c.playback_pane()->panel().info_tool().info().empty(); }));
  on_ui([](CkavrelCtrl& c) {
    EXPECT_EQ(kavrel::to_narrow(c.playback_pane()->panel().info_tool().info()), "Loja : 2");
    EXPECT_EQ(c.current_camera()->id, "KVR-GOOD_001");
  });

  // The stop ends it, forgets the camera and switches the pane's picture modes off.
  kavrel::ui::testing::PictureModeRecorder::taken();
  call("CliStopPlaybackDev", {Variant::i4(0)});
  EXPECT_EQ(FakeLibrary::count("stop_playback 101"), 1u);
  EXPECT_EQ(control_->playback_handle(), 0);
  EXPECT_EQ(control_->current_camera(), nullptr);
  EXPECT_EQ(control_->cameras().find("KVR-GOOD_001")->camStartMode.load(), 0);
  auto modes = kavrel::ui::testing::PictureModeRecorder::taken();
  ASSERT_EQ(modes.size(), 3u);
  platform::HWND render = nullptr;
  on_ui([&](CkavrelCtrl& c) { render = c.playback_pane()->render_window(); });
  const char* order[] = {"wdr", "history", "freeze"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(modes[i].what, order[i]);
    EXPECT_EQ(modes[i].window, render);
    EXPECT_EQ(modes[i].value, 0);
  }
  EXPECT_EQ(modes[2].corner, 1);
}

TEST_F(RecordedVideoTest, ASecondStartWhilePlayingOnlyUpdatesTheNamedCamera) {
  bring_online(3);
  start_playback(u"KVR-GOOD_000", u"20261210083000");
  ASSERT_TRUE(playing());
  platform::testing::DebugCapture capture;
  call("CliStartPlaybackDev", {Variant::string(u"KVR-GOOD_001"), Variant::string(u"20261210090000"), Variant::i4(3)});
  EXPECT_TRUE(capture.mentions("Existing play handle (4548)"));
  auto second = control_->cameras().find("KVR-GOOD_001");
  EXPECT_EQ(second->camPane.load(), 3);
  EXPECT_EQ(second->camStartMode.load(), 2);
  EXPECT_EQ(second->text(&kavrel::CamInfo::playbackStartTime), "20261210090000");
  EXPECT_EQ(control_->current_camera()->id, "KVR-GOOD_000");
  EXPECT_EQ(control_->playback_handle(), 101);
  std::this_thread::sleep_for(200ms);  // a wrongly started worker would call the library now
  EXPECT_EQ(FakeLibrary::count("start_playback"), 1u);
}

TEST_F(RecordedVideoTest, SkipsReplaceTheHandleAndOtherCommandsKeepIt) {
  bring_online(3);
  start_playback(u"KVR-GOOD_000", u"20261210083000");
  ASSERT_TRUE(playing());
  call("CliControlPlaybackDev", {Variant::i4(0), Variant::i4(2)});
  EXPECT_EQ(FakeLibrary::count("control_playback 101 2"), 1u);
  EXPECT_EQ(control_->playback_handle(), 101);
  call("CliControlPlaybackDev", {Variant::i4(0), Variant::i4(5)});
  ASSERT_TRUE(eventually([&] { return control_->playback_handle() == 201; }, 15s));
  EXPECT_EQ(FakeLibrary::count("control_playback 101 5"), 1u);
  // A failed skip keeps the old handle.
  FakeLibrary::skip_result = 0;
  call("CliControlPlaybackDev", {Variant::i4(0), Variant::i4(4)});
  ASSERT_TRUE(eventually([&] { return FakeLibrary::count("control_playback 201 4") == 1; }, 15s));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(control_->playback_handle(), 201);
}

TEST_F(RecordedVideoTest, LeavingThePlaybackPageStopsThePlayback) {
  bring_online(3);
  call("CliChangePageTo", {Variant::i4(1)});
  start_playback(u"KVR-GOOD_000", u"20261210083000");
  ASSERT_TRUE(playing());
  call("CliChangePageTo", {Variant::i4(0)});
  EXPECT_EQ(FakeLibrary::count("stop_playback 101"), 1u);
  EXPECT_EQ(control_->playback_handle(), 0);
}

// ---- export ----

TEST_F(RecordedVideoTest, AnExportOfNoLengthTakesSixtySecondsIntoTheCacheFolder) {
  bring_online(3);
  for (int32_t secs : {0, -5}) {
    SCOPED_TRACE(secs);
    ASSERT_EQ(start_backup(u"KVR-GOOD_000", u"20261210083000", secs), 0);
    EXPECT_EQ(FakeLibrary::backup_seconds, 60);
    EXPECT_EQ(FakeLibrary::backup_start, "20261210083000");
    std::string name = fs::path(FakeLibrary::backup_file).filename().string();
    EXPECT_EQ(fs::path(FakeLibrary::backup_file).parent_path(), fs::path(home_ + "/browser-cache"));
    EXPECT_EQ(name.rfind("Temp_", 0), 0u);
    EXPECT_EQ(name.size(), std::string("Temp_2026-12-10_12-00-00.dav").size());
    auto started = wait_event(kavrel::kEventExportStarted, kAny, 0);
    ASSERT_TRUE(started);
    EXPECT_EQ(started->info, "KVR-GOOD_000");
    EXPECT_EQ(started->info_len, 240);
    EXPECT_TRUE(control_->isBackupRunning());
    ASSERT_TRUE(ui_eventually([](CkavrelCtrl& c) {
      return c.playback_pane()->panel().progress_visible() && c.playback_pane()->panel().tool().flags().exporting;
    }));
    call("CliStopBackup", {});
    EXPECT_FALSE(control_->isBackupRunning());
    ASSERT_TRUE(ui_eventually([](CkavrelCtrl& c) {
      return !c.playback_pane()->panel().progress_visible() && !c.playback_pane()->panel().tool().flags().exporting;
    }));
    host_->clear_events();
  }
  EXPECT_EQ(FakeLibrary::count("stop_backup"), 2u);
}

TEST_F(RecordedVideoTest, VideoFileNamesLieInTheCacheFolder) {
  on_ui([&](CkavrelCtrl& c) {
    EXPECT_EQ(c.GetVideoFileName(16), "");
    EXPECT_EQ(c.GetVideoFileName(-1), "");
    EXPECT_EQ(c.GetVideoFileName(0), home_ + "/browser-cache/") << "a pane that does not stream gives the folder";
    std::string temp = c.GetTempVideoFileName();
    EXPECT_EQ(temp.rfind(home_ + "/browser-cache/Temp_", 0), 0u) << temp;
  });
  // Without a cache folder the bare name is used.
  platform::set_host_site(nullptr);
  on_ui([&](CkavrelCtrl& c) { EXPECT_EQ(c.GetTempVideoFileName().rfind("Temp_", 0), 0u); });
}

TEST_F(RecordedVideoTest, StartResultsForBadArgumentsAndARefusal) {
  bring_online(3);
  EXPECT_EQ(start_backup(u"", u"20261210083000", 10), -1);
  EXPECT_EQ(start_backup(u"KVR-NONE_000", u"20261210083000", 10), -6);
  // Without a start time and without a playback the library refuses.
  EXPECT_EQ(start_backup(u"KVR-GOOD_000", u"", 10), -3);
  auto refused = wait_event(kavrel::kEventExportStarted, kAny, -1);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->info, "KVR-GOOD_000");
  EXPECT_FALSE(control_->isBackupRunning());
  ASSERT_TRUE(ui_eventually([](CkavrelCtrl& c) {
    return !c.playback_pane()->panel().progress_visible() && !c.playback_pane()->panel().tool().flags().exporting;
  }));
}

TEST_F(RecordedVideoTest, WhileAnExportRunsPlaybackCanNeitherStartNorStop) {
  bring_online(3);
  start_playback(u"KVR-GOOD_000", u"20261210083000");
  ASSERT_TRUE(playing());
  ASSERT_EQ(start_backup(u"KVR-GOOD_001", u"20261210083000", 30), 0);

  call("CliStartPlaybackDev", {Variant::string(u"KVR-GOOD_000"), Variant::string(u"20261210090000"), Variant::i4(0)});
  ASSERT_EQ(message_boxes(), 1u);
  auto box = site_->calls().back();
  EXPECT_EQ(box.text, "Aguarde a conclusão da exportação de vídeo para poder iniciar uma reprodução");
  EXPECT_EQ(box.caption, "Quenlar Cloud");
  EXPECT_EQ(box.type, platform::MB_OK);
  EXPECT_EQ(control_->cameras().find("KVR-GOOD_000")->text(&kavrel::CamInfo::playbackStartTime), "20261210083000")
      << "the refused start changed the camera";

  call("CliStopPlaybackDev", {Variant::i4(0)});
  EXPECT_EQ(control_->playback_handle(), 101) << "the playback keeps running";
  EXPECT_EQ(FakeLibrary::count("stop_playback"), 0u);
  EXPECT_EQ(FakeLibrary::count("start_playback"), 1u);
  EXPECT_EQ(message_boxes(), 1u);
}

// Completion: the export stops, the user picks a name, and the chosen spelling decides the
// format; the temporary files are gone afterwards.
TEST_F(RecordedVideoTest, ACompletedExportIsSavedUnderTheChosenName) {
  bring_online(3);
  struct Case {
    const char* name;
    std::string content;
  };
  const Case cases[] = {{"clip.MP4", "MP4:DAV exported bytes"}, {"clip.Mp4", "DAV exported bytes"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(start_backup(u"KVR-GOOD_000", u"20261210083000", 10), 0);
    platform::SaveDialogResult chosen;
    chosen.chosen = true;
    chosen.path = home_ + "/downloads/" + c.name;
    site_->answer_save(chosen);
    library_callback(BRIXA_CB_CALLBACK_BACKUP_PROGRESS, 100, -1, "");
    library_callback(BRIXA_CB_CALLBACK_BACKUP_COMPLETED, 0, 0, "");
    std::ifstream saved(chosen.path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), c.content);
    EXPECT_TRUE(fs::is_empty(home_ + "/browser-cache")) << "temporary files are left";
    EXPECT_FALSE(control_->isBackupRunning());
  }
  EXPECT_EQ(FakeLibrary::count("stop_backup"), 2u);
}

TEST_F(RecordedVideoTest, ACancelledSaveDeletesTheExportAndSavesNothing) {
  bring_online(3);
  ASSERT_EQ(start_backup(u"KVR-GOOD_000", u"20261210083000", 10), 0);
  std::string temp = FakeLibrary::backup_file;
  ASSERT_TRUE(fs::exists(temp));
  library_callback(BRIXA_CB_CALLBACK_BACKUP_COMPLETED, 0, 0, "");
  EXPECT_FALSE(fs::exists(temp));
  EXPECT_TRUE(fs::is_empty(home_ + "/downloads"));
}

// The save dialog of a completed export is open on the library's callback thread, which holds
// the callback lock; the control's shutdown ends the dialog instead of waiting for the user.
TEST_F(RecordedVideoTest, ShutdownEndsASaveDialogLeftOpen) {
  struct WaitingSite : platform::testing::ScriptedSite {
    platform::SaveDialogResult save_file_dialog(platform::HWND, const platform::SaveDialogRequest&) override {
      std::unique_lock<std::mutex> hold(lock);
      opened = true;
      changed.notify_all();
      changed.wait_for(hold, 120s, [&] { return cancelled; });
      return {};
    }
    void cancel_dialogs() override {
      std::lock_guard<std::mutex> hold(lock);
      cancelled = true;
      changed.notify_all();
    }
    std::mutex lock;
    std::condition_variable changed;
    bool opened = false;
    bool cancelled = false;
  };
  auto site = std::make_shared<WaitingSite>();
  site->set_cache_folder(home_ + "/browser-cache");
  platform::set_host_site(site);
  bring_online(3);
  ASSERT_EQ(start_backup(u"KVR-GOOD_000", u"20261210083000", 10), 0);
  std::string temp = FakeLibrary::backup_file;
  auto completion = std::async(std::launch::async, [&] { library_callback(BRIXA_CB_CALLBACK_BACKUP_COMPLETED, 0, 0, ""); });
  {
    std::unique_lock<std::mutex> hold(site->lock);
    ASSERT_TRUE(site->changed.wait_for(hold, 15s, [&] { return site->opened; }));
  }
  call("CliUnInit", {});
  ASSERT_EQ(completion.wait_for(15s), std::future_status::ready) << "the dialog is still open";
  EXPECT_FALSE(fs::exists(temp));
}

}  // namespace
