// The device simulator's own alarms: script entries from the command line and the fixture, the
// driver that runs them, and motion from the scenes' cars.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "devsdk/proto/alarms.h"
#include "sim/device/alarms/alarm_driver.h"
#include "sim/device/alarms/alarm_hub.h"
#include "sim/device/alarms/alarm_settings.h"
#include "sim/device/alarms/scene_motion.h"
#include "sim/device/fixture_devices.h"

namespace sim::device {
namespace {

template <class Pred>
bool wait_until(Pred pred, int ms = 5000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

TEST(AlarmChangeText, ParsesAndRefuses) {
  struct Case {
    const char* text;
    bool ok;
    uint32_t kind;
    int32_t channel;
    uint8_t state;
    uint32_t at_ms;
  };
  const Case cases[] = {
      {"motion:0:1@1500", true, proto::kAlarmMotion, 0, 1, 1500},
      {"input:3:0@0", true, proto::kAlarmInput, 3, 0, 0},
      {"0x2103:255:1@7", true, proto::kAlarmVideoLoss, 255, 1, 7},
      {"8453:1:1@5", true, proto::kAlarmAudio, 1, 1, 5},
      {"disk_error:0:1@86400000", true, proto::kAlarmDiskError, 0, 1, 86400000},
      {"motion:0:2@1", false, 0, 0, 0, 0},
      {"smoke:0:1@1", false, 0, 0, 0, 0},
      {"0x2108:0:1@1", false, 0, 0, 0, 0},
      {"motion:256:1@1", false, 0, 0, 0, 0},
      {"motion:-1:1@1", false, 0, 0, 0, 0},
      {"motion:0:1", false, 0, 0, 0, 0},
      {"motion:0:1@", false, 0, 0, 0, 0},
      {"motion:0:1@86400001", false, 0, 0, 0, 0},
      {"", false, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    AlarmChange change;
    ASSERT_EQ(parse_alarm_change(c.text, change), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(change.kind, c.kind) << c.text;
    EXPECT_EQ(change.channel, c.channel) << c.text;
    EXPECT_EQ(change.state, c.state) << c.text;
    EXPECT_EQ(change.at_ms, c.at_ms) << c.text;
  }
}

std::string fixture_with(const std::string& device_object) {
  return R"({"applications":[],"accounts":[{"user":"u","password":"p","devices":[{"dev_id":"KVR-1","channel_count":4,)"
         R"("device":)" +
         device_object + "}]}]}";
}

TEST(FixtureAlarms, ReadsTheDevicesAlarmsAndDiscoveryPort) {
  std::vector<FixtureDevice> devices;
  std::string error;
  ASSERT_TRUE(parse_fixture_devices(
      fixture_with(R"({"alarms":{"script":[{"at_ms":1500,"kind":"motion","channel":1,"state":1},)"
                   R"({"at_ms":3000,"kind":8450,"channel":1,"state":0}],"loop_ms":6000,"scene_motion":true},)"
                   R"("discovery_port":40000})"),
      devices, error))
      << error;
  ASSERT_EQ(devices.size(), 1u);
  const AlarmSettings& a = devices[0].settings.alarms;
  ASSERT_EQ(a.script.size(), 2u);
  EXPECT_EQ(a.script[0].kind, proto::kAlarmMotion);
  EXPECT_EQ(a.script[0].at_ms, 1500u);
  EXPECT_EQ(a.script[0].state, 1);
  EXPECT_EQ(a.script[1].kind, proto::kAlarmMotion);
  EXPECT_EQ(a.script[1].state, 0);
  EXPECT_EQ(a.loop_ms, 6000u);
  EXPECT_TRUE(a.scene_motion);
  EXPECT_EQ(devices[0].settings.discovery_port, 40000);

  // Without members: no script, and the LAN search answered on the default port.
  ASSERT_TRUE(parse_fixture_devices(fixture_with("{}"), devices, error)) << error;
  EXPECT_TRUE(devices[0].settings.alarms.script.empty());
  EXPECT_FALSE(devices[0].settings.alarms.scene_motion);
  EXPECT_EQ(devices[0].settings.discovery_port, 37810);
}

TEST(FixtureAlarms, RefusesMalformedAlarms) {
  const char* bad[] = {
      R"({"alarms":[]})",
      R"({"alarms":{"script":{}}})",
      R"({"alarms":{"script":[{"at_ms":1,"kind":"smoke"}]}})",
      R"({"alarms":{"script":[{"kind":"motion"}]}})",
      R"({"alarms":{"script":[{"at_ms":1,"kind":"motion","channel":300}]}})",
      R"({"alarms":{"script":[{"at_ms":1,"kind":"motion","state":2}]}})",
      R"({"alarms":{"scene_motion":1}})",
      R"({"alarms":{"loop_ms":-5}})",
      R"({"discovery_port":70000})",
  };
  for (const char* object : bad) {
    std::vector<FixtureDevice> devices;
    std::string error;
    EXPECT_FALSE(parse_fixture_devices(fixture_with(object), devices, error)) << object;
    EXPECT_NE(error.find("KVR-1"), std::string::npos) << error;
  }
}

TEST(AlarmDriver, RunsTheScriptInTimeOrder) {
  AlarmHub hub;
  AlarmSettings settings;
  settings.script = {{60, proto::kAlarmAudio, 0, 1}, {0, proto::kAlarmMotion, 1, 1}, {30, proto::kAlarmMotion, 1, 0}};
  AlarmDriver driver(hub, settings, 4);
  driver.start();
  EXPECT_TRUE(wait_until([&] { return hub.is_on(proto::kAlarmAudio, 0); }));
  EXPECT_FALSE(hub.is_on(proto::kAlarmMotion, 1)) << "on at 0 ms, off at 30 ms";
  driver.stop();
}

TEST(AlarmDriver, RepeatsALoopedScript) {
  AlarmHub hub;
  AlarmSettings settings;
  settings.script = {{0, proto::kAlarmInput, 2, 1}, {150, proto::kAlarmInput, 2, 0}};
  settings.loop_ms = 300;
  AlarmDriver driver(hub, settings, 4);
  driver.start();
  // Seen on, off, and on again in a later loop.
  for (bool on : {true, false, true, false}) {
    EXPECT_TRUE(wait_until([&] { return hub.is_on(proto::kAlarmInput, 2) == on; })) << on;
  }
  driver.stop();
}

// The car of each street is inside the detection zone for part of every loop.
TEST(SceneMotion, CarsCrossTheZoneOnceALoop) {
  for (int seed = 0; seed < 4; ++seed) {
    int inside = 0, entries = 0;
    bool was = motion_in_zone(seed, kSceneLoopMs - 1);
    for (uint64_t ms = 0; ms < kSceneLoopMs; ++ms) {
      bool now = motion_in_zone(seed, ms);
      inside += now ? 1 : 0;
      entries += now && !was ? 1 : 0;
      was = now;
    }
    EXPECT_EQ(entries, 1) << "seed " << seed;
    EXPECT_GT(inside, static_cast<int>(kSceneLoopMs) / 4) << "seed " << seed;
    EXPECT_LT(inside, static_cast<int>(kSceneLoopMs) / 2) << "seed " << seed;
  }
}

TEST(AlarmDriver, SceneMotionComesAndGoes) {
  AlarmHub hub;
  AlarmSettings settings;
  settings.scene_motion = true;
  AlarmDriver driver(hub, settings, 2);
  driver.start();
  EXPECT_TRUE(wait_until([&] { return hub.is_on(proto::kAlarmMotion, 0); }));
  EXPECT_TRUE(wait_until([&] { return !hub.is_on(proto::kAlarmMotion, 0); }));
  driver.stop();
}

}  // namespace
}  // namespace sim::device
