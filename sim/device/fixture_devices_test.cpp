#include "sim/device/fixture_devices.h"

#include <gtest/gtest.h>

#include <ctime>

#include "devsdk/proto/messages.h"
#include "sim/device/recordings/schedule.h"

namespace sim::device {
namespace {

TEST(FixtureDevices, ReadsTheDeviceEntryAndItsSimulatorSettings) {
  const char* json = R"({
    "applications": [],
    "accounts": [{
      "user": "demo", "password": "p",
      "devices": [
        {"dev_id": "KVR-1", "dev_user": "op", "dev_pass": "s3", "name": "Loja", "dev_port": 37777,
         "dev_http_port": 8080, "channel_count": 2,
         "device": {"channel_count": 0, "alarm_outputs": [0, 1, 0], "alarm_inputs": 1,
                    "users": [{"user": "op", "password": "s3"}, {"user": "old", "password": "x", "locked": true}],
                    "max_connections": 3, "https_port": 8443, "login_error": 7,
                    "fault": {"kind": "drop", "on": "get_config"}}},
        {"dev_id": "KVR-2", "online": false}
      ],
      "cameras": {"groups": [{"cams": [{"id": "c", "devid": "KVR-2", "chlid": 5}]}], "cams": []}
    }]})";
  std::vector<FixtureDevice> devices;
  std::string error;
  ASSERT_TRUE(parse_fixture_devices(json, devices, error)) << error;
  ASSERT_EQ(devices.size(), 2u);
  const Settings& a = devices[0].settings;
  EXPECT_EQ(a.dev_id, "KVR-1");
  EXPECT_EQ(a.name, "Loja");
  EXPECT_EQ(a.channels, 0);  // the simulator's own count wins
  EXPECT_EQ(a.alarm_outputs, (std::vector<uint16_t>{0, 1, 0}));
  EXPECT_EQ(a.alarm_inputs.size(), 1u);
  ASSERT_EQ(a.users.size(), 2u);
  EXPECT_TRUE(a.users[1].locked);
  EXPECT_EQ(a.max_connections, 3);
  EXPECT_EQ(a.tcp_port, 37777);
  EXPECT_EQ(a.http_port, 8080);
  EXPECT_EQ(a.https_port, 8443);
  EXPECT_EQ(a.login_error, 7);
  EXPECT_EQ(a.fault.kind, FaultKind::drop);
  EXPECT_EQ(a.fault.on_type, static_cast<uint16_t>(proto::Type::get_config));
  EXPECT_EQ(devices[0].dev_port, 37777);

  const Settings& b = devices[1].settings;
  EXPECT_FALSE(devices[1].online);
  EXPECT_EQ(b.channels, 6);  // one more than the highest camera channel, found in a group
  ASSERT_EQ(b.users.size(), 1u);
  EXPECT_EQ(b.users[0].name, "admin");
  EXPECT_EQ(b.users[0].password, "admin");
  EXPECT_EQ(b.name, "KVR-2");
}

// A fixture of one account holding `devices` (a JSON array's members).
std::string one_account(const std::string& devices) {
  return R"({"applications": [], "accounts": [{"user": "u", "password": "p", "devices": [)" + devices + "]}]}";
}

TEST(FixtureDevices, RefusesWhatItCannotRun) {
  std::string bad[] = {
      "not json",
      R"({"applications": [], "accounts": 3})",
      one_account(R"({"name": "no id"})"),
      one_account(R"({"dev_id": "a", "dev_port": 70000})"),
      one_account(R"({"dev_id": "a", "channel_count": 256})"),
      one_account(R"({"dev_id": "a", "device": {"channel_count": 300}})"),
      one_account(R"({"dev_id": "a", "device": {"channel_count": 2.5}})"),
      one_account(R"({"dev_id": "a", "device": {"max_connections": 1e300}})"),
      one_account(R"({"dev_id": "a", "device": {"tcp_port": -1}})"),
      one_account(R"({"dev_id": "a", "device": {"login_error": 11}})"),
      one_account(R"({"dev_id": "a", "device": {"fault": {"kind": "explode"}}})"),
      one_account(R"({"dev_id": "a", "device": {"alarm_outputs": 256}})"),
      one_account(R"({"dev_id": "a", "device": {"alarm_outputs": -1e300}})"),
      one_account(R"({"dev_id": "a", "channel_count": 4, "device": {"fisheye": true}})"),
      one_account(R"({"dev_id": "a", "device": {"fisheye": "yes"}})"),
      one_account(R"({"dev_id": "a", "device": {"extra_stream": "hd"}})"),
      one_account(R"({"dev_id": "a", "device": {"channel_names": "Entrada"}})"),
      one_account(R"({"dev_id": "a", "device": {"recordings": [{"day": 1}]}})"),
      one_account(R"({"dev_id": "a", "device": {"recordings": {"day": -1}}})"),
  };
  for (const std::string& json : bad) {
    std::vector<FixtureDevice> devices;
    std::string error;
    EXPECT_FALSE(parse_fixture_devices(json, devices, error)) << json;
    EXPECT_FALSE(error.empty()) << json;
  }
  // The frame itself is good: the same account with a plain device runs, on the default
  // recording schedule unless it names its recordings.
  std::vector<FixtureDevice> devices;
  std::string error;
  EXPECT_TRUE(parse_fixture_devices(one_account(R"({"dev_id": "a"})"), devices, error)) << error;
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_FALSE(devices[0].settings.recordings.has_value());
  ASSERT_TRUE(parse_fixture_devices(
      one_account(R"({"dev_id": "a", "device": {"recordings": [{"day": -1, "from": "080000", "to": "121000",
                                                                  "file_seconds": 60}]}})"),
      devices, error))
      << error;
  ASSERT_TRUE(devices[0].settings.recordings.has_value());
  ASSERT_EQ(devices[0].settings.recordings->size(), 1u);
  EXPECT_EQ((*devices[0].settings.recordings)[0].end - (*devices[0].settings.recordings)[0].start, 250 * 60);
}

