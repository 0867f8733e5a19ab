// The surface in the page and the page's input in the windows: frames only when the picture
// changed, never more than two waiting for the page and then the newest picture; changed parts
// sent alone; clicks to the deepest window under the point in its own coordinates, double
// clicks made from two presses, keys to the window under the cursor.
#include <gtest/gtest.h>
#include <jpeglib.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include "host/input_router.h"
#include "host/surface_streamer.h"
#include "host/ui_thread.h"
#include "platform/window/surface.h"

namespace {

using namespace std::chrono_literals;

struct Frame {
  uint32_t seq = 0;
  uint16_t surface_w = 0, surface_h = 0, x = 0, y = 0, w = 0, h = 0;
  uint32_t flags = 0;
  std::vector<uint8_t> rgb;  // decoded picture
  int width = 0, height = 0;
};

uint32_t get32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

bool decode(const std::vector<uint8_t>& message, Frame* frame) {
  if (message.size() < host::kFrameHeaderSize || std::memcmp(message.data(), "KVF1", 4) != 0) return false;
  const uint8_t* h = message.data();
  frame->seq = get32(h + 4);
  frame->surface_w = get16(h + 8);
  frame->surface_h = get16(h + 10);
  frame->x = get16(h + 12);
  frame->y = get16(h + 14);
  frame->w = get16(h + 16);
  frame->h = get16(h + 18);
  frame->flags = get32(h + 20);
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, message.data() + host::kFrameHeaderSize, message.size() - host::kFrameHeaderSize);
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) return false;
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  frame->width = static_cast<int>(info.output_width);
  frame->height = static_cast<int>(info.output_height);
  frame->rgb.resize(static_cast<size_t>(frame->width) * frame->height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = frame->rgb.data() + static_cast<size_t>(info.output_scanline) * frame->width * 3;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

// Red, green and blue of a decoded pixel, close enough for JPEG.
bool near_color(const Frame& f, int x, int y, int r, int g, int b) {
  const uint8_t* p = f.rgb.data() + (static_cast<size_t>(y) * f.width + x) * 3;
  return std::abs(p[0] - r) < 24 && std::abs(p[1] - g) < 24 && std::abs(p[2] - b) < 24;
}

void fill(platform::HWND window, const platform::Rect& area, uint8_t r, uint8_t g, uint8_t b) {
  platform::SurfaceAccess access(window);
  ASSERT_TRUE(access.valid());
  const auto& p = access.pixels();
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) {
      uint8_t* px = p.data + y * p.stride + x * 4;
      px[0] = b;
      px[1] = g;
      px[2] = r;
    }
  }
  access.mark_changed(&area);
}

// Messages that reached the test windows, recorded on the user-interface thread.
struct Seen {
  platform::HWND window;
  platform::UINT message;
  platform::WPARAM wparam;
  int x, y;
};
std::mutex seen_lock;
std::condition_variable seen_arrived;
std::deque<Seen> seen;  // guarded by seen_lock

platform::LRESULT Recorder(platform::HWND window, platform::UINT message, platform::WPARAM wparam, platform::LPARAM lparam) {
  if ((message >= 0x200 && message <= 0x20A) || message == 0x100 || message == 0x101) {
    std::lock_guard<std::mutex> hold(seen_lock);
    seen.push_back(Seen{window, message, wparam, static_cast<int16_t>(lparam & 0xFFFF), static_cast<int16_t>((lparam >> 16) & 0xFFFF)});
    seen_arrived.notify_all();
  }
  return platform::default_window_proc(window, message, wparam, lparam);
}

std::optional<Seen> next_seen(std::chrono::milliseconds timeout = 5s) {
  std::unique_lock<std::mutex> hold(seen_lock);
  if (!seen_arrived.wait_for(hold, timeout, [] { return !seen.empty(); })) return std::nullopt;
  Seen s = seen.front();
  seen.pop_front();
  return s;
}

class SurfaceInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui_.run([&] {
      root_ = platform::create_window({nullptr, {0, 0, 160, 96}, platform::WS_VISIBLE, "root", &Recorder, nullptr});
      child_ = platform::create_window({root_, {80, 32, 160, 96}, platform::WS_VISIBLE, "child", &Recorder, nullptr});
    });
    std::lock_guard<std::mutex> hold(seen_lock);
    seen.clear();
  }
  void TearDown() override {
    platform::set_composition_listener(nullptr);
    ui_.run([&] { platform::destroy_window(root_); });
  }

  host::UiThread ui_;
  platform::HWND root_ = nullptr;
  platform::HWND child_ = nullptr;
};

class FrameSink {
 public:
  void operator()(std::shared_ptr<const std::vector<uint8_t>> message) {
    std::lock_guard<std::mutex> hold(lock_);
    frames_.push_back(*message);
    arrived_.notify_all();
  }
  std::optional<Frame> next(std::chrono::milliseconds timeout = 5s) {
    std::unique_lock<std::mutex> hold(lock_);
    if (!arrived_.wait_for(hold, timeout, [&] { return !frames_.empty(); })) return std::nullopt;
    Frame f;
    bool ok = decode(frames_.front(), &f);
    frames_.pop_front();
    if (!ok) return std::nullopt;
    return f;
  }

 private:
  std::mutex lock_;
  std::condition_variable arrived_;
  std::deque<std::vector<uint8_t>> frames_;
};

TEST_F(SurfaceInputTest, FramesFollowChangesWithAtMostTwoUnacknowledgedAndTheNewestPictureAfter) {
  host::SurfaceStreamer::Options options;
  options.max_fps = 0;
  host::SurfaceStreamer streamer(options);
  auto sink = std::make_shared<FrameSink>();
  platform::set_composition_listener([&streamer] { streamer.changed(); });
  ui_.run([&] {
    fill(root_, {0, 0, 160, 96}, 200, 0, 0);
    fill(child_, {0, 0, 80, 64}, 0, 0, 200);
  });
  streamer.set_root(root_);
  streamer.attach([sink](std::shared_ptr<const std::vector<uint8_t>> m) { (*sink)(std::move(m)); });
  streamer.start();

  auto whole = sink->next();
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->seq, 1u);
  EXPECT_EQ(whole->flags & 1u, 1u);
  EXPECT_EQ((std::array<int, 6>{whole->surface_w, whole->surface_h, whole->x, whole->y, whole->w, whole->h}),
            (std::array<int, 6>{160, 96, 0, 0, 160, 96}));
  ASSERT_EQ(whole->width, 160);
  EXPECT_TRUE(near_color(*whole, 10, 10, 200, 0, 0)) << "the root";
  EXPECT_TRUE(near_color(*whole, 120, 60, 0, 0, 200)) << "the child over it";

  // A small change inside the child: only its 16-pixel blocks travel.
  ui_.run([&] { fill(child_, {4, 4, 12, 12}, 0, 200, 0); });
  auto part = sink->next();
  ASSERT_TRUE(part);
  EXPECT_EQ(part->seq, 2u);
  EXPECT_EQ((std::array<int, 4>{part->x, part->y, part->w, part->h}), (std::array<int, 4>{80, 32, 16, 16}));
  EXPECT_TRUE(near_color(*part, 8, 8, 0, 200, 0));

  // Two frames out, none acknowledged: changes pile up as one pending picture, not as frames.
  for (uint8_t shade : {uint8_t{10}, uint8_t{60}, uint8_t{110}, uint8_t{160}}) {
    ui_.run([&] { fill(root_, {0, 0, 80, 96}, shade, shade, shade); });
  }
  EXPECT_FALSE(sink->next(300ms)) << "a third frame went out without an acknowledgement";
  streamer.acknowledge(2);
  auto newest = sink->next();
  ASSERT_TRUE(newest);
  EXPECT_EQ(newest->seq, 3u);
  EXPECT_TRUE(near_color(*newest, 10, 10, 160, 160, 160)) << "the newest picture, not a stale one";
  EXPECT_FALSE(sink->next(200ms)) << "one frame carries every change made while waiting";

  // A new page starts with a whole picture; earlier frames no longer count against it.
  streamer.attach([sink](std::shared_ptr<const std::vector<uint8_t>> m) { (*sink)(std::move(m)); });
  auto fresh = sink->next();
  ASSERT_TRUE(fresh);
  EXPECT_EQ((std::array<int, 2>{fresh->w, fresh->h}), (std::array<int, 2>{160, 96}));
  streamer.stop();
  EXPECT_GE(streamer.stats().frames, 4u);
}

