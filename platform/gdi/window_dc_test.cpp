// Window device contexts draw into the window's surface, mark what they drew for the compositor,
// and BeginPaint clips to the update region and validates it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/gdi/gdiplus.h"
#include "platform/gdi/testing/memory_canvas.h"
#include "platform/gdi/testing/screenshot.h"
#include "platform/window/surface.h"
#include "platform/window/window.h"

namespace platform {
namespace {

HWND make_window(HWND parent, Rect rect) {
  return create_window(WindowSpec{parent, rect, WS_VISIBLE, "w", nullptr, nullptr});
}

COLORREF frame_at(const Compositor::Frame& frame, int x, int y) {
  const uint8_t* p = frame.pixels.data() + (static_cast<size_t>(y) * static_cast<size_t>(frame.width) + static_cast<size_t>(x)) * 4;
  return RGB(p[2], p[1], p[0]);
}

bool contains(const Rect& outer, const Rect& inner) {
  return outer.left <= inner.left && outer.top <= inner.top && outer.right >= inner.right && outer.bottom >= inner.bottom;
}

class WindowDcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = make_window(nullptr, Rect{0, 0, 120, 90});
    child_ = make_window(root_, Rect{20, 10, 100, 70});
    ASSERT_NE(child_, nullptr);
    // Surfaces come into being on first use, wholly changed; a new window is wholly invalid.
    for (HWND w : {root_, child_}) {
      SurfaceAccess touch(w);
      validate_rect(w, nullptr);
    }
    compositor_ = std::make_unique<Compositor>(root_);
    compositor_->compose(&frame_);  // the first frame covers everything
  }
  void TearDown() override {
    compositor_.reset();
    destroy_window(root_);
  }

  HWND root_ = nullptr;
  HWND child_ = nullptr;
  std::unique_ptr<Compositor> compositor_;
  Compositor::Frame frame_;
};

TEST_F(WindowDcTest, DrawingMarksOnlyWhatWasDrawn) {
  struct Case {
    const char* name;
    void (*draw)(HDC);
    Rect drawn;  // child client coordinates
  };
  const Case cases[] = {
      {"FillRect",
       [](HDC dc) {
         RECT r{10, 10, 20, 16};
         HBRUSH brush = CreateSolidBrush(RGB(255, 0, 0));
         FillRect(dc, &r, brush);
         DeleteObject(brush);
       },
       Rect{10, 10, 20, 16}},
      {"LineTo",
       [](HDC dc) {
         MoveToEx(dc, 5, 40, nullptr);
         LineTo(dc, 30, 40);
       },
       Rect{5, 40, 30, 41}},
      {"TextOut",
       [](HDC dc) {
         SetBkMode(dc, TRANSPARENT);
         SetTextColor(dc, RGB(255, 0, 0));
         TextOutA(dc, 40, 20, "Foto", -1);
       },
       Rect{41, 22, 60, 32}},
      {"GDI+ FillEllipse",
       [](HDC dc) {
         Gdiplus::Graphics graphics(dc);
         Gdiplus::SolidBrush brush(Gdiplus::Color(255, 255, 0, 0));
         graphics.FillEllipse(&brush, 50, 30, 10, 10);
       },
       Rect{51, 31, 59, 39}},
  };
  for (const Case& c : cases) {
    HDC dc = GetDC(child_);
    ASSERT_NE(dc, nullptr);
    c.draw(dc);
    EXPECT_EQ(ReleaseDC(child_, dc), 1);
    const Rect changed = compositor_->compose(&frame_);
    Rect drawn_in_root = c.drawn;
    OffsetRect(&drawn_in_root, 20, 10);
    EXPECT_TRUE(contains(changed, drawn_in_root))
        << c.name << ": changed " << changed.left << "," << changed.top << "," << changed.right << "," << changed.bottom;
    EXPECT_LT(changed.width() * changed.height(), 80 * 60 / 4) << c.name << ": not the whole window";
    // The picture reached the frame: some red pixel inside the drawn area.
    bool red = false;
    for (int y = drawn_in_root.top; y < drawn_in_root.bottom; ++y)
      for (int x = drawn_in_root.left; x < drawn_in_root.right; ++x)
        red = red || GetRValue(frame_at(frame_, x, y)) > 200 || frame_at(frame_, x, y) == RGB(0, 0, 0);
    EXPECT_TRUE(red) << c.name;
  }
  EXPECT_TRUE(rect_is_empty(compositor_->compose(&frame_))) << "nothing more changed";
}

TEST_F(WindowDcTest, MemoryDrawingThenBitBltReachesTheScreen) {
  testing::MemoryCanvas canvas(80, 60, RGB(0, 128, 255));
  HDC dc = GetDC(child_);
  ASSERT_TRUE(BitBlt(dc, 0, 0, 80, 60, canvas.dc(), 0, 0, SRCCOPY));
  ReleaseDC(child_, dc);
  EXPECT_EQ(compositor_->compose(&frame_), (Rect{20, 10, 100, 70}));
  EXPECT_EQ(frame_at(frame_, 20, 10), RGB(0, 128, 255));
  EXPECT_EQ(frame_at(frame_, 99, 69), RGB(0, 128, 255));
}

