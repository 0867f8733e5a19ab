// Alerts, the pane's alarm-output button and the LAN device search as a page sees them: the
// control signs in to the simulated cloud, reaches the simulated device through the simulated
// tunnel service, listens to its alarms, switches its alarm output and finds it on the loopback
// "LAN". Everything runs in this process on loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "devsdk/proto/alarms.h"
#include "host/control_host.h"
#include "kavrel/core/callback_names.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "kavrel/testing/control_world.h"
#include "kavrel/ui/ui_messages.h"
#include "kavrel/ui/video_wnd_manager.h"
#include "platform/testing/debug_capture.h"
#include "sim/device/device.h"
#include "trace/trace.h"

namespace {

using namespace std::chrono_literals;
using com::Variant;
using kavrel::CkavrelCtrl;
using kavrel::testing::eventually;
namespace fs = std::filesystem;

constexpr com::DISPID kCallBackMsg = 32;
// Alarm codes of the device: an alarm input (kind 0) and motion (kind 1, which needs the
// channel to listen).
constexpr uint32_t kInputAlarm = 0x2101;
constexpr uint32_t kMotionAlarm = 0x2102;

// A device with two channels and one open alarm output that answers the LAN search on a port
// of its own (given to the NetSDK through the environment).
const char* kFixture = R"({
  "applications": [ { "app_key": "page-app-key", "app_pass": "page-app-pass" } ],
  "accounts": [ {
    "user": "alice", "password": "alice-pw", "devs_sn": 10, "cams_sn": 20,
    "devices": [
      { "dev_id": "KVR-GOOD", "dev_user": "admin", "dev_pass": "good-pw", "name": "Loja", "channel_count": 2,
        "dev_port": GOOD_PORT, "dev_http_port": 80,
        "device": { "alarm_outputs": [0], "serial": "SN-LOJA-01", "model": "NVR-204", "discovery_port": 0 } }
    ],
    "cameras": { "cams": [ { "id": "KVR-GOOD_000", "devid": "KVR-GOOD", "chlid": 0 },
                           { "id": "KVR-GOOD_001", "devid": "KVR-GOOD", "chlid": 1 } ] }
  } ]
})";

using kavrel::testing::Seen;

class AlertsTest : public kavrel::testing::ControlWorldTest {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kavrel-alerts-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    cache_home_ = pattern;
    ::setenv("XDG_CONFIG_HOME", cache_home_.c_str(), 1);

    // The device answers the LAN search on a port of its own, which the NetSDK takes from the
    // environment; the control starts after that.
    std::string fixture = kavrel::testing::with_good_port(kFixture, kavrel::testing::free_port());
    std::string error;
    ASSERT_TRUE(world_.start(fixture.c_str(), error)) << error;
    ASSERT_EQ(world_.running.size(), 1u);
    uint16_t discovery = world_.good().answer_search(0);
    ASSERT_NE(discovery, 0);
    ::setenv("KAVREL_DISCOVERY_PORT", std::to_string(discovery).c_str(), 1);
    ASSERT_NO_FATAL_FAILURE(start_host());
    bring_online(2);
  }
  void TearDown() override {
    stop_control();
    world_.running.clear();
    ::unsetenv("KAVREL_DISCOVERY_PORT");
    fs::remove_all(cache_home_);
  }

  void call(const char* method, std::vector<Variant> args, Variant* result = nullptr) {
    ASSERT_EQ(host_->call(method, std::move(args), result), com::S_OK) << method;
  }
  bool wait_for(int32_t id, const std::function<bool(const Seen&)>& match, std::chrono::milliseconds limit) {
    return host_
        ->wait_for_event([&](const host::ScriptEvent& e) { return e.id == kCallBackMsg && seen(e).id == id && match(seen(e)); },
                         limit)
        .has_value();
  }
  // Waits for the alert of `kind` on `channel` of the device; `count` of them in all.
  bool alert_arrives(int32_t kind, int32_t channel, size_t count = 1) {
    auto events = host_->wait_for_events(
        [&](const host::ScriptEvent& e) {
          if (e.id != kCallBackMsg) return false;
          Seen s = seen(e);
          return s.id == kavrel::kEventAlert && s.tag1 == kind && s.tag2 == channel && s.info == "KVR-GOOD";
        },
        count, 15s);
    return events.size() >= count;
  }
  size_t alerts(int32_t kind, int32_t channel) {
    size_t n = 0;
    for (const Seen& s : callbacks(kavrel::kEventAlert)) n += s.tag1 == kind && s.tag2 == channel ? 1 : 0;
    return n;
  }
  std::shared_ptr<kavrel::DevInfo> good() { return control_->devices().find("KVR-GOOD"); }
  const kavrel::ui::ToolFlags& tool(CkavrelCtrl& c, int pane) { return c.video_wall()->pane(pane)->panel().tool().flags(); }

  std::string cache_home_;
};

