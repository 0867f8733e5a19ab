// Live streams of the NetSDK against the device simulator on a loopback port: stream start and
// stop, the raw stream, pictures drawn into a window surface with their time code, shared
// streams on the device, and the invalid-handle errors.
#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/netsdk_testing.h"
#include "devsdk/proto/media_block.h"
#include "platform/gdi/gdi.h"
#include "platform/window/surface.h"
#include "sim/device/device.h"
#include "sim/device/video/encoded_loop.h"
#include "sim/device/video/time_code.h"

namespace {

using sim::device::Device;
using sim::device::Settings;
using Clock = std::chrono::steady_clock;

constexpr uint32_t err(uint32_t number) { return NET_ERROR_BASE | number; }

uint64_t wall_ms() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count());
}

// Waits for `done` up to `ms`, polling; the picture's encoder may have to run once first.
bool eventually(const std::function<bool()>& done, int ms = 10000) {
  auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// What a real-data callback received: the raw stream cut into blocks. SDK thread writes, the
// test reads; guarded by lock.
struct RawStream {
  std::mutex lock;
  proto::MediaBlockReader reader;
  std::vector<proto::MediaBlock> blocks;
  bool malformed = false;
  int32_t handle = 0;
  size_t count() {
    std::lock_guard<std::mutex> hold(lock);
    return blocks.size();
  }
};
void on_raw(int32_t handle, uint32_t type, const uint8_t* data, uint32_t size, int32_t param, intptr_t user) {
  auto* raw = reinterpret_cast<RawStream*>(user);
  std::lock_guard<std::mutex> hold(raw->lock);
  EXPECT_EQ(type, NET_DATA_RAW);
  EXPECT_EQ(param, 0);
  raw->handle = handle;
  raw->reader.feed(data, size);
  proto::MediaBlock block;
  for (;;) {
    auto r = raw->reader.next(block);
    if (r == proto::MediaBlockReader::Result::need_more) break;
    if (r == proto::MediaBlockReader::Result::malformed) {
      raw->malformed = true;
      break;
    }
    raw->blocks.push_back(std::move(block));
  }
}

// What the drawing callback saw. SDK threads write.
struct Draws {
  std::atomic<int> calls{0};
  std::atomic<int> bad_dc{0};
  std::atomic<int32_t> login{0};
  std::atomic<int32_t> stream{0};
  platform::HWND window = nullptr;
};
void on_draw(int32_t login_id, int32_t stream_handle, void* dc, intptr_t user) {
  auto* d = reinterpret_cast<Draws*>(user);
  d->login = login_id;
  d->stream = stream_handle;
  if (dc == nullptr || platform::WindowFromDC(static_cast<platform::HDC>(dc)) != d->window) ++d->bad_dc;
  ++d->calls;
}

// A drawing callback that paints a magenta corner over each picture and, first, composes the
// window as the host's frame sender would at that moment. Stream thread only, but for `bare`.
struct OverlaySeen {
  platform::HWND window = nullptr;
  std::unique_ptr<platform::Compositor> compositor;
  platform::Compositor::Frame frame;
  std::atomic<int> calls{0};
  std::atomic<int> bare{0};  // compositions that showed a picture without its corner
};
constexpr int kCorner = 4;
uint32_t corner_of(const platform::Compositor::Frame& frame) {
  const uint8_t* px = frame.pixels.data();
  return (uint32_t{px[2]} << 16) | (uint32_t{px[1]} << 8) | px[0];
}
void on_draw_corner(int32_t, int32_t, void*, intptr_t user) {
  auto* d = reinterpret_cast<OverlaySeen*>(user);
  d->compositor->compose(&d->frame);
  // Black before anything was shown, magenta once a whole picture was: never the bare picture.
  uint32_t shown = corner_of(d->frame);
  if (shown != 0x000000u && shown != 0xFF00FFu) d->bare.fetch_add(1);
  {
    platform::SurfaceAccess access(d->window);
    const platform::SurfacePixels& px = access.pixels();
    for (int y = 0; y < kCorner; ++y) {
      for (int x = 0; x < kCorner; ++x) {
        uint8_t* p = px.data + y * px.stride + x * 4;
        p[0] = 0xFF;
        p[1] = 0;
        p[2] = 0xFF;
      }
    }
    access.mark_changed(nullptr);
  }
  d->calls.fetch_add(1);
}

class NetSdkStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    NET_TestReset();
    ASSERT_TRUE(NET_Init(nullptr, 0));
    NET_NetworkParams params{};
    params.wait_time_ms = 5000;
    params.connect_time_ms = 2000;
    NET_SetNetworkParam(&params);
    Settings s;
    s.dev_id = "KVR-STREAM";
    s.channels = 4;
    s.video.channel_names = {"Entrada", "Caixa"};
    device = std::make_unique<Device>(s);
    ASSERT_TRUE(device->start());
    login_id = NET_Login("127.0.0.1", device->port(), "admin", "admin", NET_LOGIN_MODE_TCP, nullptr, nullptr, nullptr);
    ASSERT_GT(login_id, 0);
  }
  void TearDown() override {
    NET_Cleanup();
    device.reset();
  }
  size_t device_streams() const { return device->video().streams(); }

  std::unique_ptr<Device> device;
  int32_t login_id = 0;
};

