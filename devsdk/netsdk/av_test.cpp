// Sound, pan-tilt-zoom, snapshots and local recordings of NetSDK live streams against the device
// simulator on a loopback port.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/netsdk_testing.h"
#include "devsdk/proto/media_block.h"
#include "devsdk/testing/bmp_probe.h"
#include "devsdk/testing/sound_site.h"
#include "platform/window/window.h"
#include "sim/device/device.h"
#include "sim/device/video/sound_loop.h"

namespace {

using devsdk::testing::BmpFacts;
using devsdk::testing::read_bmp;
using devsdk::testing::SoundSite;
using devsdk::testing::tone_power;
using sim::device::Device;
using sim::device::Settings;
using Clock = std::chrono::steady_clock;

constexpr uint32_t err(uint32_t number) { return NET_ERROR_BASE | number; }

bool eventually(const std::function<bool()>& done, int ms = 15000) {
  auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class NetSdkAvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    NET_TestReset();
    ASSERT_TRUE(NET_Init(nullptr, 0));
    NET_NetworkParams params{};
    params.wait_time_ms = 20000;  // a stream's first start encodes its loop; slow under sanitizers
    params.connect_time_ms = 2000;
    NET_SetNetworkParam(&params);
    site = std::make_shared<SoundSite>();
    platform::set_host_site(site);
    Settings s;
    s.dev_id = "KVR-AV";
    s.channels = 4;
    s.video.extra_cif = true;  // small pictures: quick views for the PTZ channel
    s.video.ptz = {true};      // channel 0 has a head
    device = std::make_unique<Device>(s);
    ASSERT_TRUE(device->start());
    login_id = NET_Login("127.0.0.1", device->port(), "admin", "admin", NET_LOGIN_MODE_TCP, nullptr, nullptr, nullptr);
    ASSERT_GT(login_id, 0);
    dir = std::filesystem::temp_directory_path() / ("netsdk_av_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override {
    NET_Cleanup();
    device.reset();
    platform::set_host_site(nullptr);
    for (auto* w : windows) platform::destroy_window(w);
    std::filesystem::remove_all(dir);
  }
  platform::HWND window() {
    windows.push_back(
        platform::create_window(platform::WindowSpec{nullptr, {0, 0, 352, 288}, platform::WS_VISIBLE, "pane"}));
    return windows.back();
  }
  std::string file(const char* name) const { return (dir / name).string(); }
  // The stream's snapshot once it has a picture.
  BmpFacts snapshot(int32_t stream, const char* name) {
    std::string path = file(name);
    EXPECT_TRUE(eventually([&] { return NET_CapturePicture(stream, path.c_str()) == 1; }));
    return read_bmp(path);
  }
  bool ptz(uint32_t command, int32_t param2, bool stop = false) {
    return NET_PTZControlEx(login_id, 0, command, 0, param2, 0, stop ? 1 : 0) == 1;
  }

  std::shared_ptr<SoundSite> site;
  std::unique_ptr<Device> device;
  int32_t login_id = 0;
  std::vector<platform::HWND> windows;
  std::filesystem::path dir;
};

TEST_F(NetSdkAvTest, SoundCarriesTheChannelsToneAndFollowsTheOneOpenStream) {
  const int32_t a = NET_RealPlayEx(login_id, 1, nullptr, NET_RTYPE_EXTRA);
  const int32_t b = NET_RealPlayEx(login_id, 2, nullptr, NET_RTYPE_EXTRA);
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(site->count(a) + site->count(b), 0u) << "no sound before it is opened";

  ASSERT_EQ(NET_OpenSound(a), 1);
  ASSERT_TRUE(eventually([&] { return site->count(a) >= 4000; }));
  EXPECT_EQ(site->rate(a), 8000);
  auto heard = site->samples(a);
  const double own = tone_power(heard, sim::device::video::channel_tone_hz(1), 8000);
  for (int other : {0, 2, 3})
    EXPECT_GT(own, 20 * tone_power(heard, sim::device::video::channel_tone_hz(other), 8000)) << "channel " << other;
  EXPECT_NEAR(devsdk::testing::peak(heard), 8000, 400) << "full volume";

  // Opening the second stream's sound ends the first's.
  ASSERT_EQ(NET_SetVolume(b, 50), 1);
  ASSERT_EQ(NET_OpenSound(b), 1);
  EXPECT_EQ(site->stopped(), std::vector<int32_t>{a});
  const size_t a_after = site->count(a);
  ASSERT_TRUE(eventually([&] { return site->count(b) >= 4000; }));
  EXPECT_EQ(site->count(a), a_after) << "nothing of the first stream after its end";
  heard = site->samples(b);
  EXPECT_GT(tone_power(heard, sim::device::video::channel_tone_hz(2), 8000),
            20 * tone_power(heard, sim::device::video::channel_tone_hz(1), 8000));
  EXPECT_NEAR(devsdk::testing::peak(heard), 4000, 300) << "half volume";

  // The stop of the sounding stream ends its sound; a close with nothing open is no failure.
  ASSERT_EQ(NET_StopRealPlay(b), 1);
  EXPECT_EQ(site->stopped(), (std::vector<int32_t>{a, b}));
  EXPECT_EQ(NET_CloseSound(), 1);
  EXPECT_EQ(site->stopped().size(), 2u);
  EXPECT_EQ(NET_OpenSound(b), 0);
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_INVALID_HANDLE));
  EXPECT_EQ(NET_StopRealPlay(a), 1);
}