// The demo's PTZ camera has a small extra stream and its fisheye camera a fisheye lens; every
// channel shows its camera's name.
TEST(FixtureDevices, DemoCamerasGetTheirVideoSettings) {
  std::vector<FixtureDevice> devices;
  std::string error;
  ASSERT_TRUE(load_fixture_devices(KAVREL_DEMO_FIXTURE, devices, error)) << error;
  auto find = [&](const char* id) -> const Settings* {
    for (const auto& d : devices)
      if (d.settings.dev_id == id) return &d.settings;
    return nullptr;
  };
  const Settings* recorder = find("KVR-000001");
  const Settings* ptz = find("KVR-000002");
  const Settings* fisheye = find("KVR-000003");
  ASSERT_TRUE(recorder && ptz && fisheye);
  EXPECT_FALSE(recorder->video.fisheye);
  EXPECT_FALSE(recorder->video.extra_cif);
  EXPECT_EQ(recorder->video.channel_names, (std::vector<std::string>{"Entrada", "Caixa", "Escada", "Estoque"}));
  EXPECT_FALSE(ptz->video.fisheye);
  EXPECT_TRUE(ptz->video.extra_cif);
  EXPECT_EQ(ptz->video.channel_names, (std::vector<std::string>{"Doca"}));
  EXPECT_EQ(ptz->video.ptz, std::vector<bool>{true}) << "its camera has a pan-tilt-zoom head";
  EXPECT_TRUE(recorder->video.ptz.empty() || !recorder->video.ptz[0]);
  EXPECT_TRUE(fisheye->video.fisheye);
  EXPECT_EQ(fisheye->channels, 1);
  // The recorder keeps the default schedule; the PTZ camera's days before yesterday and
  // yesterday hold 100 and 250 files of a minute from 08:00, for paging.
  EXPECT_FALSE(recorder->recordings.has_value());
  ASSERT_TRUE(ptz->recordings.has_value());
  int64_t now = time(nullptr);
  auto spans = recordings::channel_spans(ptz->recordings, 0, now);
  for (int day : {-2, -1}) {
    int64_t eight = recordings::local_midnight(now, day) + 8 * 3600;
    auto files = recordings::files_overlapping(spans, eight, recordings::local_midnight(now, day + 1), 0, 1000);
    size_t minutes = 0;
    for (const auto& f : files) minutes += f.end - f.start == 60 ? 1 : 0;
    EXPECT_EQ(minutes, day == -2 ? 100u : 250u) << day;
  }
  EXPECT_NE(recordings::month_mask(spans, recordings::from_epoch(now).year, recordings::from_epoch(now).month, 0), 0u);
}

TEST(FixtureDevices, RunsADeviceListedByTwoAccountsOnce) {
  const char* json = R"({"applications": [],
                         "accounts": [{"user": "u1", "password": "p", "devices": [{"dev_id": "a", "name": "first"}]},
                                      {"user": "u2", "password": "p", "devices": [{"dev_id": "a", "name": "second"}]}]})";
  std::vector<FixtureDevice> devices;
  std::string error;
  ASSERT_TRUE(parse_fixture_devices(json, devices, error)) << error;
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].settings.name, "first");
}

}  // namespace
}  // namespace sim::device