TEST_F(AlertsTest, AnUnknownCameraStartsNothing) {
  trace::force_verbose_for_testing(true);
  platform::testing::DebugCapture capture;
  call("CliStartListenAlertDev", {Variant::string(u"KVR-NONE_000"), Variant::i4(0)});
  call("CliStartListenAlertDev", {Variant::string(u""), Variant::i4(0)});
  trace::force_verbose_for_testing(false);
  EXPECT_TRUE(capture.contains("Error: CkavrelCtrl::CliStartListenAlertDev 5221 (No camera instance)"));
  EXPECT_FALSE(capture.mentions("StartListenAlertThread"));
  EXPECT_EQ(good()->logincount.load(), 0);
}

TEST_F(AlertsTest, AnAlarmReachesThePageAndStoppingWithoutALoginLeavesTheListeningOn) {
  // An alarm that is already on when listening starts is reported as it comes on for us.
  world_.good().raise_alarm(kMotionAlarm, 1, true);
  call("CliStartListenAlertDev", {Variant::string(u"KVR-GOOD_001"), Variant::i4(3)});
  ASSERT_TRUE(alert_arrives(1, 1));
  EXPECT_EQ(control_->cameras().find("KVR-GOOD_001")->lAlertType.load(), 3);
  ASSERT_GT(good()->logincount.load(), 0);

  // A device the control counts as logged out gets no stop: the channel goes on listening.
  int32_t logins = good()->logincount.exchange(0);
  call("CliStopListenAlertDev", {Variant::string(u"KVR-GOOD_001")});
  good()->logincount.store(logins);
  world_.good().raise_alarm(kMotionAlarm, 1, false);
  world_.good().raise_alarm(kMotionAlarm, 1, true);
  ASSERT_TRUE(alert_arrives(1, 1, 2));

  // A real stop ends channel 1's listening. Listening on channel 0 then hears channel 0 only:
  // channel 1's motion, still on, comes first in the device's greeting and is not reported.
  call("CliStopListenAlertDev", {Variant::string(u"KVR-GOOD_001")});
  call("CliStartListenAlertDev", {Variant::string(u"KVR-GOOD_000"), Variant::i4(0)});
  world_.good().raise_alarm(kMotionAlarm, 0, true);
  ASSERT_TRUE(alert_arrives(1, 0));
  world_.good().raise_alarm(kMotionAlarm, 1, false);
  world_.good().raise_alarm(kMotionAlarm, 1, true);
  // An alarm input needs no listening channel: it is heard on channel 1 as well.
  world_.good().raise_alarm(kInputAlarm, 1, true);
  ASSERT_TRUE(alert_arrives(0, 1));
  EXPECT_EQ(alerts(1, 1), 2u);
}