TEST_F(NetSdkStreamTest, RawStreamStartsWithAKeyPictureAndStopsOnRequest) {
  int32_t h = NET_RealPlayEx(login_id, 1, nullptr, NET_RTYPE_EXTRA);
  ASSERT_GT(h, 0) << std::hex << NET_GetLastError();
  RawStream raw;
  ASSERT_EQ(NET_SetRealDataCallBackEx(h, on_raw, reinterpret_cast<intptr_t>(&raw), NET_DATA_FLAG_ALL), 1);
  ASSERT_TRUE(eventually([&] { return raw.count() >= 60; }));  // 30 pictures and their sound
  {
    std::lock_guard<std::mutex> hold(raw.lock);
    EXPECT_FALSE(raw.malformed);
    EXPECT_EQ(raw.handle, h);
    // The callback is registered after the stream started, so on a busy machine it may first
    // see the end of a group; the stream itself hands out a key picture before any other.
    auto key = std::find_if(raw.blocks.begin(), raw.blocks.end(),
                            [](const auto& b) { return b.kind == proto::kFrameVideoKey; });
    ASSERT_NE(key, raw.blocks.end());
    const auto& first = *key;
    EXPECT_EQ(first.codec, proto::kCodecH264);
    EXPECT_EQ(first.width, 704);
    EXPECT_EQ(first.height, 576);
    // Capture times run at 25 pictures a second, and end near now (the sound blocks between
    // the pictures carry their picture's time).
    std::vector<uint64_t> pictures;
    for (const auto& b : raw.blocks)
      if (b.kind == proto::kFrameVideoKey || b.kind == proto::kFrameVideoDelta) pictures.push_back(b.timestamp_ms);
    ASSERT_GE(pictures.size(), 26u);
    uint64_t span = pictures.back() - pictures[pictures.size() - 26];
    EXPECT_GE(span, 900u);
    EXPECT_LE(span, 1200u);
    EXPECT_LE(raw.blocks.back().timestamp_ms, wall_ms());
    EXPECT_GT(raw.blocks.back().timestamp_ms + 2000, wall_ms());
  }
  EXPECT_EQ(device_streams(), 1u);
  EXPECT_EQ(NET_StopRealPlay(h), 1);
  size_t after_stop = raw.count();
  EXPECT_TRUE(eventually([&] { return device_streams() == 0; }, 3000));
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  EXPECT_EQ(raw.count(), after_stop);  // no callback after the stop returned
  EXPECT_EQ(NET_StopRealPlay(h), 0);
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_INVALID_HANDLE));
}

TEST_F(NetSdkStreamTest, PicturesAreDrawnIntoTheWindowWithTheirCaptureTime) {
  platform::HWND window = platform::create_window(platform::WindowSpec{nullptr, {0, 0, 320, 240}, platform::WS_VISIBLE, "pane"});
  ASSERT_NE(window, nullptr);
  Draws seen;
  seen.window = window;
  NET_RegisterDrawFun(on_draw, reinterpret_cast<intptr_t>(&seen));
  uint64_t started = wall_ms();
  int32_t h = NET_RealPlayEx(login_id, 0, window, NET_RTYPE_EXTRA);
  ASSERT_GT(h, 0) << std::hex << NET_GetLastError();
  ASSERT_TRUE(eventually([&] { return seen.calls.load() >= 3; }));
  EXPECT_EQ(seen.bad_dc.load(), 0);
  EXPECT_EQ(seen.login.load(), login_id);
  EXPECT_EQ(seen.stream.load(), h);

  // The scene moves and the time code reads back a capture time from this stream's run.
  auto sample = [&](std::vector<uint8_t>& scene, uint64_t& capture) {
    platform::SurfaceAccess access(window);
    ASSERT_TRUE(access.valid());
    const auto& px = access.pixels();
    ASSERT_EQ(px.width, 320);
    ASSERT_EQ(px.height, 240);
    scene.assign(px.data, px.data + static_cast<size_t>(px.stride) * (px.height * 3 / 4));
    ASSERT_TRUE(sim::device::video::read_time_code(px.data, px.stride, px.width, px.height, 704, 576, wall_ms(),
                                                   &capture));
  };
  std::vector<uint8_t> first, second;
  uint64_t first_capture = 0, second_capture = 0;
  sample(first, first_capture);
  int calls = seen.calls.load();
  ASSERT_TRUE(eventually([&] { return seen.calls.load() >= calls + 5; }));
  sample(second, second_capture);
  EXPECT_NE(first, second);
  EXPECT_GE(first_capture + 1000, started);  // a burst at start may carry up to a second's age
  EXPECT_GT(second_capture, first_capture);
  EXPECT_LE(second_capture, wall_ms());

  EXPECT_EQ(NET_StopRealPlay(h), 1);
  int after = seen.calls.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  EXPECT_EQ(seen.calls.load(), after);
  NET_RegisterDrawFun(nullptr, 0);
  platform::destroy_window(window);
}

