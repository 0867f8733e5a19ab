// Captures and the drawing hook on a real window surface: the alarm text, the stuck-connection
// notice and its timing, the thumbnail ring, freeze and history views, shared captures that
// outlive their deletion, the mode setters, and pictures of a pane for looking at.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>

#include "brixa/api/brixa.h"
#include "brixa/live/channel_capture.h"
#include "brixa/live/draw_hook.h"
#include "brixa/live/overlay.h"
#include "brixa/live/picture_modes.h"
#include "brixa/live/stuck_monitor.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/testing/screenshot.h"
#include "platform/testing/debug_capture.h"
#include "platform/window/window.h"
#include "trace/trace.h"

namespace brixa::live {
namespace {

using platform::COLORREF;
using platform::HDC;
using platform::HWND;

std::atomic<uint32_t> fake_now{100000};
uint32_t fake_tick() { return fake_now.load(); }

bool is_yellow(COLORREF c) {
  return platform::GetRValue(c) > 200 && platform::GetGValue(c) > 200 && platform::GetBValue(c) < 80;
}
bool is_red(COLORREF c) {
  return platform::GetRValue(c) > 200 && platform::GetGValue(c) < 80 && platform::GetBValue(c) < 80;
}

std::string output_path(const std::string& name) {
  std::filesystem::create_directories(KAVREL_TEST_OUTPUT_DIR);
  return std::string(KAVREL_TEST_OUTPUT_DIR) + "/" + name;
}

class CaptureTest : public ::testing::Test {
 protected:
  static constexpr int kWidth = 352;
  static constexpr int kHeight = 240;

  void SetUp() override {
    set_tick_source(fake_tick);
    fake_now.store(100000);
    window_ = platform::create_window(
        platform::WindowSpec{nullptr, platform::Rect{0, 0, kWidth, kHeight}, platform::WS_VISIBLE, "pane", nullptr, nullptr});
    ASSERT_NE(window_, nullptr);
    dc_ = platform::GetDC(window_);
    paint_scene(0);
  }
  void TearDown() override {
    for (const CapturePtr& c : all_captures()) DeleteChannelCaptures(c);
    platform::ReleaseDC(window_, dc_);
    platform::destroy_window(window_);
    set_tick_source(nullptr);
  }

  // A backlit scene: a dark room with a bright window, shifted by `phase`.
  void paint_scene(int phase) {
    platform::DcPixels access(dc_, true);
    ASSERT_TRUE(access.valid());
    const auto& p = access.pixels();
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) {
        uint8_t* px = p.data + static_cast<size_t>(y) * p.stride + static_cast<size_t>(x) * 4;
        bool bright = x > p.width / 2 && y > p.height / 6 && y < p.height * 2 / 3;
        int v = bright ? 220 + (x + phase) % 30 : 20 + ((x / 8 + y / 8 + phase) % 2) * 25 + y / 12;
        px[0] = static_cast<uint8_t>(v);
        px[1] = static_cast<uint8_t>(v);
        px[2] = static_cast<uint8_t>(bright ? v : v + 15);
        px[3] = 255;
      }
  }

  platform::testing::Picture picture() { return platform::testing::picture_of_dc(dc_); }

  CapturePtr add(int32_t stream, int32_t channel = 0, int32_t playback = 0) {
    return AddChannelCaptures(window_, stream, "KVR-CAP", channel, playback);
  }

  HWND window_ = nullptr;
  HDC dc_ = nullptr;
};

// ---- alarm text ----

TEST(AlarmText, WordsAndBlanksInTheirFixedOrder) {
  struct Case {
    AlarmFlags flags;
    const char* text;
  } cases[] = {
      {{false, false, true, false}, "  MASCARAMENTO "},
      {{true, false, false, false}, "DETECÇÃO DE MOVIMENTO   "},
      {{false, true, false, false}, " PERDA DE VIDEO  "},
      {{false, false, false, true}, "   DETECÇAO DE AUDIO"},
      {{true, true, true, true}, "DETECÇÃO DE MOVIMENTO PERDA DE VIDEO MASCARAMENTO DETECÇAO DE AUDIO"},
      {{true, false, false, true}, "DETECÇÃO DE MOVIMENTO   DETECÇAO DE AUDIO"},
  };
  for (const Case& c : cases) EXPECT_EQ(alarm_text(c.flags), c.text);
}

TEST_F(CaptureTest, MaskingAlarmIsWrittenInYellowAfterTwoBlanks) {
  CapturePtr c = add(9001);
  c->masking_alarm.store(1);
  ChannelDrawInfo(9001, dc_);
  platform::testing::Picture after = picture();

  // The text starts after the width of two blanks and ends within the width of the whole text.
  platform::SIZE blanks{}, whole{};
  platform::GetTextExtentPoint32A(dc_, "  ", 2, &blanks);
  platform::GetTextExtentPoint32A(dc_, "  MASCARAMENTO ", 15, &whole);
  int leftmost = kWidth, rightmost = -1, yellow = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < kWidth; ++x)
      if (is_yellow(after.at(x, y))) {
        ++yellow;
        leftmost = std::min(leftmost, x);
        rightmost = std::max(rightmost, x);
      }
  EXPECT_GT(yellow, 50);
  EXPECT_GE(leftmost, blanks.cx - 1);
  EXPECT_LE(rightmost, whole.cx);
  for (int y = 40; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) ASSERT_FALSE(is_yellow(after.at(x, y))) << x << "," << y;
}

