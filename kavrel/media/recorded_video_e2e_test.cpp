// Recorded video from end to end, with the real library, NetSDK and stream converter: the control
// searches a day of the simulated device's recordings, plays one back, and exports a minute of it
// as MP4 into the user's chosen file, which a media prober reads back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/control_host.h"
#include "kavrel/core/callback_names.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "platform/net/socket_io.h"
#include "platform/window/testing/scripted_site.h"
#include "sim/cloud/cloud_service.h"
#include "sim/cloud/service_crypto.h"
#include "sim/device/device.h"
#include "sim/device/fixture_devices.h"
#include "sim/fixture/fixture.h"
#include "sim/tunnel/tunnel_service.h"

namespace {

using namespace std::chrono_literals;
using com::Variant;
using kavrel::CkavrelCtrl;
namespace fs = std::filesystem;

constexpr const char* kPassPhrase = "3D7A0C52-E8B1-4F96-A25D-6B0E91C4F7A3";
constexpr com::DISPID kCallBackMsg = 32;

// One device on the default recording schedule (hourly files over the last weeks).
const char* kFixture = R"({
  "applications": [ { "app_key": "page-app-key", "app_pass": "page-app-pass" } ],
  "accounts": [ {
    "user": "alice", "password": "alice-pw", "devs_sn": 10, "cams_sn": 20,
    "devices": [
      { "dev_id": "KVR-REC", "dev_user": "admin", "dev_pass": "rec-pw", "name": "Loja", "channel_count": 1,
        "dev_port": REC_PORT, "dev_http_port": 80 }
    ],
    "cameras": { "cams": [ { "id": "KVR-REC_000", "devid": "KVR-REC", "chlid": 0 } ] }
  } ]
})";

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// Yesterday's date as "YYYYMMDD", local time.
std::string yesterday() {
  std::time_t now = std::time(nullptr) - 24 * 3600;
  std::tm local{};
  localtime_r(&now, &local);
  char text[48];
  std::snprintf(text, sizeof text, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  return text;
}

// The duration ffprobe reads from a media file, in seconds; negative when it cannot.
double probed_duration(const std::string& path) {
  std::string command = "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char line[128] = {};
  bool read = std::fgets(line, sizeof line, pipe) != nullptr;
  ::pclose(pipe);
  return read ? std::atof(line) : -1;
}

TEST(RecordedVideoEndToEnd, ADaySearchedPlayedBackAndAMinuteExportedAsMp4) {
  char pattern[] = "/tmp/kavrel-e2e-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string home = pattern;
  ::setenv("XDG_CACHE_HOME", home.c_str(), 1);
  fs::create_directories(home + "/browser-cache");
  fs::create_directories(home + "/downloads");
  auto site = std::make_shared<platform::testing::ScriptedSite>();
  site->set_cache_folder(home + "/browser-cache");
  platform::set_host_site(site);

  std::string error;
  std::string fixture_text = kFixture;
  uint16_t port = 0;
  { auto probe = platform::net::listen_loopback(0, &port); }
  fixture_text.replace(fixture_text.find("REC_PORT"), 8, std::to_string(port));
  sim::fixture::Fixture fixture;
  ASSERT_TRUE(sim::fixture::parse(fixture_text.c_str(), fixture, error)) << error;
  sim::cloud::CloudService cloud;
  ASSERT_TRUE(cloud.load_fixture(fixture, error)) << error;
  ASSERT_NE(cloud.start(), 0);
  sim::tunnel::TunnelService tunnel;
  ASSERT_TRUE(tunnel.start());
  std::vector<sim::device::FixtureDevice> devices;
  ASSERT_TRUE(sim::device::parse_fixture_devices(fixture_text.c_str(), devices, error)) << error;
  devices.front().settings.tunnel.service_port = tunnel.port();
  sim::device::Device device(devices.front().settings);
  ASSERT_TRUE(device.start());
  ASSERT_TRUE(device.wait_tunnel_registered(5000));

  CkavrelCtrl* control = nullptr;
  auto host = host::ControlHost::adopt(
      [&] {
        control = CkavrelCtrl::Create();
        return static_cast<com::IDispatch*>(control);
      },
      &error);
  ASSERT_NE(host, nullptr) << error;
  ASSERT_EQ(host->create_window(), com::S_OK);
  auto event = [&](int32_t id, const std::function<bool(int32_t, int32_t, const std::string&)>& match,
                   std::chrono::milliseconds limit) {
    return host->wait_for_event(
        [&](const host::ScriptEvent& e) {
          return e.id == kCallBackMsg && e.arg_long(2) == id &&
                 match(e.arg_long(3), e.arg_long(4), e.arg_is_null(5) ? "" : e.arg_text(5));
        },
        limit);
  };

  ASSERT_EQ(host->call("CliInit", {Variant::string(kavrel::to_wide(cloud.url())),
                                   Variant::string(kavrel::to_wide(sim::cloud::aes_encrypt_base64("page-app-key", kPassPhrase))),
                                   Variant::string(kavrel::to_wide(sim::cloud::aes_encrypt_base64("page-app-pass", kPassPhrase))),
                                   Variant::string(u"127.0.0.1"), Variant::i4(tunnel.port()), Variant::null()}),
            com::S_OK);
  ASSERT_EQ(host->call("CliCloudInitSimple", {Variant::string(u"alice"), Variant::string(u"alice-pw")}), com::S_OK);
  ASSERT_TRUE(event(kavrel::kEventP2PConnected, [](int32_t t1, int32_t, const std::string& i) { return t1 == 1 && i == "KVR-REC"; }, 30s));
  ASSERT_TRUE(eventually([&] { return control->cameras().size() == 1; }, 30s));

  // The day's recorded files arrive as the library's JSON.
  const std::string day = yesterday();
  ASSERT_EQ(host->call("CliQueryRecordDev", {Variant::string(u"KVR-REC_000"), Variant::string(kavrel::to_wide(day + "000000")),
                                             Variant::string(kavrel::to_wide(day + "235959"))}),
            com::S_OK);
  auto files = event(kavrel::kEventRecordQuery, [](int32_t page, int32_t, const std::string&) { return page >= 1; }, 60s);
  ASSERT_TRUE(files);
  EXPECT_GT(files->arg_long(4), 0) << files->arg_text(5);
  EXPECT_EQ(files->arg_text(5).front(), '{');

  // Without a start time and without a playback to take one from, the library refuses.
  Variant refused;
  ASSERT_EQ(host->call("CliStartBackup", {Variant::string(u"KVR-REC_000"), Variant::string(u""), Variant::i4(60)}, &refused),
            com::S_OK);
  EXPECT_EQ(refused.lval, -3);
  EXPECT_TRUE(event(kavrel::kEventExportStarted, [](int32_t, int32_t t2, const std::string& i) { return t2 == -1 && i == "KVR-REC_000"; }, 15s));
  EXPECT_FALSE(control->isBackupRunning());

  // Playback from ten in the morning in the playback pane.
  ASSERT_EQ(host->call("CliChangePageTo", {Variant::i4(1)}), com::S_OK);
  ASSERT_EQ(host->call("CliStartPlaybackDev", {Variant::string(u"KVR-REC_000"), Variant::string(kavrel::to_wide(day + "100000")),
                                               Variant::i4(0)}),
            com::S_OK);
  ASSERT_TRUE(eventually([&] { return control->playback_handle() > 0; }, 60s));

  // A minute exported as MP4 into the chosen file.
  platform::SaveDialogResult chosen;
  chosen.chosen = true;
  chosen.path = home + "/downloads/minuto.mp4";
  site->answer_save(chosen);
  Variant started;
  ASSERT_EQ(host->call("CliStartBackup", {Variant::string(u"KVR-REC_000"), Variant::string(kavrel::to_wide(day + "100000")),
                                          Variant::i4(60)},
                       &started),
            com::S_OK);
  ASSERT_EQ(started.lval, 0);
  ASSERT_TRUE(event(kavrel::kEventExportStarted, [](int32_t, int32_t t2, const std::string&) { return t2 == 0; }, 15s));
  ASSERT_TRUE(eventually([&] { return !control->isBackupRunning() && fs::exists(chosen.path); }, 120s));
  ASSERT_TRUE(eventually([&] { return fs::is_empty(home + "/browser-cache"); }, 30s)) << "temporary files left";
  double seconds = probed_duration(chosen.path);
  EXPECT_NEAR(seconds, 60.0, 2.0) << chosen.path;

  ASSERT_EQ(host->call("CliStopPlaybackDev", {Variant::i4(0)}), com::S_OK);
  host->call("CliUnInit", {});
  host.reset();
  platform::set_host_site(nullptr);
  fs::remove_all(home);
}

}  // namespace
