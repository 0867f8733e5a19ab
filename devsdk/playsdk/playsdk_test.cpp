// Play ports fed with live streams of the device simulator, as the brixa library feeds them:
// the raw stream from a NetSDK real-data callback into a port that draws into a window, plain and
// with fisheye processing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "devsdk/netsdk/netsdk.h"
#include "devsdk/playsdk/playsdk.h"
#include "platform/gdi/gdi.h"
#include "platform/window/surface.h"
#include "sim/device/device.h"
#include "sim/device/video/scene.h"
#include "sim/device/video/time_code.h"

namespace {

using Clock = std::chrono::steady_clock;

bool eventually(const std::function<bool()>& done, int ms = 10000) {
  auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

uint64_t wall_ms() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count());
}

// The real-data callback feeds raw blocks into the play port given as user value.
void feed_port(int32_t, uint32_t type, const uint8_t* data, uint32_t size, int32_t, intptr_t port) {
  if (type == NET_DATA_RAW) PLAY_InputData(static_cast<int32_t>(port), data, size);
}

// What the port's callbacks saw. Port threads write.
struct Seen {
  std::atomic<int> draws{0};
  std::atomic<int> wrong_dc{0};
  std::atomic<int> infos{0};
  std::atomic<int32_t> radius{0}, center_x{0}, center_y{0}, width_ratio{0}, height_ratio{0};
  platform::HWND window = nullptr;
};
void on_draw(int32_t, void* dc, intptr_t user) {
  auto* s = reinterpret_cast<Seen*>(user);
  if (platform::WindowFromDC(static_cast<platform::HDC>(dc)) != s->window) ++s->wrong_dc;
  ++s->draws;
}
void on_info(int32_t, uint8_t, uint16_t radius, uint16_t cx, uint16_t cy, int32_t wr, int32_t hr, uint8_t, uint8_t,
             uint8_t, intptr_t user) {
  auto* s = reinterpret_cast<Seen*>(user);
  s->radius = radius;
  s->center_x = cx;
  s->center_y = cy;
  s->width_ratio = wr;
  s->height_ratio = hr;
  ++s->infos;
}

class PlaySdkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(NET_Init(nullptr, 0));
    NET_NetworkParams params{};
    params.wait_time_ms = 10000;
    NET_SetNetworkParam(&params);
  }
  void TearDown() override {
    if (stream != 0) NET_StopRealPlay(stream);
    if (port != 0) {
      PLAY_Stop(port);
      PLAY_CloseStream(port);
      PLAY_ReleasePort(port);
    }
    NET_Cleanup();
    device.reset();
    if (window != nullptr) platform::destroy_window(window);
  }
  // A camera, a window, a stream without window and a port playing into the window.
  void start(bool fisheye, int32_t type, int width, int height) {
    sim::device::Settings s;
    s.dev_id = "KVR-FISH";
    s.channels = 1;
    s.video.fisheye = fisheye;
    s.video.channel_names = {"Recepção"};
    device = std::make_unique<sim::device::Device>(s);
    ASSERT_TRUE(device->start());
    login = NET_Login("127.0.0.1", device->port(), "admin", "admin", NET_LOGIN_MODE_TCP, nullptr, nullptr, nullptr);
    ASSERT_GT(login, 0);
    window = platform::create_window(platform::WindowSpec{nullptr, {0, 0, width, height}, platform::WS_VISIBLE, "pane"});
    seen.window = window;
    stream = NET_RealPlayEx(login, 0, nullptr, type);
    ASSERT_GT(stream, 0);
    port = PLAY_OpenStreamPort(921600);
    ASSERT_GT(port, 0);
    ASSERT_EQ(PLAY_Play(port, window), 1);
    ASSERT_EQ(PLAY_SetDrawCallback(port, 0, on_draw, reinterpret_cast<intptr_t>(&seen)), 1);
    ASSERT_EQ(PLAY_SetFisheyeInfoCallback(port, on_info, reinterpret_cast<intptr_t>(&seen)), 1);
    if (fisheye) {
      ASSERT_EQ(PLAY_StartFisheye(port), 1);
    }
    ASSERT_EQ(NET_SetRealDataCallBackEx(stream, feed_port, port, 31), 1);
  }
  // The window's pixels, once a few more pictures were drawn.
  std::vector<uint8_t> next_pixels(int pictures = 3) {
    int from = seen.draws.load();
    EXPECT_TRUE(eventually([&] { return seen.draws.load() >= from + pictures; }));
    platform::SurfaceAccess access(window);
    const auto& px = access.pixels();
    return std::vector<uint8_t>(px.data, px.data + static_cast<size_t>(px.stride) * px.height);
  }
  double black_share(const std::vector<uint8_t>& pixels) {
    size_t black = 0;
    for (size_t i = 0; i < pixels.size(); i += 4) black += pixels[i] < 8 && pixels[i + 1] < 8 && pixels[i + 2] < 8;
    return static_cast<double>(black) / static_cast<double>(pixels.size() / 4);
  }
  // Sets the port's parameters as the brixa library does after the lens is known.
  void set_view(int mount, int visualization) {
    PLAY_FISHEYE_PARAMS p;
    std::memset(&p, 0, sizeof p);
    p.width_ratio = seen.width_ratio;
    p.height_ratio = seen.height_ratio;
    p.center_x = seen.center_x;
    p.center_y = seen.center_y;
    p.radius = seen.radius;
    p.mount_mode = mount;
    p.visualization = visualization;
    ASSERT_EQ(PLAY_FisheyeParams(port, PLAY_FISHEYE_SET, &p), 1);
  }

  std::unique_ptr<sim::device::Device> device;
  platform::HWND window = nullptr;
  int32_t login = 0, stream = 0, port = 0;
  Seen seen;
};