TEST_F(CaptureTest, NoAlarmNoText) {
  add(9002);
  auto before = picture();
  ChannelDrawInfo(9002, dc_);
  EXPECT_EQ(platform::testing::count_differences(before, picture(), 0), 0);
}

TEST_F(CaptureTest, StreamWithoutCaptureIsLeftAsDrawn) {
  auto before = picture();
  ChannelDrawInfo(424242, dc_);
  EXPECT_EQ(platform::testing::count_differences(before, picture(), 0), 0);
}

// ---- stuck connections ----

TEST_F(CaptureTest, StallIsReportedFrom30001Milliseconds) {
  platform::testing::DebugCapture lines;
  trace::force_verbose_for_testing(true);
  CapturePtr c = add(9003, 2);
  ChannelDrawInfo(9003, dc_);  // last frame now
  struct Case {
    uint32_t elapsed;
    bool stuck;
    const char* notice;
  } cases[] = {
      {30000, false, nullptr},
      {30001, true, "Desconectado por 30 segundos"},
      {59999, true, "Desconectado por 59 segundos"},
      {125000, true, "Desconectado por 2 minuto(s)"},
  };
  const uint32_t start = fake_now.load();
  for (const Case& k : cases) {
    fake_now.store(start + k.elapsed);
    check_stuck_connections();
    EXPECT_EQ(c->stuck.load() != 0, k.stuck) << k.elapsed;
    if (k.notice != nullptr) {
      EXPECT_EQ(stall_notice_text(k.elapsed), k.notice);
    }
  }
  trace::force_verbose_for_testing(false);
  EXPECT_TRUE(lines.mentions("Error: MapStuckConnections"));
  EXPECT_TRUE(lines.mentions("Stuck connection: dev KVR-CAP chl 2 for 125000 msecs"));
  // A frame clears the mark at the next round.
  ChannelDrawInfo(9003, dc_);
  check_stuck_connections();
  EXPECT_EQ(c->stuck.load(), 0);
}

TEST_F(CaptureTest, StallNoticeIsRedOnAWhiteBandFromTheMiddle) {
  add(9004);
  fake_now.store(fake_now.load() + 125000);
  check_stuck_connections();
  auto after = picture();
  int red = 0;
  for (int y = kHeight / 2; y < kHeight / 2 + kNoticeBandHeight; ++y)
    for (int x = 0; x < kWidth; ++x) red += is_red(after.at(x, y)) ? 1 : 0;
  EXPECT_GT(red, 30);
  EXPECT_EQ(after.at(2, kHeight / 2 + 1), platform::RGB(255, 255, 255)) << "the band is opaque white";
  EXPECT_NE(after.at(2, kHeight / 2 - 2), platform::RGB(255, 255, 255)) << "above the band stays";
  EXPECT_NE(after.at(2, kHeight / 2 + kNoticeBandHeight + 1), platform::RGB(255, 255, 255)) << "below stays";
  platform::testing::write_png(after, output_path("pane_disconnected.png"));
}

TEST_F(CaptureTest, PlaybackCapturesAreNeverStalled) {
  CapturePtr c = add(9005, 0, 1);
  auto before = picture();
  fake_now.store(fake_now.load() + 600000);
  check_stuck_connections();
  EXPECT_EQ(c->stuck.load(), 0);
  EXPECT_EQ(platform::testing::count_differences(before, picture(), 0), 0);
}

// ---- thumbnails, freeze, history ----

TEST_F(CaptureTest, EleventhThumbnailReplacesTheFirstAndDeletesItsBitmap) {
  CapturePtr c = add(9006);
  platform::HBITMAP first = nullptr;
  for (int i = 0; i < 11; ++i) {
    fake_now.store(fake_now.load() + kDefaultHistoryIntervalMs + 1);
    ChannelDrawInfo(9006, dc_);
    if (i == 0) first = c->history[0].bitmap;
  }
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(c->history_index, 0);
  EXPECT_NE(c->history[0].bitmap, first);
  EXPECT_EQ(platform::GetObjectType(first), 0u) << "the first thumbnail's bitmap is gone";
  EXPECT_EQ(c->history[0].width, kWidth / 3);
  EXPECT_EQ(c->history[0].height, kHeight / 3);
  // Exactly the interval is not enough.
  fake_now.store(fake_now.load() + kDefaultHistoryIntervalMs);
  ChannelDrawInfo(9006, dc_);
  EXPECT_EQ(c->history_index, 0);
}

