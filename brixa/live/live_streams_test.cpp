// Live streams against the device simulator through real tunnels, all in this process on
// loopback: start and stop, channel checks, the multi-channel preview, the fisheye capability,
// the resolution with its named fallback, connection facts, the forced reset after an invalid
// login, the release of a client, and pictures of a pane showing live video.
#include "brixa/live/live_streams.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "brixa/api/brixa.h"
#include "brixa/core/client_registry.h"
#include "brixa/live/channel_capture.h"
#include "brixa/sdk/sdk.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/testing/screenshot.h"
#include "platform/testing/debug_capture.h"
#include "platform/window/window.h"
#include "sim/device/device.h"
#include "sim/tunnel/tunnel_service.h"
#include "trace/trace.h"

namespace brixa::live {
namespace {

using sim::device::Device;
using sim::device::Fault;
using sim::device::FaultKind;
using sim::device::Settings;

constexpr uint16_t kGetConfig = 0x0010;
constexpr uint16_t kGetNamedConfig = 0x0012;

bool wait_until(const std::function<bool()>& done, int ms = 10000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class LiveStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A relay of the tunnel library may write into a socket its peer has just closed; like the
    // page host, the test process takes that as an error result, not as a fatal signal.
    signal(SIGPIPE, SIG_IGN);
    ASSERT_TRUE(service_.start());
    brixa_init("127.0.0.1", service_.port(), "key");
    client_ = brixa_create();
    ASSERT_NE(client_, nullptr);
    for (int i = 0; i < 2; ++i) {
      windows_[i] = platform::create_window(platform::WindowSpec{
          nullptr, platform::Rect{0, 0, 352, 288}, platform::WS_VISIBLE, "pane", nullptr, nullptr});
      ASSERT_NE(windows_[i], nullptr);
    }
  }
  void TearDown() override {
    trace::force_verbose_for_testing(false);
    brixa_release(client_);
    brixa_uninit();
    device_.reset();
    service_.stop();
    for (auto* w : windows_) platform::destroy_window(w);
  }

  // Starts a device and logs the client in to it through a tunnel.
  void connect(Settings s) {
    s.users = {{"admin", "admin-pass"}};
    s.tunnel.service_port = service_.port();
    device_ = std::make_unique<Device>(std::move(s));
    ASSERT_TRUE(device_->start());
    ASSERT_TRUE(device_->wait_tunnel_registered(5000));
    brixa_connection c = brixa_create_connect(client_, device_->dev_id().c_str(), device_->tunnel_port(), 0);
    ASSERT_NE(c, nullptr);
    int32_t port = brixa_connnect_get_mapped_port(client_, c);
    ASSERT_GT(port, 0);
    ASSERT_EQ(brixa_login(client_, device_->dev_id().c_str(), static_cast<uint16_t>(port), "admin", "admin-pass"), 0);
  }

  // Runs fn on the device's session under the client's locks.
  void with_session(const std::function<void(device_session*)>& fn) {
    with_client(client_, [&](brixa_client* c) {
      DeviceListLock list(c->device_list_lock);
      device_session* s = find_session(c, id());
      if (s != nullptr) fn(s);
      return 0;
    });
  }

  const char* id() const { return device_->dev_id().c_str(); }

  bool window_shows_video(platform::HWND w) {
    platform::HDC dc = platform::GetDC(w);
    auto picture = platform::testing::picture_of_dc(dc);
    platform::ReleaseDC(w, dc);
    for (int y = 0; y < picture.height; y += 7)
      for (int x = 0; x < picture.width; x += 7)
        if (picture.at(x, y) != platform::RGB(0, 0, 0)) return true;
    return false;
  }