TEST_F(PlaySdkTest, PlainPortDrawsTheStreamWithItsTimeCode) {
  start(false, NET_RTYPE_EXTRA, 320, 240);
  auto first = next_pixels();
  auto second = next_pixels(5);
  EXPECT_NE(first, second);
  EXPECT_EQ(seen.wrong_dc.load(), 0);
  EXPECT_EQ(seen.infos.load(), 0);  // a plain camera reports no lens
  platform::SurfaceAccess access(window);
  uint64_t capture = 0;
  ASSERT_TRUE(sim::device::video::read_time_code(access.pixels().data, access.pixels().stride, 320, 240, 704, 576,
                                                 wall_ms(), &capture));
  EXPECT_LE(capture, wall_ms());
  EXPECT_GT(capture + 3000, wall_ms());
}

TEST_F(PlaySdkTest, FisheyeLensIsReportedAndEachVisualizationLaysOutItsWindows) {
  start(true, NET_RTYPE_MAIN, 640, 360);
  ASSERT_TRUE(eventually([&] { return seen.infos.load() > 0; }));
  auto lens = sim::device::video::fisheye_lens(1280, 720);
  EXPECT_EQ(seen.center_x.load(), 4096);
  EXPECT_EQ(seen.center_y.load(), lens.center_y * 8192 / 720);
  EXPECT_EQ(seen.radius.load(), lens.radius * 8192 / 1280);
  EXPECT_EQ(seen.width_ratio.load(), 1280);
  EXPECT_EQ(seen.height_ratio.load(), 720);

  struct Case {
    int visualization;
    int windows;
    int original_at;  // -1: none
  };
  const Case cases[] = {{2, 1, 0},  {3, 1, -1},  {4, 2, -1},  {7, 4, 0},   {8, 4, -1},  {9, 3, 0},
                        {10, 5, 0}, {11, 5, -1}, {12, 7, -1}, {13, 9, 4},  {14, 9, -1}, {15, 2, -1}};
  for (const auto& c : cases) {
    set_view(PLAY_FISHEYE_MOUNT_CEILING, c.visualization);
    PLAY_FISHEYE_WINDOW work[PLAY_FISHEYE_MAX_WINDOWS];
    PLAY_FISHEYE_DISPLAY display;
    std::memset(&display, 0, sizeof display);
    display.windows = work;
    PLAY_FISHEYE_PARAMS p;
    std::memset(&p, 0, sizeof p);
    p.display = &display;
    ASSERT_EQ(PLAY_FisheyeParams(port, PLAY_FISHEYE_GET, &p), 1);
    EXPECT_EQ(p.display, &display);  // the caller's record stays
    EXPECT_EQ(p.visualization, c.visualization);
    EXPECT_EQ(p.radius, seen.radius.load());
    ASSERT_EQ(display.window_count, c.windows) << c.visualization;
    // The windows tile the layout, and the original sits where the mode puts it.
    int64_t area = 0;
    for (int i = 0; i < c.windows; ++i) {
      area += int64_t{work[i].width} * work[i].height;
      EXPECT_EQ(work[i].kind == 0, i == c.original_at) << c.visualization << " window " << i;
    }
    EXPECT_NEAR(static_cast<double>(area), 8192.0 * 8192.0, 8192.0 * 8192.0 * 0.01) << c.visualization;
  }
}

