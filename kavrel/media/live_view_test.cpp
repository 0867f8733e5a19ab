// Live video in the wall's panes as a page sees it: the control signs in to the simulated cloud,
// reaches the simulated device through the simulated tunnel service, and starts and stops its
// H.264 streams in panes. Everything runs in this process on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/control_host.h"
#include "kavrel/core/callback_names.h"
#include "kavrel/media/channel_resolution.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "kavrel/testing/control_world.h"
#include "kavrel/ui/testing/ui_fixture.h"
#include "kavrel/ui/video_wnd_manager.h"
#include "sim/device/device.h"
#include "sim/tunnel/tunnel_service.h"

namespace {

using namespace std::chrono_literals;
using com::Variant;
using kavrel::CkavrelCtrl;
using kavrel::testing::eventually;
using kavrel::ui::testing::PictureModeRecorder;
namespace fs = std::filesystem;

constexpr com::DISPID kCallBackMsg = 32;
constexpr int32_t kAny = -999;

// A device with two channels and one closed alarm output, and one device that is offline.
const char* kFixture = R"({
  "applications": [ { "app_key": "page-app-key", "app_pass": "page-app-pass" } ],
  "accounts": [ {
    "user": "alice", "password": "alice-pw", "devs_sn": 10, "cams_sn": 20,
    "devices": [
      { "dev_id": "KVR-GOOD", "dev_user": "admin", "dev_pass": "good-pw", "name": "Loja", "channel_count": 2,
        "dev_port": GOOD_PORT, "dev_http_port": 80, "device": { "alarm_outputs": [1] } },
      { "dev_id": "KVR-DOWN", "dev_user": "admin", "dev_pass": "down-pw", "name": "Deposito", "channel_count": 1,
        "dev_port": 37777, "dev_http_port": 80, "online": false }
    ],
    "cameras": { "cams": [ { "id": "KVR-GOOD_000", "devid": "KVR-GOOD", "chlid": 0 },
                           { "id": "KVR-GOOD_001", "devid": "KVR-GOOD", "chlid": 1 },
                           { "id": "KVR-DOWN_000", "devid": "KVR-DOWN", "chlid": 0 } ] }
  } ]
})";

using kavrel::testing::Seen;

class LiveViewTest : public kavrel::testing::ControlWorldTest {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kavrel-live-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    cache_home_ = pattern;
    // The control's configuration folder lives under the user's cache folder.
    ::setenv("XDG_CONFIG_HOME", cache_home_.c_str(), 1);
    kavrel::ui::set_picture_mode_calls(&PictureModeRecorder::table);
    PictureModeRecorder::taken();

    ASSERT_NO_FATAL_FAILURE(start_control(kavrel::testing::with_good_port(kFixture, kavrel::testing::free_port())));
  }
  void TearDown() override {
    stop_control();
    kavrel::ui::set_picture_mode_calls(nullptr);
    fs::remove_all(cache_home_);
  }

  int32_t start(const char16_t* cam, int32_t stream, int32_t pane) {
    Variant result;
    EXPECT_EQ(host_->call("CliStartPlayDev", {Variant::string(cam), Variant::i4(stream), Variant::i4(pane)}, &result),
              com::S_OK);
    return result.lval;
  }
  void stop(int32_t pane) { ASSERT_EQ(host_->call("CliStopPlayDev", {Variant::i4(pane)}), com::S_OK); }
  bool wait_for(int32_t id, int32_t tag1, int32_t tag2, const std::string& info, std::chrono::milliseconds limit) {
    return host_
        ->wait_for_event(
            [&](const host::ScriptEvent& e) {
              if (e.id != kCallBackMsg) return false;
              Seen s = seen(e);
              return s.id == id && (tag1 == kAny || s.tag1 == tag1) && (tag2 == kAny || s.tag2 == tag2) &&
                     (info.empty() || s.info == info);
            },
            limit)
        .has_value();
  }
  // Waits for `count` live-start events of a pane and gives the last one's result.
  int32_t started(int32_t pane, size_t count = 1) {
    auto events = host_->wait_for_events(
        [&](const host::ScriptEvent& e) {
          return e.id == kCallBackMsg && seen(e).id == kavrel::kEventLiveStarted && seen(e).tag1 == pane;
        },
        count, 30s);
    if (events.size() < count) return kAny;
    return seen(events[count - 1]).tag2;
  }
  kavrel::ui::CVideoWnd* pane(CkavrelCtrl& c, int index) { return c.video_wall()->pane(index); }
  std::u16string title(int index) {
    std::u16string text;
    on_ui([&](CkavrelCtrl& c) { text = pane(c, index)->panel().info_tool().info(); });
    return text;
  }

  std::string cache_home_;
};