TEST_F(NetSdkAvTest, PtzMovesTheViewAndAPresetBringsItBack) {
  const int32_t h = NET_RealPlayEx(login_id, 0, window(), NET_RTYPE_EXTRA);
  ASSERT_GT(h, 0);
  auto head = device->ptz_head(0);
  ASSERT_NE(head, nullptr);
  ASSERT_TRUE(ptz(NET_PTZ_SET_PRESET, 1));
  BmpFacts home = snapshot(h, "home.bmp");
  ASSERT_TRUE(home.valid);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // The scene lives (a ball, a car, a windmill, the clock): those change a few hundredths of the
  // picture from one moment to the next, however long the moment, while a view that moved changes
  // the buildings and the road across the picture. The share of changed pixels tells them apart;
  // a mean difference does not, since a car that drove on weighs as much as a skyline that moved.
  constexpr double kViewMoved = 0.09;
  const double still = home.changed_share(snapshot(h, "home2.bmp"));
  ASSERT_LT(still, kViewMoved) << "only the moving things change while the view stays";

  struct Case {
    uint32_t command;
    const char* name;
    std::function<bool(const sim::device::video::PtzHead::Position&)> arrived;
  };
  const Case cases[] = {
      {NET_PTZ_RIGHT, "right", [](const auto& p) { return p.pan >= 6; }},
      {NET_PTZ_LEFT, "left", [](const auto& p) { return p.pan <= -6; }},
      {NET_PTZ_UP, "up", [](const auto& p) { return p.tilt <= -4; }},
      {NET_PTZ_ZOOM_IN, "zoom in", [](const auto& p) { return p.zoom >= 2; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(ptz(c.command, 8));
    ASSERT_TRUE(eventually([&] { return c.arrived(head->position()); }));
    ASSERT_TRUE(ptz(c.command, 0, true));
    EXPECT_FALSE(head->moving());
    double moved = 0;
    EXPECT_TRUE(eventually([&] { return (moved = home.changed_share(snapshot(h, "moved.bmp"))) > kViewMoved; }))
        << "the picture shows the new view; still " << still << ", moved " << moved;

    ASSERT_TRUE(ptz(NET_PTZ_GOTO_PRESET, 1));
    auto p = head->position();
    EXPECT_EQ(p.pan, 0);
    EXPECT_EQ(p.tilt, 0);
    EXPECT_EQ(p.zoom, 0);
    double back = 1;
    EXPECT_TRUE(eventually([&] { return (back = home.changed_share(snapshot(h, "back.bmp"))) < kViewMoved; }))
        << "the picture is back at the preset's view; still " << still << ", back " << back;
  }
  EXPECT_EQ(NET_StopRealPlay(h), 1);
}

TEST_F(NetSdkAvTest, PtzRefusalsNameTheirCause) {
  struct Case {
    int32_t channel;
    uint32_t command;
    int32_t param2;
    uint32_t error;
  };
  const Case cases[] = {
      {1, NET_PTZ_UP, 4, NET_ERR_NOT_SUPPORTED},            // no head on this channel
      {0, 99, 4, NET_ERR_NOT_SUPPORTED},                    // unknown command
      {0, NET_PTZ_GOTO_PRESET, 7, NET_ERR_NO_RECORD_FOUND}, // never set
      {0, NET_PTZ_SET_PRESET, 0, NET_ERR_ILLEGAL_PARAM},
      {0, NET_PTZ_SET_PRESET, 256, NET_ERR_ILLEGAL_PARAM},
      {9, NET_PTZ_UP, 4, NET_ERR_ILLEGAL_PARAM},            // no such channel
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "channel " << c.channel << " command " << c.command << " " << c.param2);
    EXPECT_EQ(NET_PTZControlEx(login_id, c.channel, c.command, 0, c.param2, 0, 0), 0);
    EXPECT_EQ(NET_GetLastError(), err(c.error));
  }
  // A stop is taken whatever command it names (the last one sent, or none).
  EXPECT_EQ(NET_PTZControlEx(login_id, 0, 0xFFFFFFFFu, -1, -1, 0, 1), 1);
  EXPECT_EQ(NET_PTZControlEx(login_id + 1000, 0, NET_PTZ_UP, 0, 4, 0, 0), 0);
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_INVALID_HANDLE));
}