TEST_F(SurfaceInputTest, PointerInputReachesTheDeepestWindowInItsCoordinatesAndMakesDoubleClicks) {
  host::InputState state;
  host::InputRouter router(state);
  auto deliver = [&](host::PageInput in) { ui_.run([&] { router.deliver(root_, in); }); };
  using K = host::PageInput::Kind;

  deliver({K::move, 100, 40, 0, 0, 0, 0, 0, false});
  auto moved = next_seen();
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->window, child_);
  EXPECT_EQ(moved->message, host::WM_MOUSEMOVE);
  EXPECT_EQ((std::array<int, 2>{moved->x, moved->y}), (std::array<int, 2>{20, 8}));
  EXPECT_EQ(state.cursor(), (platform::Point{100, 40}));

  deliver({K::down, 100, 40, 0, 0, 1, 0, 0, false});
  deliver({K::up, 100, 40, 0, 0, 1, 0, 0, false});
  deliver({K::down, 101, 41, 0, 1, 0, 0, 0, false});
  deliver({K::up, 101, 41, 0, 0, 0, 0, 0, false});
  deliver({K::down, 10, 10, 2, 2, 0, 0, 0, false});  // right button over the root
  std::vector<platform::UINT> messages;
  for (int i = 0; i < 5; ++i) {
    auto s = next_seen();
    ASSERT_TRUE(s);
    messages.push_back(s->message);
    if (i == 0) {
      EXPECT_EQ(s->wparam & (host::MK_LBUTTON | host::MK_SHIFT), host::MK_LBUTTON | host::MK_SHIFT);
    }
    if (i == 4) {
      EXPECT_EQ(s->window, root_);
    }
  }
  EXPECT_EQ(messages, (std::vector<platform::UINT>{host::WM_LBUTTONDOWN, host::WM_LBUTTONUP, host::WM_LBUTTONDBLCLK,
                                                   host::WM_LBUTTONUP, host::WM_RBUTTONDOWN}));
  EXPECT_TRUE(state.key_down(host::VK_RBUTTON));

  // A release outside the window that got the press still goes to it.
  deliver({K::down, 120, 50, 0, 0, 0, 0, 0, false});
  deliver({K::up, 20, 20, 0, 0, 0, 0, 0, false});
  ASSERT_TRUE(next_seen());
  auto released = next_seen();
  ASSERT_TRUE(released);
  EXPECT_EQ(released->window, child_);
  EXPECT_EQ((std::array<int, 2>{released->x, released->y}), (std::array<int, 2>{-60, -12}));

  deliver({K::wheel, 90, 40, 0, 0, 0, -240, 0, false});
  auto wheel = next_seen();
  ASSERT_TRUE(wheel);
  EXPECT_EQ(wheel->message, host::WM_MOUSEWHEEL);
  EXPECT_EQ(static_cast<int16_t>(wheel->wparam >> 16), -240);

  // Keys go where the cursor is, and are held until released or the page goes.
  deliver({K::key_down, 0, 0, 0, 0, 0, 0, platform::VK_ESCAPE, false});
  auto key = next_seen();
  ASSERT_TRUE(key);
  EXPECT_EQ(key->window, child_);
  EXPECT_EQ(key->message, host::WM_KEYDOWN);
  EXPECT_EQ(key->wparam, static_cast<platform::WPARAM>(platform::VK_ESCAPE));
  EXPECT_TRUE(state.key_down(platform::VK_ESCAPE));
  ui_.run([&] { router.release_all(); });
  EXPECT_FALSE(state.key_down(platform::VK_ESCAPE));
  EXPECT_FALSE(state.key_down(host::VK_RBUTTON));

  // Outside the root nothing is delivered.
  deliver({K::move, 500, 500, 0, 0, 0, 0, 0, false});
  EXPECT_FALSE(next_seen(200ms));
}

}  // namespace