TEST_F(LiveViewTest, AStartShowsTheStreamWithItsTitleAndAStopKeepsItsLastFrame) {
  bring_online(3);
  ASSERT_EQ(start(u"KVR-GOOD_000", 0, 0), 0);
  ASSERT_EQ(started(0), 0);
  ASSERT_TRUE(wait_for(kavrel::kEventLiveStarted, 0, 0, "KVR-GOOD_000", 1s));
  EXPECT_EQ(world_.good().video().streams(), 1u);

  // The title names the device, channel, stream and size, and a relayed tunnel says so.
  ASSERT_TRUE(ui_eventually([&](CkavrelCtrl& c) { return !pane(c, 0)->panel().info_tool().info().empty(); }));
  std::string text = kavrel::to_narrow(title(0));
  EXPECT_EQ(text.rfind("Loja : 1 (Principal  ", 0), 0u) << text;
  EXPECT_NE(text.find(" NAT Relay L:"), std::string::npos) << text;
  EXPECT_EQ(text.find(" 0 x 0 "), std::string::npos) << text;

  // The stream is in the slot, the indicator ended, and the closed output shows as on.
  ASSERT_TRUE(ui_eventually([&](CkavrelCtrl& c) {
    const auto& flags = pane(c, 0)->panel().tool().flags();
    return !pane(c, 0)->panel().flash().running() && flags.has_alarm && flags.alarm_on;
  }));
  on_ui([&](CkavrelCtrl& c) {
    EXPECT_TRUE(c.live_slot(0).slotStreaming.load());
    EXPECT_FALSE(c.live_slot(0).slotConnecting.load());
    EXPECT_EQ(c.live_slot(0).dev_id(), "KVR-GOOD");
    EXPECT_EQ(c.pane_camera(0), "KVR-GOOD_000");
    EXPECT_EQ(c.pane_stream(0), 0);
  });

  // The size found is kept in the resolution file.
  const std::string folder = cache_home_ + "/kavrel";
  kavrel::ChannelResolutionCache file;
  ASSERT_TRUE(file.Load(folder + "/ChanRes.dat"));
  ASSERT_EQ(file.records().size(), 1u);
  EXPECT_EQ(file.records()[0].dev_id, "KVR-GOOD");
  EXPECT_GT(file.records()[0].width, 0);

  // The stop ends the stream, logs out and keeps the last frame for the next start.
  stop(0);
  ASSERT_TRUE(eventually([&] { return world_.good().video().streams() == 0; }, 15s));
  on_ui([&](CkavrelCtrl& c) { EXPECT_FALSE(c.live_slot(0).slotStreaming.load()); });
  EXPECT_TRUE(fs::exists(folder + "/KVR-GOOD_0.bmp"));
  on_ui([&](CkavrelCtrl& c) {
    ASSERT_EQ(c.CliStartPlayDev(u"KVR-GOOD_000", 0, 0), 0);
    EXPECT_TRUE(pane(c, 0)->panel().flash().has_picture());
  });
  EXPECT_EQ(started(0, 2), 0);
}

TEST_F(LiveViewTest, ArgumentsAreCheckedBeforeAnythingStarts) {
  bring_online(3);
  struct Case {
    const char16_t* cam;
    int32_t stream, pane, expected;
  };
  const Case refused[] = {
      {u"KVR-GOOD_000", 9, 1, -1}, {u"KVR-GOOD_000", -1, 1, -1}, {u"", 0, 1, -1},
      {u"KVR-NONE_000", 0, 1, -1}, {u"KVR-GOOD_000", 0, 16, -1}, {u"KVR-GOOD_000", 0, -1, -1},
  };
  for (const Case& c : refused) {
    EXPECT_EQ(start(c.cam, c.stream, c.pane), c.expected) << kavrel::to_narrow(c.cam) << " " << c.stream << " " << c.pane;
  }
  on_ui([&](CkavrelCtrl& c) { EXPECT_FALSE(c.live_slot(1).slotConnecting.load()); });

  // Stream 8 is passed on and plays as the main stream.
  ASSERT_EQ(start(u"KVR-GOOD_001", 8, 1), 0);
  EXPECT_EQ(started(1), 0);

  // A pane that is still connecting takes no second start.
  world_.tunnel.set_delay("KVR-GOOD", 1500);
  on_ui([&](CkavrelCtrl& c) {
    EXPECT_EQ(c.CliStartPlayDev(u"KVR-GOOD_000", 0, 2), 0);
    EXPECT_EQ(c.CliStartPlayDev(u"KVR-GOOD_000", 1, 2), -1);
  });
  world_.tunnel.set_delay("KVR-GOOD", 0);
  EXPECT_EQ(started(2), 0);

  Variant result;
  ASSERT_EQ(host_->call("CliPlayerSetOsd", {Variant::i4(16), Variant::string(u"x"), Variant::i4(0), Variant::i4(0),
                                            Variant::i4(0)}, &result), com::S_OK);
  EXPECT_EQ(result.lval, -1);
  ASSERT_EQ(host_->call("CliPlayerSetOsd", {Variant::i4(3), Variant::string(u"x"), Variant::i4(0), Variant::i4(0),
                                            Variant::i4(0)}, &result), com::S_OK);
  EXPECT_EQ(result.lval, 0);
}