TEST_F(NetSdkStreamTest, ACompositionNeverShowsAPictureWithoutWhatTheCallbackDrewOverIt) {
  platform::HWND window = platform::create_window(platform::WindowSpec{nullptr, {0, 0, 320, 240}, platform::WS_VISIBLE, "pane"});
  ASSERT_NE(window, nullptr);
  OverlaySeen seen;
  seen.window = window;
  seen.compositor = std::make_unique<platform::Compositor>(window);
  NET_RegisterDrawFun(on_draw_corner, reinterpret_cast<intptr_t>(&seen));
  int32_t h = NET_RealPlayEx(login_id, 0, window, NET_RTYPE_EXTRA);
  ASSERT_GT(h, 0) << std::hex << NET_GetLastError();
  ASSERT_TRUE(eventually([&] { return seen.calls.load() >= 10; }));
  EXPECT_EQ(NET_StopRealPlay(h), 1);
  NET_RegisterDrawFun(nullptr, 0);
  EXPECT_EQ(seen.bare.load(), 0) << "a composition caught a picture before its overlay";
  // Once the pictures stop, the last one is shown whole.
  seen.compositor->compose(&seen.frame);
  EXPECT_EQ(corner_of(seen.frame), 0xFF00FFu);
  platform::destroy_window(window);
}

TEST_F(NetSdkStreamTest, ViewersOfOneStreamShareItsEncodingAndTheLastStopEndsIt) {
  uint64_t encoded_before = sim::device::video::loops_encoded();
  RawStream raw[3];
  int32_t handles[3];
  for (int i = 0; i < 3; ++i) {
    handles[i] = NET_RealPlayEx(login_id, 2, nullptr, NET_RTYPE_MAIN);
    ASSERT_GT(handles[i], 0);
    ASSERT_EQ(NET_SetRealDataCallBackEx(handles[i], on_raw, reinterpret_cast<intptr_t>(&raw[i]), NET_DATA_FLAG_ALL), 1);
  }
  EXPECT_NE(handles[0], handles[1]);
  ASSERT_TRUE(eventually([&] { return raw[0].count() >= 10 && raw[1].count() >= 10 && raw[2].count() >= 10; }));
  EXPECT_EQ(device_streams(), 1u);
  EXPECT_EQ(device->video().viewers({2, NET_RTYPE_MAIN}), 3u);
  EXPECT_LE(sim::device::video::loops_encoded(), encoded_before + 1);
  // The viewers receive the same pictures: one picture per tick, whoever watches.
  {
    std::lock_guard<std::mutex> h0(raw[0].lock);
    std::lock_guard<std::mutex> h1(raw[1].lock);
    const auto& last = raw[0].blocks[8];
    bool found = false;
    for (const auto& b : raw[1].blocks)
      if (b.timestamp_ms == last.timestamp_ms && b.kind == last.kind) found = b.data == last.data;
    EXPECT_TRUE(found);
  }
  // While a viewer receives N more pictures the device makes about N, not one each per viewer
  // (3N). Counted against what arrived rather than the clock, so a slow machine changes nothing.
  auto pictures = [](RawStream& r) {
    std::lock_guard<std::mutex> hold(r.lock);
    return static_cast<uint64_t>(std::count_if(r.blocks.begin(), r.blocks.end(), [](const proto::MediaBlock& b) {
      return b.kind == proto::kFrameVideoKey || b.kind == proto::kFrameVideoDelta;
    }));
  };
  uint64_t produced = device->video().produced({2, NET_RTYPE_MAIN});
  uint64_t received = pictures(raw[0]);
  ASSERT_TRUE(eventually([&] { return pictures(raw[0]) >= received + 20; }));
  uint64_t made = device->video().produced({2, NET_RTYPE_MAIN}) - produced;
  uint64_t arrived = pictures(raw[0]) - received;
  EXPECT_LT(made, 2 * arrived) << "pictures made per viewer";

  EXPECT_EQ(NET_StopRealPlay(handles[0]), 1);
  EXPECT_EQ(NET_StopRealPlay(handles[1]), 1);
  ASSERT_TRUE(eventually([&] { return device->video().viewers({2, NET_RTYPE_MAIN}) == 1; }, 3000));
  EXPECT_EQ(device_streams(), 1u);
  EXPECT_EQ(NET_StopRealPlay(handles[2]), 1);
  ASSERT_TRUE(eventually([&] { return device_streams() == 0; }, 3000));
  uint64_t total = device->video().produced_total();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(device->video().produced_total(), total);  // nothing made for nobody
}