TEST_F(PlaySdkTest, DewarpedViewsFillTheWindowAndFollowTheElectronicPtz) {
  start(true, NET_RTYPE_MAIN, 640, 360);
  ASSERT_TRUE(eventually([&] { return seen.infos.load() > 0; }));
  set_view(PLAY_FISHEYE_MOUNT_CEILING, PLAY_FISHEYE_VIEW_ORIGINAL);
  auto original = next_pixels();
  set_view(PLAY_FISHEYE_MOUNT_CEILING, PLAY_FISHEYE_VIEW_PANORAMA);
  auto panorama = next_pixels();
  // The circle leaves the window's sides black; a panorama unrolls it over the whole window.
  EXPECT_GT(black_share(original), 0.3);
  EXPECT_LT(black_share(panorama), 0.05);

  set_view(PLAY_FISHEYE_MOUNT_CEILING, PLAY_FISHEYE_VIEW_PANORAMA_3EPTZ);
  auto before = next_pixels();
  PLAY_FISHEYE_EPTZ zoom;
  std::memset(&zoom, 0, sizeof zoom);
  zoom.operation = 1;
  zoom.window = 2;
  zoom.value = 4;
  for (int i = 0; i < 4; ++i) ASSERT_EQ(PLAY_FisheyeEptzUpdate(port, &zoom, 0), 1);
  auto after = next_pixels();
  // Window 2 is the middle third of the lower half: it changed beyond the scene's own motion,
  // measured against the neighbouring window 1, which did not zoom.
  auto differing = [&](int x0, int x1) {
    size_t n = 0;
    for (int y = 200; y < 350; ++y)
      for (int x = x0; x < x1; ++x) {
        size_t i = (static_cast<size_t>(y) * 640 + x) * 4;
        n += std::abs(before[i] - after[i]) + std::abs(before[i + 1] - after[i + 1]) > 60;
      }
    return n;
  };
  EXPECT_GT(differing(220, 420), 2 * differing(10, 200) + 500);

  struct Refused {
    const char* what;
    int operation, window;
  };
  const Refused refused[] = {{"window beyond the layout", 1, 4}, {"negative window", 32, -1},
                             {"rotating an electronic-PTZ view", 13, 1}, {"zooming the panorama", 1, 0},
                             {"unknown operation", 77, 1}};
  for (const auto& r : refused) {
    PLAY_FISHEYE_EPTZ u;
    std::memset(&u, 0, sizeof u);
    u.operation = r.operation;
    u.window = r.window;
    EXPECT_EQ(PLAY_FisheyeEptzUpdate(port, &u, 0), 0) << r.what;
    EXPECT_EQ(PLAY_GetLastError(port), static_cast<uint32_t>(PLAY_PARA_OVER)) << r.what;
  }
  EXPECT_EQ(PLAY_StopFisheye(port), 1);
  EXPECT_EQ(PLAY_StopFisheye(port), 0);
}

TEST(PlayPorts, OperationsInTheWrongOrderOrOnUnknownPortsFail) {
  platform::HWND window = platform::create_window(platform::WindowSpec{nullptr, {0, 0, 64, 48}, 0, "w"});
  int32_t port = PLAY_OpenStreamPort(1024);
  ASSERT_GT(port, 0);
  int32_t other = PLAY_OpenStreamPort(1024);
  EXPECT_NE(other, port);
  std::vector<uint8_t> bytes(600, 0);
  EXPECT_EQ(PLAY_InputData(port, bytes.data(), 600), 1);
  EXPECT_EQ(PLAY_InputData(port, bytes.data(), 600), 0);  // the buffer holds 1024 bytes
  EXPECT_EQ(PLAY_GetLastError(port), static_cast<uint32_t>(PLAY_BUF_OVER));
  EXPECT_EQ(PLAY_SetDrawCallback(port, 1, on_draw, 0), 0);  // only region 0
  EXPECT_EQ(PLAY_Play(port, nullptr), 0);
  EXPECT_EQ(PLAY_Play(port, window), 1);
  EXPECT_EQ(PLAY_Play(port, window), 0);
  EXPECT_EQ(PLAY_GetLastError(port), static_cast<uint32_t>(PLAY_ORDER_ERROR));
  // A broken stream does not stop the port.
  EXPECT_EQ(PLAY_InputData(port, bytes.data(), 100), 1);
  EXPECT_EQ(PLAY_Stop(port), 1);
  EXPECT_EQ(PLAY_CloseStream(port), 1);
  EXPECT_EQ(PLAY_InputData(port, bytes.data(), 10), 0);
  EXPECT_EQ(PLAY_GetLastError(port), static_cast<uint32_t>(PLAY_ORDER_ERROR));
  EXPECT_EQ(PLAY_CloseStream(port), 0);
  EXPECT_EQ(PLAY_ReleasePort(port), 1);
  EXPECT_EQ(PLAY_ReleasePort(port), 0);
  EXPECT_EQ(PLAY_Play(port, window), 0);
  EXPECT_EQ(PLAY_GetLastError(port), static_cast<uint32_t>(PLAY_PARA_OVER));
  EXPECT_EQ(PLAY_OpenStreamPort(0), 0);
  EXPECT_EQ(PLAY_ReleasePort(other), 1);
  platform::destroy_window(window);
}

}  // namespace