TEST_F(LiveViewTest, StartingInAStreamingPaneStopsTheOldStreamFirst) {
  bring_online(3);
  ASSERT_EQ(start(u"KVR-GOOD_000", 0, 0), 0);
  ASSERT_EQ(started(0), 0);
  // Another camera in the same pane, then the same camera again: each start finds the old
  // stream gone (the library refuses a channel that still streams).
  ASSERT_EQ(start(u"KVR-GOOD_001", 1, 0), 0);
  EXPECT_EQ(started(0, 2), 0);
  ASSERT_EQ(start(u"KVR-GOOD_001", 1, 0), 0);
  EXPECT_EQ(started(0, 3), 0);
  EXPECT_TRUE(eventually([&] { return world_.good().video().streams() == 1; }, 15s));
  on_ui([&](CkavrelCtrl& c) {
    EXPECT_EQ(c.live_slot(0).slotChannel.load(), 1);
    EXPECT_EQ(c.pane_camera(0), "KVR-GOOD_001");
    EXPECT_EQ(c.pane_stream(0), 1);
  });
  EXPECT_EQ(kavrel::to_narrow(title(0)).rfind("Loja : 2 (Extra  ", 0), 0u) << kavrel::to_narrow(title(0));
}

TEST_F(LiveViewTest, EachStartMovesTheSelectionForwardAndWraps) {
  bring_online(3);
  int32_t first = 0;
  on_ui([&](CkavrelCtrl& c) {
    ASSERT_EQ(c.video_wall()->count(), 4);
    first = c.video_wall()->selected_index();
  });
  const struct {
    const char16_t* cam;
    int32_t pane;
  } starts[] = {{u"KVR-GOOD_000", 0}, {u"KVR-GOOD_001", 1}, {u"KVR-GOOD_000", 2}, {u"KVR-GOOD_001", 3}};
  int32_t expected = first;
  for (const auto& s : starts) {
    // One stream per channel: the pane of the previous start of the camera is stopped first.
    if (s.pane >= 2) stop(s.pane - 2);
    ASSERT_EQ(start(s.cam, 0, s.pane), 0);
    expected = expected + 1 >= 4 ? 0 : expected + 1;
    on_ui([&](CkavrelCtrl& c) { EXPECT_EQ(c.video_wall()->selected_index(), expected); });
    ASSERT_EQ(started(s.pane), 0);
  }
  EXPECT_EQ(expected, first);  // four panes, four starts: round once
  // The page heard of each move.
  EXPECT_GE(callbacks(kavrel::kEventSelectionChanged).size(), 4u);
}