TEST_F(NetSdkStreamTest, InvalidHandlesAndRefusedStreams) {
  struct Case {
    const char* what;
    int32_t login;
    int32_t channel;
    int32_t type;
    uint32_t error;
  };
  const Case cases[] = {
      {"unknown login", login_id + 1000, 0, NET_RTYPE_MAIN, err(NET_ERR_INVALID_HANDLE)},
      {"zero login", 0, 0, NET_RTYPE_MAIN, err(NET_ERR_INVALID_HANDLE)},
      {"channel beyond the device", login_id, 4, NET_RTYPE_MAIN, err(NET_ERR_OPEN_CHANNEL_ERROR)},
      {"negative channel", login_id, -1, NET_RTYPE_EXTRA, err(NET_ERR_ILLEGAL_PARAM)},
      {"real-play type 4", login_id, 0, 4, err(NET_ERR_ILLEGAL_PARAM)},
      {"real-play type 15", login_id, 0, 15, err(NET_ERR_ILLEGAL_PARAM)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NET_RealPlayEx(c.login, c.channel, nullptr, c.type), 0) << c.what;
    EXPECT_EQ(NET_GetLastError(), c.error) << c.what;
  }
  EXPECT_EQ(NET_SetRealDataCallBackEx(12345, on_raw, 0, NET_DATA_FLAG_ALL), 0);
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_INVALID_HANDLE));

  // A login that ended: its handle is no longer valid.
  ASSERT_EQ(NET_Logout(login_id), 1);
  EXPECT_EQ(NET_RealPlayEx(login_id, 0, nullptr, NET_RTYPE_MAIN), 0);
  EXPECT_EQ(NET_GetLastError(), 0x80000004u);
}

TEST_F(NetSdkStreamTest, MultiChannelPreviewsShareOneMosaicAndTheEndOfTheLoginEndsStreams) {
  int32_t a = NET_RealPlayEx(login_id, 0, nullptr, NET_RTYPE_MULTIPLAY_16);
  int32_t b = NET_RealPlayEx(login_id, 3, nullptr, NET_RTYPE_MULTIPLAY_16);
  int32_t one = NET_RealPlayEx(login_id, 1, nullptr, NET_RTYPE_MULTIPLAY_1);
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  ASSERT_GT(one, 0);
  ASSERT_TRUE(eventually([&] { return device_streams() == 2; }));
  EXPECT_EQ(device->video().viewers({0, NET_RTYPE_MULTIPLAY_16}), 2u);
  EXPECT_EQ(device->video().viewers({1, NET_RTYPE_MULTIPLAY_1}), 1u);
  // The device closes a login's streams when the login ends.
  ASSERT_EQ(NET_Logout(login_id), 1);
  EXPECT_TRUE(eventually([&] { return device_streams() == 0; }, 3000));
  EXPECT_EQ(NET_StopRealPlay(a), 1);
  EXPECT_EQ(NET_StopRealPlay(b), 1);
  EXPECT_EQ(NET_StopRealPlay(one), 1);
}

TEST_F(NetSdkStreamTest, RemovingTheRealDataCallbackStopsDeliveries) {
  int32_t h = NET_RealPlayEx(login_id, 0, nullptr, NET_RTYPE_EXTRA);
  ASSERT_GT(h, 0);
  RawStream raw;
  ASSERT_EQ(NET_SetRealDataCallBackEx(h, on_raw, reinterpret_cast<intptr_t>(&raw), NET_DATA_FLAG_ALL), 1);
  ASSERT_TRUE(eventually([&] { return raw.count() >= 3; }));
  ASSERT_EQ(NET_SetRealDataCallBackEx(h, nullptr, 0, NET_DATA_FLAG_ALL), 1);
  size_t after = raw.count();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(raw.count(), after);
  // Flags without the raw bit deliver nothing either.
  ASSERT_EQ(NET_SetRealDataCallBackEx(h, on_raw, reinterpret_cast<intptr_t>(&raw), 0x1E), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(raw.count(), after);
  EXPECT_EQ(NET_StopRealPlay(h), 1);
}

}  // namespace