TEST_F(WindowDcTest, BeginPaintClipsToTheUpdateRegionAndValidatesIt) {
  Rect dirty{10, 5, 30, 25};
  ASSERT_TRUE(invalidate_rect(child_, &dirty));
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(child_, &ps);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(ps.hdc, dc);
  EXPECT_EQ(ps.rcPaint, dirty);
  Rect left;
  EXPECT_FALSE(get_update_rect(child_, &left)) << "validated by BeginPaint";
  RECT clip;
  EXPECT_EQ(GetClipBox(dc, &clip), SIMPLEREGION);
  EXPECT_EQ(clip, dirty);
  // A fill over the whole client area only reaches the update rectangle.
  RECT all{0, 0, 80, 60};
  FillSolidRect(dc, &all, RGB(255, 255, 0));
  EXPECT_EQ(ReleaseDC(child_, dc), 0) << "a paint context ends with EndPaint";
  EXPECT_TRUE(EndPaint(child_, &ps));
  EXPECT_EQ(compositor_->compose(&frame_), (Rect{30, 15, 50, 35}));
  EXPECT_EQ(frame_at(frame_, 30, 15), RGB(255, 255, 0));
  EXPECT_EQ(frame_at(frame_, 49, 34), RGB(255, 255, 0));
  EXPECT_EQ(frame_at(frame_, 29, 15), RGB(0, 0, 0));
  EXPECT_EQ(frame_at(frame_, 50, 34), RGB(0, 0, 0));
  EXPECT_FALSE(EndPaint(child_, &ps)) << "already ended";
}

TEST_F(WindowDcTest, BeginPaintWithNothingToPaintDrawsNothing) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(child_, &ps);
  ASSERT_NE(dc, nullptr);
  EXPECT_TRUE(IsRectEmpty(&ps.rcPaint));
  RECT all{0, 0, 80, 60};
  FillSolidRect(dc, &all, RGB(255, 255, 0));
  EndPaint(child_, &ps);
  EXPECT_TRUE(rect_is_empty(compositor_->compose(&frame_)));
}

TEST_F(WindowDcTest, ContextOfAVanishedWindowDrawsNothing) {
  HWND doomed = make_window(root_, Rect{0, 0, 10, 10});
  HDC dc = GetDC(doomed);
  destroy_window(doomed);
  compositor_->compose(&frame_);
  RECT r{0, 0, 10, 10};
  FillSolidRect(dc, &r, RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(dc, 1, 1), CLR_INVALID);
  EXPECT_EQ(ReleaseDC(doomed, dc), 1);
  EXPECT_EQ(GetDC(doomed), nullptr);
}

TEST_F(WindowDcTest, WindowPixelsForFilters) {
  HDC dc = GetDC(child_);
  {
    DcPixels access(dc, true);
    ASSERT_TRUE(access.valid());
    EXPECT_EQ(access.pixels().width, 80);
    EXPECT_EQ(access.pixels().height, 60);
    access.pixels().data[0] = 0xFF;  // blue at (0, 0)
  }
  ReleaseDC(child_, dc);
  EXPECT_EQ(compositor_->compose(&frame_), (Rect{20, 10, 100, 70})) << "the whole surface is marked";
  EXPECT_EQ(frame_at(frame_, 20, 10), RGB(0, 0, 255));
}

TEST_F(WindowDcTest, ThreadsDrawIntoOneWindowThroughTheirOwnContexts) {
  // A decoder thread renders while an overlay thread reads back and draws; each call holds the
  // surface for itself only.
  std::atomic<bool> failed{false};
  auto render = [&] {
    HDC dc = GetDC(child_);
    for (int i = 0; i < 200; ++i) {
      RECT r{0, 0, 80, 60};
      FillSolidRect(dc, &r, RGB(i & 0xFF, 0, 0));
    }
    ReleaseDC(child_, dc);
  };
  auto overlay = [&] {
    HDC dc = GetDC(child_);
    testing::MemoryCanvas copy(80, 60);
    for (int i = 0; i < 200; ++i) {
      if (!BitBlt(copy.dc(), 0, 0, 80, 60, dc, 0, 0, SRCCOPY)) failed = true;
      SetBkMode(dc, TRANSPARENT);
      TextOutA(dc, 0, 0, "PERDA DE VIDEO", -1);
    }
    ReleaseDC(child_, dc);
  };
  std::thread a(render);
  std::thread b(overlay);
  a.join();
  b.join();
  EXPECT_FALSE(failed);
}

}  // namespace
}  // namespace platform