TEST_F(NetSdkAvTest, SnapshotIsA24BitBitmapOfTheStreamsSizeAndNothingBeforeAPicture) {
  // Without a window the stream is not decoded: there is never a picture to write.
  const int32_t raw = NET_RealPlayEx(login_id, 1, nullptr, NET_RTYPE_EXTRA);
  ASSERT_GT(raw, 0);
  const std::string none = file("none.bmp");
  EXPECT_EQ(NET_CapturePicture(raw, none.c_str()), 0);
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_RETURN_DATA_ERROR));
  EXPECT_FALSE(std::filesystem::exists(none));

  struct Case {
    int32_t type;
    int32_t width, height;
  };
  for (const Case& c : {Case{NET_RTYPE_EXTRA, 352, 288}, Case{NET_RTYPE_MAIN, 1280, 720}}) {
    const int32_t h = NET_RealPlayEx(login_id, 2, window(), c.type);
    ASSERT_GT(h, 0);
    BmpFacts bmp = snapshot(h, "shot.bmp");
    ASSERT_TRUE(bmp.valid);
    EXPECT_EQ(bmp.bits, 24);
    EXPECT_EQ(bmp.width, c.width);
    EXPECT_EQ(bmp.height, c.height) << "positive: bottom-up rows";
    EXPECT_EQ(bmp.file_size, bmp.actual_size);
    EXPECT_EQ(bmp.pixels.size(), static_cast<size_t>((c.width * 3 + 3) / 4 * 4) * c.height);
    EXPECT_EQ(NET_StopRealPlay(h), 1);
  }
  // A path that cannot be written fails and leaves nothing.
  const int32_t h = NET_RealPlayEx(login_id, 2, window(), NET_RTYPE_EXTRA);
  snapshot(h, "first.bmp");
  const std::string bad = file("missing-folder/shot.bmp");
  EXPECT_EQ(NET_CapturePicture(h, bad.c_str()), 0);
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_SYSTEM_ERROR));
  EXPECT_EQ(NET_StopRealPlay(h), 1);
  EXPECT_EQ(NET_StopRealPlay(raw), 1);
}

TEST_F(NetSdkAvTest, LocalRecordingWritesMediaBlocksFromAKeyFrame) {
  const int32_t h = NET_RealPlayEx(login_id, 3, nullptr, NET_RTYPE_EXTRA);
  ASSERT_GT(h, 0);
  const std::string path = file("local.dav");
  ASSERT_EQ(NET_SaveRealData(h, path.c_str()), 1);
  EXPECT_EQ(NET_SaveRealData(h, file("second.dav").c_str()), 0) << "one recording of a stream at a time";
  EXPECT_FALSE(std::filesystem::exists(file("second.dav")));
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(path) && std::filesystem::file_size(path) > 60000; }));
  ASSERT_EQ(NET_StopSaveRealData(h), 1);
  EXPECT_EQ(NET_StopSaveRealData(h), 0) << "nothing runs any more";
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_ILLEGAL_PARAM));
  const auto size = std::filesystem::file_size(path);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(std::filesystem::file_size(path), size) << "nothing is written after the stop";

  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::vector<uint8_t> bytes(size);
  ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
  std::fclose(f);
  proto::MediaBlockReader reader;
  reader.feed(bytes.data(), bytes.size());
  std::vector<proto::MediaBlock> blocks;
  proto::MediaBlock block;
  proto::MediaBlockReader::Result r;
  while ((r = reader.next(block)) == proto::MediaBlockReader::Result::block) blocks.push_back(block);
  EXPECT_EQ(r, proto::MediaBlockReader::Result::need_more);
  EXPECT_EQ(reader.buffered(), 0u) << "whole blocks only";
  ASSERT_FALSE(blocks.empty());
  EXPECT_EQ(blocks.front().kind, proto::kFrameVideoKey);
  EXPECT_EQ(blocks.front().codec, proto::kCodecH264);
  size_t sound = 0;
  for (const auto& b : blocks) sound += b.kind == proto::kFrameAudio ? 1 : 0;
  EXPECT_GT(sound, 0u) << "the sound is recorded with the pictures";
  EXPECT_EQ(NET_SaveRealData(h + 1000, path.c_str()), 0);
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_INVALID_HANDLE));
  EXPECT_EQ(NET_StopRealPlay(h), 1);
}

}  // namespace
