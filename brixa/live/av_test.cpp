// Sound, PTZ, snapshots and local recordings of the library against the device simulator through
// real tunnels, in process on loopback: the one sounding stream, the fisheye electronic-PTZ
// records and window selection, the low byte of a PTZ parameter, snapshot and recording results.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "brixa/api/brixa.h"
#include "brixa/core/client_registry.h"
#include "brixa/live/audio_ptz.h"
#include "brixa/live/channel_capture.h"
#include "brixa/live/live_streams.h"
#include "brixa/sdk/sdk.h"
#include "devsdk/proto/media_block.h"
#include "devsdk/testing/bmp_probe.h"
#include "devsdk/testing/sound_site.h"
#include "platform/window/window.h"
#include "sim/device/device.h"
#include "sim/device/video/sound_loop.h"
#include "sim/tunnel/tunnel_service.h"

namespace brixa::live {
namespace {

using devsdk::testing::SoundSite;
using devsdk::testing::tone_power;
using sim::device::Device;
using sim::device::Settings;

bool wait_until(const std::function<bool()>& done, int ms = 15000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The electronic-PTZ record of each fisheye command, without a device.
TEST(EptzRecord, EachCommandBuildsItsOperation) {
  struct Case {
    int32_t command, stop, visualization, window;
    int32_t operation, value, horizontal, vertical;
  };
  const Case cases[] = {
      {0, 0, 2, 1, 32, 18, 0, -256},     {1, 0, 2, 1, 32, 18, 0, 256},
      {2, 0, 2, 1, 32, 18, -256, 0},     {3, 0, 2, 1, 32, 18, 256, 0},
      {4, 0, 2, 1, 1, 4, 0, 0},          {5, 0, 2, 1, 2, 4, 0, 0},
      {7, 0, 2, 1, 0, 0, 0, 0},          // unknown: no operation
      // The original of an original-plus-EPTZ view rotates instead of moving.
      {2, 0, 9, 0, 13, -1280, 0, 0},     {3, 0, 7, 0, 13, 1280, 0, 0},
      {3, 0, 10, 0, 13, 1280, 0, 0},     {3, 0, 24, 0, 13, 1280, 0, 0},
      {2, 0, 13, 4, 13, -1280, 0, 0},    {2, 0, 13, 0, 32, 18, -256, 0},
      {3, 0, 9, 1, 32, 18, 256, 0},
      // A stop is the stop whatever the command, preset selection included.
      {0, 1, 2, 1, 9, 0, 0, 0},          {3, 1, 9, 0, 9, 0, 0, 0},
      {10, 1, 2, 1, 9, 0, 0, 0},         {-1, 1, 2, 1, 9, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "command " << c.command << " stop " << c.stop << " view "
                                    << c.visualization << " window " << c.window);
    PLAY_FISHEYE_EPTZ u = eptz_update_for(c.command, c.stop, c.visualization, c.window);
    EXPECT_EQ(u.operation, c.operation);
    EXPECT_EQ(u.window, c.window);
    EXPECT_EQ(u.value, c.value);
    EXPECT_EQ(u.horizontal_step, c.horizontal);
    EXPECT_EQ(u.vertical_step, c.vertical);
  }
}

class AvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    signal(SIGPIPE, SIG_IGN);
    site_ = std::make_shared<SoundSite>();
    platform::set_host_site(site_);
    ASSERT_TRUE(service_.start());
    brixa_init("127.0.0.1", service_.port(), "key");
    client_ = brixa_create();
    ASSERT_NE(client_, nullptr);
    for (auto*& w : windows_) {
      w = platform::create_window(
          platform::WindowSpec{nullptr, platform::Rect{0, 0, 352, 288}, platform::WS_VISIBLE, "pane", nullptr, nullptr});
      ASSERT_NE(w, nullptr);
    }
    dir_ = std::filesystem::temp_directory_path() / ("brixa_av_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    brixa_release(client_);
    brixa_uninit();
    device_.reset();
    service_.stop();
    for (auto* w : windows_) platform::destroy_window(w);
    platform::set_host_site(nullptr);
    std::filesystem::remove_all(dir_);
  }

  void connect(Settings s) {
    s.users = {{"admin", "admin-pass"}};
    s.tunnel.service_port = service_.port();
    s.video.extra_cif = true;
    device_ = std::make_unique<Device>(std::move(s));
    ASSERT_TRUE(device_->start());
    ASSERT_TRUE(device_->wait_tunnel_registered(5000));
    brixa_connection c = brixa_create_connect(client_, device_->dev_id().c_str(), device_->tunnel_port(), 0);
    ASSERT_NE(c, nullptr);
    int32_t port = brixa_connnect_get_mapped_port(client_, c);
    ASSERT_GT(port, 0);
    ASSERT_EQ(brixa_login(client_, id(), static_cast<uint16_t>(port), "admin", "admin-pass"), 0);
  }
  const char* id() const { return device_->dev_id().c_str(); }
  std::string file(const char* name) const { return (dir_ / name).string(); }

  // Reads the session under the client's locks.
  template <class T>
  T session_value(const std::function<T(device_session*)>& read) {
    T value{};
    with_client(client_, [&](brixa_client* c) {
      DeviceListLock list(c->device_list_lock);
      if (device_session* s = find_session(c, id())) value = read(s);
      return 0;
    });
    return value;
  }
  int32_t stream_of(int32_t chl) {
    return session_value<int32_t>([chl](device_session* s) { return s->live.real_play_handle[chl]; });
  }

  std::shared_ptr<SoundSite> site_;
  sim::tunnel::TunnelService service_;
  std::unique_ptr<Device> device_;
  brixa_handle client_ = nullptr;
  platform::HWND windows_[2] = {};
  std::filesystem::path dir_;
};

Settings recorder(const char* id, int channels) {
  Settings s;
  s.dev_id = id;
  s.channels = channels;
  return s;
}

TEST_F(AvTest, OpeningSoundOnASecondChannelClosesTheFirst) {
  connect(recorder("KVR-AV-SOUND", 4));
  EXPECT_EQ(brixa_open_sound(client_, id(), 1), -4) << "not streaming";
  ASSERT_EQ(brixa_start_realplay(client_, windows_[0], id(), 1, 1), 0);
  ASSERT_EQ(brixa_start_realplay(client_, windows_[1], id(), 3, 1), 0);
  const int32_t first = stream_of(1), second = stream_of(3);

  ASSERT_EQ(brixa_open_sound(client_, id(), 1), 0);
  EXPECT_EQ(sound_stream_handle(), first);
  ASSERT_TRUE(wait_until([&] { return site_->count(first) >= 4000; }));
  auto heard = site_->samples(first);
  EXPECT_GT(tone_power(heard, sim::device::video::channel_tone_hz(1), 8000),
            20 * tone_power(heard, sim::device::video::channel_tone_hz(3), 8000));

  ASSERT_EQ(brixa_setvolume(client_, id(), 3, 25), 0);
  ASSERT_EQ(brixa_open_sound(client_, id(), 3), 0);
  EXPECT_EQ(sound_stream_handle(), second);
  EXPECT_EQ(site_->stopped(), std::vector<int32_t>{first});
  ASSERT_TRUE(wait_until([&] { return site_->count(second) >= 4000; }));
  heard = site_->samples(second);
  EXPECT_GT(tone_power(heard, sim::device::video::channel_tone_hz(3), 8000),
            20 * tone_power(heard, sim::device::video::channel_tone_hz(1), 8000));
  EXPECT_NEAR(devsdk::testing::peak(heard), 2000, 200);

  // Stopping the sounding stream forgets it; a close afterwards still succeeds.
  ASSERT_EQ(brixa_stop_realplay(client_, id(), 3), 0);
  EXPECT_EQ(sound_stream_handle(), 0);
  EXPECT_EQ(site_->stopped(), (std::vector<int32_t>{first, second}));
  EXPECT_EQ(brixa_close_sound(client_, id(), 1), 0);
  EXPECT_EQ(brixa_close_sound(client_, "KVR-NONE", 1), -3);
  EXPECT_EQ(brixa_setvolume(client_, id(), 3, 50), -4);
}

TEST_F(AvTest, PtzCommandsReachTheCameraWithTheLowByteOfTheirParameter) {
  Settings s = recorder("KVR-AV-PTZ", 2);
  s.video.ptz = {true};
  connect(s);
  auto head = device_->ptz_head(0);
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(brixa_ptz_command(client_, id(), 0, BRIXA_PTZ_RIGHT, 8, 0), -4) << "not streaming: nothing sent";
  EXPECT_FALSE(head->moving());
  ASSERT_EQ(brixa_start_realplay(client_, windows_[0], id(), 0, 1), 0);

  ASSERT_EQ(brixa_ptz_command(client_, id(), 0, BRIXA_PTZ_RIGHT, 8, 0), 0);
  EXPECT_TRUE(head->moving());
  ASSERT_EQ(brixa_ptz_command(client_, id(), 0, BRIXA_PTZ_RIGHT, 0, 1), 0);
  EXPECT_FALSE(head->moving());
  // 257 travels as 1: preset 1 is set at this position, and going there works.
  ASSERT_EQ(brixa_ptz_command(client_, id(), 0, BRIXA_PTZ_SET_PRESET, 257, 0), 0);
  const double pan = head->position().pan;
  ASSERT_EQ(brixa_ptz_command(client_, id(), 0, BRIXA_PTZ_LEFT, 8, 0), 0);
  ASSERT_TRUE(wait_until([&] { return head->position().pan < pan - 2; }));
  ASSERT_EQ(brixa_ptz_command(client_, id(), 0, BRIXA_PTZ_GOTO_PRESET, 1, 0), 0);
  EXPECT_DOUBLE_EQ(head->position().pan, pan);
  EXPECT_FALSE(head->moving());
  // A refusal of the camera is no failure of the export.
  EXPECT_EQ(brixa_ptz_command(client_, id(), 0, BRIXA_PTZ_GOTO_PRESET, 9, 0), 0);
  ASSERT_EQ(brixa_start_realplay(client_, windows_[1], id(), 1, 1), 0);
  EXPECT_EQ(brixa_ptz_command(client_, id(), 1, BRIXA_PTZ_UP, 4, 0), 0);
}

TEST_F(AvTest, FisheyeGoToPresetSelectsTheElectronicPtzWindow) {
  Settings s = recorder("KVR-AV-FISH", 1);
  s.video.fisheye = true;
  connect(s);
  ASSERT_EQ(brixa_start_realplay(client_, windows_[0], id(), 0, 1), 0);  // the small extra stream
  CapturePtr capture = find_capture_by_channel(id(), 0);
  ASSERT_NE(capture, nullptr);
  auto window_now = [&] { return session_value<int32_t>([](device_session* session) { return session->live.eptz_window; }); };
  struct Case {
    int32_t parameter, window;
  };
  for (const Case& c : {Case{1, 0}, Case{3, 2}, Case{0, -1}}) {
    ASSERT_EQ(brixa_ptz_command(client_, id(), 0, BRIXA_PTZ_GOTO_PRESET, c.parameter, 0), 0);
    EXPECT_EQ(window_now(), c.window) << c.parameter;
    EXPECT_EQ(capture->eptz_window.load(), c.window) << c.parameter;
  }
  // A stop never changes the selection, whatever command it carries.
  ASSERT_EQ(brixa_ptz_command(client_, id(), 0, BRIXA_PTZ_GOTO_PRESET, 0, 1), 0);
  EXPECT_EQ(window_now(), -1);

  // The fisheye sound plays through the play port; the snapshot is the stream's picture.
  const int32_t port = session_value<int32_t>([](device_session* session) { return session->live.play_port[0]; });
  ASSERT_GT(port, 0);
  ASSERT_EQ(brixa_open_sound(client_, id(), 0), 0);
  EXPECT_EQ(sound_stream_handle(), 0) << "the network client's sound stays closed";
  ASSERT_TRUE(wait_until([&] { return site_->count(PLAY_SOUND_STREAM_BASE + port) >= 2000; }));
  const std::string shot = file("fisheye.bmp");
  ASSERT_TRUE(wait_until([&] { return brixa_save_picture(client_, id(), 0, shot.c_str()) == 0; }));
  auto bmp = devsdk::testing::read_bmp(shot);
  EXPECT_EQ(bmp.bits, 24);
  EXPECT_EQ(bmp.width, 352);
  EXPECT_EQ(bmp.height, 288);
  ASSERT_EQ(brixa_close_sound(client_, id(), 0), 0);
  EXPECT_EQ(site_->stopped(), std::vector<int32_t>{PLAY_SOUND_STREAM_BASE + port});
}

TEST_F(AvTest, SnapshotResultsFollowTheChannelsState) {
  connect(recorder("KVR-AV-SHOT", 2));
  const std::string path = file("shot.bmp");
  EXPECT_EQ(brixa_save_picture(client_, id(), 0, path.c_str()), -4) << "not streaming";
  EXPECT_EQ(brixa_save_picture(client_, id(), 64, path.c_str()), -4);
  EXPECT_EQ(brixa_save_picture(client_, "KVR-NONE", 0, path.c_str()), -3);
  EXPECT_EQ(brixa_save_picture(nullptr, id(), 0, path.c_str()), -1);
  ASSERT_EQ(brixa_start_realplay(client_, windows_[0], id(), 0, 1), 0);
  ASSERT_TRUE(wait_until([&] { return brixa_save_picture(client_, id(), 0, path.c_str()) == 0; }));
  auto bmp = devsdk::testing::read_bmp(path);
  EXPECT_EQ(bmp.bits, 24);
  EXPECT_EQ(bmp.width, 352);
  EXPECT_EQ(bmp.height, 288);
  // A stalled stream shown as disconnected gives no picture.
  CapturePtr capture = find_capture_by_channel(id(), 0);
  ASSERT_NE(capture, nullptr);
  capture->stuck.store(1);
  std::filesystem::remove(path);
  EXPECT_EQ(brixa_save_picture(client_, id(), 0, path.c_str()), -3);
  EXPECT_FALSE(std::filesystem::exists(path));
  capture->stuck.store(0);
  EXPECT_EQ(brixa_save_picture(client_, id(), 0, file("no-folder/x.bmp").c_str()), -1) << "the SDK's refusal";
  // No playback runs on the device: the playback variants have nothing to act on.
  EXPECT_EQ(brixa_save_play_picture(client_, id(), path.c_str()), -4);
  EXPECT_EQ(brixa_start_play_recording(client_, id(), file("p.dav").c_str()), -4);
  EXPECT_EQ(brixa_stop_play_recording(client_, id()), -4);
}

TEST_F(AvTest, LocalRecordingWritesADavFromAKeyFrameAndStopsOnce) {
  connect(recorder("KVR-AV-REC", 2));
  const std::string path = file("rec.dav");
  EXPECT_EQ(brixa_start_recording(client_, id(), 1, path.c_str()), -4);
  ASSERT_EQ(brixa_start_realplay(client_, windows_[0], id(), 1, 1), 0);
  ASSERT_EQ(brixa_start_recording(client_, id(), 1, path.c_str()), 0);
  EXPECT_EQ(brixa_start_recording(client_, id(), 1, file("again.dav").c_str()), -1);
  ASSERT_TRUE(wait_until([&] { return std::filesystem::exists(path) && std::filesystem::file_size(path) > 30000; }));
  EXPECT_EQ(brixa_stop_recording(client_, id(), 1), 0);
  EXPECT_EQ(brixa_stop_recording(client_, id(), 1), -1) << "the second stop is refused by the SDK";

  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::vector<uint8_t> bytes(std::filesystem::file_size(path));
  ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
  std::fclose(f);
  proto::MediaBlockReader reader;
  reader.feed(bytes.data(), bytes.size());
  proto::MediaBlock block;
  ASSERT_EQ(reader.next(block), proto::MediaBlockReader::Result::block);
  EXPECT_EQ(block.kind, proto::kFrameVideoKey);
  while (reader.next(block) == proto::MediaBlockReader::Result::block) {
  }
  EXPECT_EQ(reader.buffered(), 0u) << "whole media blocks only";
  // The stop of the stream leaves nothing to stop.
  ASSERT_EQ(brixa_stop_realplay(client_, id(), 1), 0);
  EXPECT_EQ(brixa_stop_recording(client_, id(), 1), -4);
}

}  // namespace
}  // namespace brixa::live