TEST_F(LiveViewTest, AFailedLoginReportsItAndLeavesTheIndicatorUntilTheStop) {
  bring_online(3);
  // The offline device's tunnel has reported that it is not reachable; the control still takes
  // the device for online.
  ASSERT_TRUE(wait_for(kavrel::kEventHttpUrl, 0, -4, "KVR-DOWN", 30s));
  auto believe_online = [&] { control_->devices().find("KVR-DOWN")->online.store(true); };
  believe_online();
  ASSERT_EQ(start(u"KVR-DOWN_000", 0, 2), 0);
  ASSERT_TRUE(wait_for(kavrel::kEventLiveLoginFailed, 2, -10, "KVR-DOWN_000", 30s));
  ASSERT_TRUE(ui_eventually([](CkavrelCtrl& c) { return !c.live_slot(2).slotConnecting.load(); }));
  on_ui([&](CkavrelCtrl& c) {
    EXPECT_TRUE(pane(c, 2)->panel().flash().running());
    EXPECT_FALSE(c.live_slot(2).slotStreaming.load());
  });
  EXPECT_TRUE(callbacks(kavrel::kEventLiveStarted).empty());

  stop(2);
  on_ui([&](CkavrelCtrl& c) { EXPECT_FALSE(pane(c, 2)->panel().flash().running()); });
  believe_online();
  EXPECT_EQ(start(u"KVR-DOWN_000", 0, 2), 0);
  ASSERT_TRUE(host_->wait_for_events(
                  [&](const host::ScriptEvent& e) {
                    return e.id == kCallBackMsg && seen(e).id == kavrel::kEventLiveLoginFailed && seen(e).tag1 == 2;
                  },
                  2, 30s)
                  .size() == 2);
}

TEST_F(LiveViewTest, CloseAllStopsEveryPaneAndResumeStartsThemAgain) {
  bring_online(3);
  ASSERT_EQ(start(u"KVR-GOOD_000", 0, 0), 0);
  ASSERT_EQ(start(u"KVR-GOOD_001", 1, 1), 0);
  ASSERT_EQ(started(0), 0);
  ASSERT_EQ(started(1), 0);

  on_ui([](CkavrelCtrl& c) { c.CloseAllConnections(); });
  std::vector<Seen> closed = callbacks(kavrel::kEventPaneClosed);
  ASSERT_EQ(closed.size(), 16u);
  for (int32_t i = 0; i < 16; ++i) EXPECT_EQ(closed[static_cast<size_t>(i)].tag1, i);
  EXPECT_TRUE(eventually([&] { return world_.good().video().streams() == 0; }, 15s));
  on_ui([&](CkavrelCtrl& c) {
    EXPECT_FALSE(c.bulk_restart());
    EXPECT_FALSE(c.live_slot(0).slotStreaming.load());
    EXPECT_FALSE(c.live_slot(1).slotStreaming.load());
    // The assignment stays for the resume.
    EXPECT_EQ(c.pane_camera(1), "KVR-GOOD_001");
  });

  host_->clear_events();
  on_ui([](CkavrelCtrl& c) { c.ResumeLive(); });
  EXPECT_EQ(started(0), 0);
  EXPECT_EQ(started(1), 0);
  EXPECT_TRUE(eventually([&] { return world_.good().video().streams() == 2; }, 15s));
  // The selection followed the resumed panes instead of moving on past them.
  std::vector<Seen> selections = callbacks(kavrel::kEventSelectionChanged);
  ASSERT_EQ(selections.size(), 2u);
  EXPECT_EQ(selections[0].tag1, 0);
  EXPECT_EQ(selections[1].tag1, 1);
  on_ui([&](CkavrelCtrl& c) {
    EXPECT_EQ(c.video_wall()->selected_index(), 1);
    EXPECT_FALSE(c.bulk_restart());
  });
}

TEST_F(LiveViewTest, UnInitStopsTheStreamsAndLogsOut) {
  bring_online(3);
  ASSERT_EQ(start(u"KVR-GOOD_000", 0, 0), 0);
  ASSERT_EQ(start(u"KVR-GOOD_001", 2, 1), 0);
  ASSERT_EQ(started(0), 0);
  ASSERT_EQ(started(1), 0);
  ASSERT_EQ(host_->call("CliUnInit", {}), com::S_OK);
  EXPECT_TRUE(eventually([&] { return world_.good().video().streams() == 0; }, 15s));
  EXPECT_TRUE(eventually([&] { return world_.good().sessions_open() == 0; }, 15s));
  on_ui([&](CkavrelCtrl& c) {
    for (int i = 0; i < 16; ++i) {
      EXPECT_FALSE(c.live_slot(i).slotStreaming.load()) << i;
      EXPECT_FALSE(c.live_slot(i).slotConnecting.load()) << i;
    }
  });
}