TEST_F(AlertsTest, TheAlarmOutputButtonSwitchesTheOutputAndTheButtonFollows) {
  // Panes without a camera and panes out of range switch nothing.
  struct Case {
    const char* operation;
    int32_t pane, expected;
  };
  const Case refused[] = {{"get", 16, -1}, {"get", 5, -3}, {"on", 16, -1}, {"on", 5, -3}, {"off", 16, -1}, {"off", 5, -3}};
  on_ui([&](CkavrelCtrl& c) {
    for (const Case& r : refused) {
      std::string op = r.operation;
      int32_t got = op == "get" ? c.CliGetAlarmDev(r.pane) : op == "on" ? c.CliSetAlarmOnDev(r.pane) : c.CliSetAlarmOffDev(r.pane);
      EXPECT_EQ(got, r.expected) << op << " " << r.pane;
    }
  });
  EXPECT_EQ(world_.good().alarm_outputs(), (std::vector<uint16_t>{0}));

  Variant result;
  call("CliStartPlayDev", {Variant::string(u"KVR-GOOD_000"), Variant::i4(1), Variant::i4(0)}, &result);
  ASSERT_EQ(result.lval, 0);
  ASSERT_TRUE(wait_for(kavrel::kEventLiveStarted, [](const Seen& s) { return s.tag1 == 0 && s.tag2 == 0; }, 30s));
  ASSERT_TRUE(ui_eventually([&](CkavrelCtrl& c) { return tool(c, 0).has_alarm; }));
  on_ui([&](CkavrelCtrl& c) { EXPECT_FALSE(tool(c, 0).alarm_on); });

  command(0, kavrel::ui::kCmdAlarmOutput);
  EXPECT_EQ(world_.good().alarm_outputs(), (std::vector<uint16_t>{1}));
  on_ui([&](CkavrelCtrl& c) {
    EXPECT_TRUE(tool(c, 0).alarm_on);
    EXPECT_EQ(c.CliGetAlarmDev(0), 1);
  });

  command(0, kavrel::ui::kCmdAlarmOutput);
  EXPECT_EQ(world_.good().alarm_outputs(), (std::vector<uint16_t>{0}));
  on_ui([&](CkavrelCtrl& c) { EXPECT_FALSE(tool(c, 0).alarm_on); });

  // A pane that does not stream has no button to press.
  command(3, kavrel::ui::kCmdAlarmOutput);
  EXPECT_EQ(world_.good().alarm_outputs(), (std::vector<uint16_t>{0}));
}

TEST_F(AlertsTest, ASecondSearchCancelsTheFirstAndReportsOnce) {
  on_ui([&](CkavrelCtrl& c) {
    c.CliDeviceSearch();
    c.CliDeviceSearch();
  });
  ASSERT_TRUE(wait_for(kavrel::kEventSearchResult, [](const Seen&) { return true; }, 15s));
  std::vector<Seen> reports = callbacks(kavrel::kEventSearchResult);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].tag1, 0);
  EXPECT_EQ(reports[0].tag2, 0);
  EXPECT_NE(reports[0].info.find("\"id\":\"SN-LOJA-01\""), std::string::npos) << reports[0].info;
  EXPECT_NE(reports[0].info.find("\"ip\":\"127."), std::string::npos) << reports[0].info;
  EXPECT_NE(reports[0].info.find("\"model\":\"NVR-204\""), std::string::npos) << reports[0].info;

  // Had the cancelled search reported, its report would come before the next search's.
  call("CliDeviceSearch", {});
  ASSERT_TRUE(host_->wait_for_events(
                       [&](const host::ScriptEvent& e) { return e.id == kCallBackMsg && seen(e).id == kavrel::kEventSearchResult; },
                       2, 15s)
                  .size() == 2);
  EXPECT_EQ(callbacks(kavrel::kEventSearchResult).size(), 2u);
}

TEST_F(AlertsTest, QueryAlarmOnlyTraces) {
  trace::force_verbose_for_testing(true);
  platform::testing::DebugCapture capture;
  call("CliQueryAlarm", {Variant::string(u"KVR-GOOD"), Variant::string(u"20260101000000"), Variant::string(u"20260102000000")});
  trace::force_verbose_for_testing(false);
  EXPECT_TRUE(capture.contains("-->: CkavrelCtrl::CliQueryAlarm"));
  EXPECT_TRUE(capture.contains("<--: CkavrelCtrl::CliQueryAlarm"));
  EXPECT_EQ(good()->logincount.load(), 0);
}

}  // namespace