TEST_F(CaptureTest, HistoryViewOnAFreshCaptureShowsFiveBlackThumbnails) {
  CapturePtr c = add(9007);
  c->history_mode.store(1);
  ChannelDrawInfo(9007, dc_);
  auto after = picture();
  const int w3 = kWidth / 3, h3 = kHeight / 3, w2 = 2 * kWidth / 3, h2 = 2 * kHeight / 3;
  const int places[][2] = {{w2 + 5, 5}, {w2 + 5, h3 + 5}, {w2 + 5, h2 + 5}, {w3 + 5, h2 + 5}, {5, h2 + 5}};
  for (const auto& p : places) EXPECT_EQ(after.at(p[0], p[1]), platform::RGB(0, 0, 0)) << p[0] << "," << p[1];
  EXPECT_NE(after.at(w2 - 10, h2 - 10), platform::RGB(0, 0, 0)) << "the shrunk live picture";
}

TEST_F(CaptureTest, FreezeShowsTheLiveFrameOnceThenTheHeldPictureWithAnInset) {
  CapturePtr c = add(9008);
  brixa_set_freeze_mode(window_, 1, 0);
  auto first = picture();
  ChannelDrawInfo(9008, dc_);
  EXPECT_EQ(platform::testing::count_differences(first, picture(), 0), 0) << "first frame unchanged";
  EXPECT_EQ(c->frozen_captured.load(), 1);

  paint_scene(7);  // the stream moves on
  ChannelDrawInfo(9008, dc_);
  auto held = picture();
  InsetPlace place = freeze_inset(0, kWidth, kHeight);
  EXPECT_EQ(held.at(place.frame.left, place.frame.top), platform::RGB(0, 0, 0)) << "inset border";
  EXPECT_EQ(held.at(kWidth - 5, kHeight - 5), first.at(kWidth - 5, kHeight - 5)) << "held picture outside the inset";

  // Off and on again takes a new picture.
  brixa_set_freeze_mode(window_, 0, 9);
  EXPECT_EQ(c->frozen_captured.load(), 0);
  EXPECT_EQ(c->freeze_corner.load(), 0) << "an unknown corner keeps the old one";
  brixa_set_freeze_mode(window_, 1, 3);
  paint_scene(7);
  auto live = picture();
  ChannelDrawInfo(9008, dc_);
  EXPECT_EQ(platform::testing::count_differences(live, picture(), 0), 0);
  EXPECT_EQ(c->freeze_corner.load(), 3);
}

TEST(FreezeInset, RectanglesByCorner) {
  const int w = 300, h = 210, w3 = 100, h3 = 70;
  struct Case {
    int corner;
    platform::RECT frame;
    int x, y;
  } cases[] = {
      {0, {8, 8, w3 + 12, h3 + 12}, 10, 10},
      {1, {w - w3 - 12, 8, w - 8, h3 + 12}, w - w3 - 10, 10},
      {2, {8, h - h3 - 12, w3 + 12, h - 8}, 10, h - h3 - 10},
      {3, {w - w3 - 12, h - h3 - 12, w - 8, h - 8}, w - w3 - 10, h - h3 - 10},
  };
  for (const Case& c : cases) {
    InsetPlace p = freeze_inset(c.corner, w, h);
    EXPECT_EQ(p.frame, c.frame) << c.corner;
    EXPECT_EQ(p.x, c.x);
    EXPECT_EQ(p.y, c.y);
  }
}

// ---- electronic-PTZ outline ----

TEST_F(CaptureTest, EptzOutlineOnlyForASelectedLayoutWindow) {
  PLAY_FISHEYE_WINDOW windows[PLAY_FISHEYE_MAX_WINDOWS]{};
  windows[0] = {2, 0, 400, 300, 0, 0, {}};
  windows[1] = {2, 0, 400, 300, 400, 0, {}};
  PLAY_FISHEYE_DISPLAY display{};
  display.windows = windows;
  display.window_count = 2;
  for (int selected : {-1, 2, 9}) EXPECT_FALSE(draw_eptz_outline(dc_, display, selected, kWidth, kHeight));
  ASSERT_TRUE(draw_eptz_outline(dc_, display, 1, kWidth, kHeight));
  auto after = picture();
  // Window 1 is the right half: its left edge at W * 400 / 800.
  EXPECT_EQ(after.at(kWidth / 2 + 1, kHeight / 2), platform::RGB(0, 255, 0));
  EXPECT_NE(after.at(kWidth / 4, kHeight / 2), platform::RGB(0, 255, 0));
}