TEST_F(LiveViewTest, PaneCommandsSelectCloseReconnectAndSwitchPictureModes) {
  bring_online(3);
  ASSERT_EQ(start(u"KVR-GOOD_000", 0, 0), 0);
  ASSERT_EQ(started(0), 0);
  ASSERT_TRUE(ui_eventually([](CkavrelCtrl& c) { return c.live_slot(0).slotStreaming.load(); }));

  // A plain click only tells the page.
  host_->clear_events();
  PictureModeRecorder::taken();
  command(2, kavrel::ui::kCmdSelectionChanged);
  ASSERT_TRUE(wait_for(kavrel::kEventSelectionChanged, 2, 0, "", 1s));
  EXPECT_EQ(host_->events().size(), 1u);
  EXPECT_TRUE(PictureModeRecorder::taken().empty());

  // Picture modes on the streaming pane, each command with the calls it makes.
  struct Step {
    int32_t command;
    std::vector<std::string> calls;
  };
  const Step steps[] = {
      {212, {"history 0 0", "freeze 1 1"}},
      {210, {"freeze 0 0", "history 1 0"}},
      {212, {"history 0 0", "freeze 1 1"}},
      {212, {"freeze 0 1"}},
      {241, {"history 1 0", "history_interval 5000 0"}},
      {239, {"history 0 0"}},
      {231, {"wdr 1 0", "wdr_intensity 25 0"}},
      {229, {"wdr 0 0"}},
      {211, {"wdr 1 0"}},
      {211, {"wdr 0 0"}},
      {262, {"freeze 1 2"}},
      {259, {"freeze 0 0"}},
      {999, {}},
  };
  for (const Step& s : steps) {
    command(0, s.command);
    std::vector<std::string> calls;
    for (const auto& c : PictureModeRecorder::taken()) {
      calls.push_back(c.what + " " + std::to_string(c.value) + " " + std::to_string(c.corner));
    }
    EXPECT_EQ(calls, s.calls) << "command " << s.command;
  }
  on_ui([&](CkavrelCtrl& c) {
    const auto& flags = pane(c, 0)->panel().tool().flags();
    EXPECT_FALSE(flags.history || flags.blc || flags.freeze);
  });
  // A pane without a stream takes no picture mode.
  command(3, 210);
  EXPECT_TRUE(PictureModeRecorder::taken().empty());

  // "Reconectar" restarts the pane's stream; on a pane never started it only stops.
  command(0, kavrel::ui::kCmdReconnect);
  EXPECT_EQ(started(0), 0);
  EXPECT_TRUE(eventually([&] { return world_.good().video().streams() == 1; }, 15s));
  command(3, kavrel::ui::kCmdReconnect);
  on_ui([&](CkavrelCtrl& c) {
    EXPECT_FALSE(c.live_slot(3).slotConnecting.load());
    EXPECT_EQ(c.pane_stream(3), -1);
  });

  // "Fechar" stops the pane and tells the page.
  command(0, kavrel::ui::kCmdClose);
  EXPECT_TRUE(wait_for(kavrel::kEventPaneClosed, 0, 0, "", 1s));
  EXPECT_TRUE(eventually([&] { return world_.good().video().streams() == 0; }, 15s));
  EXPECT_TRUE(callbacks(kavrel::kEventLiveStarted).size() == 1u);
}

// The wall comes back as the user left it: every start and stop keeps the default layout, and a
// few seconds after the camera list arrives the saved layout is started again.
TEST_F(LiveViewTest, TheDefaultLayoutFollowsTheWallAndComesBackAfterTheCameraList) {
  const std::string folder = cache_home_ + "/kavrel";
  fs::create_directories(folder);
  {
    std::ofstream out(folder + "/Default.zorlay");
    out << "1\nKVR-GOOD_001\n1\n";
    for (int i = 1; i < 16; ++i) out << "\n-1\n";
  }
  bring_online(3);
  ASSERT_EQ(started(0), 0);
  on_ui([&](CkavrelCtrl& c) {
    EXPECT_EQ(c.CliGetPicNum(), 1);
    EXPECT_EQ(c.pane_camera(0), "KVR-GOOD_001");
    EXPECT_EQ(c.pane_stream(0), 1);
    EXPECT_TRUE(c.live_slot(0).slotStreaming.load() || c.live_slot(0).slotConnecting.load());
  });

  // The user's changes are saved as they happen.
  on_ui([&](CkavrelCtrl& c) { EXPECT_EQ(c.CliSetPicNum(4), 0); });
  ASSERT_EQ(start(u"KVR-GOOD_000", 0, 2), 0);
  ASSERT_EQ(started(2), 0);
  std::ifstream in(folder + "/Default.zorlay");
  std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(saved.rfind("4\nKVR-GOOD_001\n1\n\n-1\nKVR-GOOD_000\n0\n", 0), 0u) << saved;
}

}  // namespace