  sim::tunnel::TunnelService service_;
  std::unique_ptr<Device> device_;
  brixa_handle client_ = nullptr;
  platform::HWND windows_[2] = {};
};

Settings recorder(const char* id, int channels = 4) {
  Settings s;
  s.dev_id = id;
  s.channels = channels;
  return s;
}

TEST_F(LiveStreamTest, StartingTwiceIsRefusedAndLeavesTheFirstStream) {
  connect(recorder("KVR-LIVE1"));
  ASSERT_EQ(brixa_start_realplay(client_, windows_[0], id(), 1, 0), 0);
  CapturePtr capture = find_capture_by_window(windows_[0]);
  ASSERT_NE(capture, nullptr);
  EXPECT_EQ(capture->channel, 1);
  EXPECT_EQ(brixa_start_realplay(client_, windows_[1], id(), 1, 0), -4);
  EXPECT_EQ(find_capture_by_window(windows_[1]), nullptr);
  EXPECT_TRUE(wait_until([&] { return window_shows_video(windows_[0]); })) << "the first stream draws";
  EXPECT_EQ(find_capture_by_channel(id(), 1), capture);

  EXPECT_EQ(brixa_stop_realplay(client_, id(), 1), 0);
  EXPECT_EQ(find_capture_by_channel(id(), 1), nullptr);
  EXPECT_EQ(brixa_stop_realplay(client_, id(), 1), -4);
  EXPECT_EQ(brixa_start_realplay(client_, windows_[1], id(), 1, 1), 0) << "the channel is free again";
}

TEST_F(LiveStreamTest, StoppingANonStreamingChannelStillDeletesItsCapture) {
  connect(recorder("KVR-LIVE2"));
  AddChannelCaptures(windows_[0], 777777, id(), 2, 0);
  EXPECT_EQ(brixa_stop_realplay(client_, id(), 2), -4);
  EXPECT_EQ(find_capture_by_channel(id(), 2), nullptr);
}

TEST_F(LiveStreamTest, ResultsOfTheCommonFrame) {
  connect(recorder("KVR-LIVE3"));
  int32_t w = -7, h = -7;
  struct Case {
    const char* what;
    int32_t result, expected;
  } cases[] = {
      {"start channel 64", brixa_start_realplay(client_, windows_[0], id(), 64, 0), -4},
      {"start channel -1", brixa_start_realplay(client_, windows_[0], id(), -1, 0), -4},
      {"stop channel 64", brixa_stop_realplay(client_, id(), 64), -4},
      {"resolution channel 64", brixa_get_channel_resolution(client_, id(), 64, 0, &w, &h), -4},
      {"start unknown device", brixa_start_realplay(client_, windows_[0], "nobody", 0, 0), -3},
      {"stop unknown device", brixa_stop_realplay(client_, "nobody", 0), -3},
      {"start null handle", brixa_start_realplay(nullptr, windows_[0], id(), 0, 0), -1},
      {"resolution null width", brixa_get_channel_resolution(client_, id(), 0, 0, nullptr, &h), -3},
      {"resolution null device", brixa_get_channel_resolution(client_, nullptr, 0, 0, &w, &h), -3},
  };
  for (const Case& c : cases) EXPECT_EQ(c.result, c.expected) << c.what;
  EXPECT_EQ(w, -7);
  EXPECT_EQ(h, -7);
  EXPECT_EQ(capture_count(), 0u);
}

TEST_F(LiveStreamTest, MultiChannelPreviewPassesChannelZero) {
  Settings s = recorder("KVR-LIVE4");
  s.multi_preview = 4;
  connect(s);
  ASSERT_EQ(brixa_start_realplay(client_, windows_[0], id(), 3, 2), 0);
  EXPECT_TRUE(wait_until([&] { return device_->video().viewers({0, uint32_t{NET_RTYPE_MULTIPLAY_4}}) == 1; }));
  EXPECT_EQ(device_->video().viewers({3, uint32_t{NET_RTYPE_MULTIPLAY_4}}), 0u);
  EXPECT_NE(find_capture_by_channel(id(), 3), nullptr) << "the capture keeps the asked channel";
}

TEST_F(LiveStreamTest, ConnectionFactsAndNullOutputs) {
  connect(recorder("KVR-LIVE5"));
  int32_t relay = -9, local = -9, remote = -9, version = -9;
  EXPECT_EQ(brixa_get_connection_type(client_, id(), &relay, &local, nullptr, &version), -3);
  EXPECT_EQ(relay, -9);
  EXPECT_EQ(local, -9);
  EXPECT_EQ(version, -9);
  ASSERT_EQ(brixa_get_connection_type(client_, id(), &relay, &local, &remote, &version), 0);
  EXPECT_TRUE(relay == 0 || relay == 1);
  EXPECT_EQ(version, 3);
  EXPECT_EQ(brixa_get_connection_type(client_, "nobody", &relay, &local, &remote, &version), -3);
}

TEST_F(LiveStreamTest, ResolutionFromTheLegacyConfiguration) {
  Settings s = recorder("KVR-LIVE6");
  s.video.extra_cif = true;
  s.video_standard = 1;
  connect(s);
  int32_t w = 0, h = 0;
  ASSERT_EQ(brixa_get_channel_resolution(client_, id(), 0, 0, &w, &h), 0);
  EXPECT_EQ(w, 1280);
  EXPECT_EQ(h, 720);
  ASSERT_EQ(brixa_get_channel_resolution(client_, id(), 0, 1, &w, &h), 0);
  EXPECT_EQ(w, 352);
  EXPECT_EQ(h, 240) << "CIF with the NTSC standard byte";
}

TEST_F(LiveStreamTest, NamedEncodeConfigurationIsPreferredAfterALegacyFailureUntilItFails) {
  connect(recorder("KVR-LIVE7"));
  platform::testing::DebugCapture lines;
  trace::force_verbose_for_testing(true);
  int32_t w = 0, h = 0;
  auto legacy_asked = [&] { return lines.mentions("NET_GetDevConfig DeviceCfg (296)"); };

  device_->set_fault(Fault{FaultKind::refuse, kGetConfig});
  ASSERT_EQ(brixa_get_channel_resolution(client_, id(), 0, 0, &w, &h), 0);
  EXPECT_TRUE(legacy_asked());
  EXPECT_EQ(w, 1280);
  EXPECT_EQ(h, 720);

  lines.clear();
  ASSERT_EQ(brixa_get_channel_resolution(client_, id(), 0, 0, &w, &h), 0);
  EXPECT_FALSE(legacy_asked()) << "the named configuration is asked at once";
  EXPECT_EQ(w, 1280);

  device_->set_fault(Fault{FaultKind::refuse, kGetNamedConfig});
  lines.clear();
  ASSERT_EQ(brixa_get_channel_resolution(client_, id(), 0, 0, &w, &h), 0);
  EXPECT_TRUE(lines.mentions("NET_GetNewDevConfig (319)"));
  EXPECT_EQ(w, 1280) << "the cache stays";

  device_->set_fault(Fault{FaultKind::refuse, kGetConfig});
  lines.clear();
  ASSERT_EQ(brixa_get_channel_resolution(client_, id(), 0, 0, &w, &h), 0);
  EXPECT_TRUE(legacy_asked()) << "after the named failure the legacy blocks come first again";
}

TEST_F(LiveStreamTest, FisheyeCapabilityIsAskedOncePerSession) {
  Settings s = recorder("KVR-FISH", 1);
  s.video.fisheye = true;
  connect(s);
  platform::testing::DebugCapture lines;
  trace::force_verbose_for_testing(true);
  ASSERT_EQ(brixa_start_realplay(client_, windows_[0], id(), 0, 0), 0);
  EXPECT_TRUE(lines.mentions("enabling fisheye mode (267)"));
  bool checked = false, camera = false;
  with_session([&](device_session* session) {
    checked = session->live.fisheye_checked != 0;
    camera = session->live.fisheye_camera != 0;
  });
  EXPECT_TRUE(checked);
  EXPECT_TRUE(camera);

  // The start waited for the lens geometry. Without it a setter changes nothing.
  CapturePtr capture = find_capture_by_channel(id(), 0);
  ASSERT_NE(capture, nullptr);
  auto geometry = [&](uint8_t received) {
    with_session([&](device_session* session) {
      ASSERT_NE(session->live.fisheye, nullptr);
      session->live.fisheye->info_received.store(received);
    });
  };
  geometry(0);
  brixa_set_fisheye_visualization(client_, id(), 0, 3);
  EXPECT_EQ(capture->visualization_mode.load(), 0);
  geometry(1);
  brixa_set_fisheye_visualization(client_, id(), 0, 3);
  EXPECT_EQ(capture->visualization_mode.load(), 3);
  EXPECT_FALSE(lines.mentions("Cannot set fisheye params"));

  ASSERT_EQ(brixa_stop_realplay(client_, id(), 0), 0);
  EXPECT_EQ(capture_count(), 0u);
  // The cached answer decides the next start; the device is not asked again.
  with_session([&](device_session* session) { session->live.fisheye_camera = 0; });
  lines.clear();
  ASSERT_EQ(brixa_start_realplay(client_, windows_[0], id(), 0, 0), 0);
  EXPECT_FALSE(lines.mentions("enabling fisheye mode"));
  EXPECT_TRUE(wait_until([&] { return window_shows_video(windows_[0]); })) << "plain pipeline draws";
}

TEST_F(LiveStreamTest, AnInvalidLoginHandleResetsTheSession) {
  connect(recorder("KVR-LIVE8"));
  platform::testing::DebugCapture lines;
  trace::force_verbose_for_testing(true);
  int32_t real_login = 0;
  with_session([&](device_session* s) {
    real_login = s->login_handle;
    s->login_handle = 0x7FFF0000;  // a login the SDK does not know
  });
  EXPECT_EQ(brixa_start_realplay(client_, windows_[0], id(), 0, 0), -5);
  EXPECT_TRUE(lines.mentions("Force logout from device as handle is invalid (648)"));
  EXPECT_TRUE(lines.mentions("Successfully closed connection to device (651)"));
  EXPECT_EQ(brixa_get_login_id(client_, id()), -3);
  EXPECT_EQ(capture_count(), 0u);
  NET_Logout(real_login);
}

TEST_F(LiveStreamTest, ReleasingTheClientStopsItsStreamsAndDeletesTheirCaptures) {
  connect(recorder("KVR-LIVE9"));
  ASSERT_EQ(brixa_start_realplay(client_, windows_[0], id(), 0, 0), 0);
  ASSERT_EQ(brixa_start_realplay(client_, windows_[1], id(), 1, 1), 0);
  EXPECT_EQ(capture_count(), 2u);
  brixa_release(client_);
  EXPECT_EQ(capture_count(), 0u);
  EXPECT_TRUE(wait_until([&] { return device_->video().streams() == 0; }));
}

TEST_F(LiveStreamTest, PaneOfLiveVideoWithTheAlarmOverlayAndTheBacklightFilter) {
  connect(recorder("KVR-LIVE10"));
  ASSERT_EQ(brixa_start_realplay(client_, windows_[0], id(), 0, 1), 0);
  CapturePtr capture = find_capture_by_window(windows_[0]);
  ASSERT_NE(capture, nullptr);
  ASSERT_TRUE(wait_until([&] { return window_shows_video(windows_[0]); }));
  std::filesystem::create_directories(KAVREL_TEST_OUTPUT_DIR);
  const std::string folder = KAVREL_TEST_OUTPUT_DIR;

  capture->motion_alarm.store(1);
  capture->video_loss_alarm.store(1);
  auto yellow_on_top = [&] {
    platform::HDC dc = platform::GetDC(windows_[0]);
    auto p = platform::testing::picture_of_dc(dc);
    platform::ReleaseDC(windows_[0], dc);
    int yellow = 0;
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < p.width; ++x) {
        platform::COLORREF c = p.at(x, y);
        if (platform::GetRValue(c) > 200 && platform::GetGValue(c) > 200 && platform::GetBValue(c) < 80) ++yellow;
      }
    return yellow > 40;
  };
  ASSERT_TRUE(wait_until(yellow_on_top));
  EXPECT_TRUE(platform::testing::write_window_png(windows_[0], folder + "/live_alarm_overlay.png"));

  capture->motion_alarm.store(0);
  capture->video_loss_alarm.store(0);
  brixa_set_wdr_mode(windows_[0], 1);
  brixa_set_wdr_intensity(windows_[0], 80);
  ASSERT_TRUE(wait_until([&] {
    std::unique_lock<std::timed_mutex> hold(capture->lock);
    return capture->filter != nullptr;
  }));
  ASSERT_TRUE(wait_until([&] { return !yellow_on_top(); }));
  EXPECT_TRUE(platform::testing::write_window_png(windows_[0], folder + "/live_backlight.png"));
}

}  // namespace
}  // namespace brixa::live