// ---- setters, deletion and shared captures ----

TEST_F(CaptureTest, SettersFindTheCaptureByWindow) {
  CapturePtr c = add(9009);
  brixa_set_wdr_mode(window_, 1);
  brixa_set_wdr_intensity(window_, 100);
  brixa_set_wdr_intensity(window_, 101);  // ignored
  brixa_set_wdr_intensity(window_, -1);   // ignored
  brixa_set_history_mode(window_, 1);
  brixa_set_history_interval(window_, 250);
  EXPECT_EQ(c->wdr_enabled.load(), 1);
  EXPECT_EQ(c->wdr_intensity.load(), 100);
  EXPECT_EQ(c->history_mode.load(), 1);
  EXPECT_EQ(c->history_interval.load(), 250u);
  brixa_set_wdr_intensity(window_, 0);
  EXPECT_EQ(c->wdr_intensity.load(), 0);
  // A window without a stream: nothing happens.
  brixa_set_wdr_mode(reinterpret_cast<void*>(0x1234), 1);
}

TEST_F(CaptureTest, DeletedCaptureLivesUntilItsLastUserLetsGo) {
  CapturePtr c = add(9010);
  c->wdr_enabled.store(1);
  ChannelDrawInfo(9010, dc_);
  ASSERT_NE(c->filter, nullptr);
  std::weak_ptr<ChannelCapture> watch = c;
  CapturePtr in_use = find_capture_by_stream(9010);  // a drawing call holding it
  DeleteChannelCaptures(c);
  c.reset();
  EXPECT_EQ(find_capture_by_stream(9010), nullptr);
  ASSERT_FALSE(watch.expired());
  EXPECT_TRUE(in_use->released);
  EXPECT_EQ(in_use->filter, nullptr);
  EXPECT_EQ(in_use->wdr_enabled.load(), 0);
  ChannelDrawInfo(9010, dc_);  // a late frame finds nothing to draw with
  in_use.reset();
  EXPECT_TRUE(watch.expired());
}

TEST_F(CaptureTest, DeletionGivesUpOnALockedCaptureAfterOneSecond) {
  platform::testing::DebugCapture lines;
  trace::force_verbose_for_testing(true);
  CapturePtr c = add(9011);
  c->wdr_enabled.store(1);
  std::unique_lock<std::timed_mutex> busy(c->lock);
  auto start = std::chrono::steady_clock::now();
  DeleteChannelCaptures(c);
  auto waited = std::chrono::steady_clock::now() - start;
  trace::force_verbose_for_testing(false);
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_TRUE(lines.contains("Error: DeleteChannelCaptures 213 (Cannot get access to capture object (213))"));
  EXPECT_FALSE(c->released) << "resources stay with the object";
  EXPECT_EQ(find_capture_by_stream(9011), nullptr);
}

TEST_F(CaptureTest, LookupsByStreamChannelAndWindow) {
  CapturePtr a = add(9012, 1);
  CapturePtr b = add(9013, 3);
  EXPECT_EQ(find_capture_by_channel("KVR-CAP", 3), b);
  EXPECT_EQ(find_capture_by_channel("KVR-CA", 3), nullptr);
  EXPECT_EQ(find_capture_by_window(window_), a);
  CapturePtr again = add(9012, 5);  // same key: replaces
  EXPECT_EQ(find_capture_by_stream(9012), again);
  EXPECT_EQ(capture_count(), 2u);
}

// ---- pictures of a pane ----

TEST_F(CaptureTest, PanePicturesWithAlarmOverlayAndBacklightFilter) {
  CapturePtr c = add(9014);
  c->motion_alarm.store(1);
  c->masking_alarm.store(1);
  ChannelDrawInfo(9014, dc_);
  EXPECT_TRUE(platform::testing::write_dc_png(dc_, output_path("pane_alarm_overlay.png")));

  c->motion_alarm.store(0);
  c->masking_alarm.store(0);
  paint_scene(0);
  auto plain = picture();
  brixa_set_wdr_mode(window_, 1);
  brixa_set_wdr_intensity(window_, 60);
  ChannelDrawInfo(9014, dc_);
  auto filtered = picture();
  EXPECT_GT(platform::testing::count_differences(plain, filtered, 4), kWidth * kHeight / 4);
  // The dark room is lifted.
  EXPECT_GT(platform::GetRValue(filtered.at(20, kHeight - 20)), platform::GetRValue(plain.at(20, kHeight - 20)));
  EXPECT_TRUE(platform::testing::write_dc_png(dc_, output_path("pane_backlight.png")));
}

}  // namespace
}  // namespace brixa::live
