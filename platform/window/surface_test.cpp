#include "platform/window/surface.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace platform;

// A window procedure that records WM_PAINT and validates like a painter does.
std::vector<std::string>* paint_log = nullptr;

LRESULT PaintRecorder(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_PAINT && paint_log != nullptr) {
    Rect update;
    get_update_rect(window, &update);
    paint_log->push_back("paint " + get_window_name(window) + " " + std::to_string(update.left) + "," +
                         std::to_string(update.top) + "," + std::to_string(update.right) + "," +
                         std::to_string(update.bottom));
  }
  if (message == WM_USER && paint_log != nullptr) paint_log->push_back("posted");
  return default_window_proc(window, message, wparam, lparam);
}

HWND make(HWND parent, Rect rect, const char* name, bool visible = true) {
  return create_window(WindowSpec{parent, rect, visible ? WS_VISIBLE : 0u, name, &PaintRecorder, nullptr});
}

void fill(HWND window, uint8_t blue, uint8_t green, uint8_t red) {
  SurfaceAccess access(window);
  ASSERT_TRUE(access.valid());
  const SurfacePixels& p = access.pixels();
  for (int32_t y = 0; y < p.height; ++y) {
    for (int32_t x = 0; x < p.width; ++x) {
      uint8_t* px = p.data + y * p.stride + x * 4;
      px[0] = blue;
      px[1] = green;
      px[2] = red;
    }
  }
  access.mark_changed(nullptr);
}

// The (b, g, r) of a frame pixel as one number 0xRRGGBB.
uint32_t at(const Compositor::Frame& frame, int32_t x, int32_t y) {
  const uint8_t* px = frame.pixels.data() + (static_cast<size_t>(y) * frame.width + x) * 4;
  return (uint32_t{px[2]} << 16) | (uint32_t{px[1]} << 8) | px[0];
}

// Drains the calling thread's queue without waiting.
void pump() {
  Msg msg;
  while (peek_message(&msg)) dispatch_message(msg);
}

TEST(Rects, IntersectionAndUnionIgnoreEmptyRectangles) {
  EXPECT_EQ(rect_intersection(Rect{0, 0, 10, 10}, Rect{5, 5, 20, 20}), (Rect{5, 5, 10, 10}));
  EXPECT_TRUE(rect_is_empty(rect_intersection(Rect{0, 0, 10, 10}, Rect{10, 0, 20, 10})));
  EXPECT_EQ(rect_union(Rect{}, Rect{1, 2, 3, 4}), (Rect{1, 2, 3, 4}));
  EXPECT_EQ(rect_union(Rect{0, 0, 2, 2}, Rect{5, 5, 6, 8}), (Rect{0, 0, 6, 8}));
}

TEST(Surface, FollowsTheClientSizeAndStartsBlack) {
  HWND window = make(nullptr, Rect{0, 0, 40, 30}, "w");
  fill(window, 9, 9, 9);
  move_window(window, Rect{0, 0, 20, 10});
  SurfaceAccess access(window);
  ASSERT_TRUE(access.valid());
  EXPECT_EQ(access.pixels().width, 20);
  EXPECT_EQ(access.pixels().height, 10);
  EXPECT_EQ(access.pixels().stride, 80);
  EXPECT_EQ(access.pixels().data[0], 0);
  destroy_window(window);
  EXPECT_FALSE(SurfaceAccess(window).valid());
}

TEST(Compositor, StacksChildrenOverParentsAndReportsOnlyWhatChanged) {
  HWND root = make(nullptr, Rect{0, 0, 100, 80}, "root");
  HWND under = make(root, Rect{10, 10, 60, 60}, "under");
  HWND over = make(root, Rect{40, 40, 90, 70}, "over");
  HWND clipped = make(over, Rect{30, 20, 80, 60}, "clipped");  // reaches past its parent
  fill(root, 0, 0, 0x40);
  fill(under, 0, 0xFF, 0);
  fill(over, 0xFF, 0, 0);
  fill(clipped, 0xFF, 0xFF, 0xFF);

  Compositor compositor(root);
  Compositor::Frame frame;
  EXPECT_EQ(compositor.compose(&frame), (Rect{0, 0, 100, 80}));
  EXPECT_EQ(at(frame, 5, 5), 0x400000u);     // root alone
  EXPECT_EQ(at(frame, 20, 20), 0x00FF00u);   // under
  EXPECT_EQ(at(frame, 45, 45), 0x0000FFu);   // the later sibling is on top
  EXPECT_EQ(at(frame, 75, 65), 0xFFFFFFu);   // grandchild inside its parent
  EXPECT_EQ(at(frame, 95, 75), 0x400000u);   // the grandchild is clipped to its parent

  EXPECT_TRUE(rect_is_empty(compositor.compose(&frame)));  // idle: nothing to send

  Rect corner{0, 0, 5, 5};
  {
    SurfaceAccess access(under);
    access.pixels().data[0] = 0x11;
  }
  mark_surface_changed(under, &corner);
  EXPECT_EQ(compositor.compose(&frame), (Rect{10, 10, 15, 15}));
  EXPECT_EQ(at(frame, 10, 10), 0x00FF11u);

  show_window(over, false);  // hiding uncovers what was below, grandchild included
  EXPECT_EQ(compositor.compose(&frame), (Rect{40, 40, 90, 70}));
  EXPECT_EQ(at(frame, 45, 45), 0x00FF00u);
  EXPECT_EQ(at(frame, 75, 65), 0x400000u);

  move_window(under, Rect{0, 0, 50, 50});  // the old and the new place both change
  EXPECT_EQ(compositor.compose(&frame), (Rect{0, 0, 60, 60}));

  destroy_window(root);
}

TEST(Compositor, CoveredWindowsCostNothingButThePictureIsThatOfPaintingInOrder) {
  // Random stacks of overlapping windows, some nested, some without a surface yet: every pixel
  // must be that of the topmost window whose surface covers it, or black.
  uint32_t seed = 12345;
  auto next = [&](int32_t bound) {
    seed = seed * 1103515245u + 12345u;
    return static_cast<int32_t>((seed >> 8) % static_cast<uint32_t>(bound));
  };
  for (int round = 0; round < 20; ++round) {
    HWND root = make(nullptr, Rect{0, 0, 64, 48}, "root");
    struct Placed {
      HWND window;
      Rect clip;  // in root coordinates
      uint32_t colour;
      bool filled;
    };
    std::vector<Placed> placed;  // painting order: parents before children, creation order
    std::vector<HWND> parents = {root};
    std::vector<Rect> parent_clips = {Rect{0, 0, 64, 48}};
    for (int i = 0; i < 10; ++i) {
      size_t p = static_cast<size_t>(next(static_cast<int32_t>(parents.size())));
      Rect r{next(50) - 5, next(40) - 5, 0, 0};
      r.right = r.left + 1 + next(40);
      r.bottom = r.top + 1 + next(30);
      HWND w = make(parents[p], r, "w");
      Rect in_root;
      ASSERT_TRUE(window_rect_in(w, root, &in_root));
      Rect clip = rect_intersection(in_root, parent_clips[p]);
      uint32_t colour = static_cast<uint32_t>(next(0xFFFFFF) + 1);
      bool filled = next(5) != 0;
      if (filled) fill(w, colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
      placed.push_back({w, clip, colour, filled});
      parents.push_back(w);
      parent_clips.push_back(clip);
    }
    // Creation order is not painting order once windows nest: paint as the tree says.
    std::vector<Placed> order;
    std::function<void(HWND)> walk = [&](HWND parent) {
      for (const Placed& p : placed) {
        if (get_parent(p.window) == parent) {
          order.push_back(p);
          walk(p.window);
        }
      }
    };
    walk(root);
    Compositor compositor(root);
    Compositor::Frame frame;
    compositor.compose(&frame);
    for (int32_t y = 0; y < 48; ++y) {
      for (int32_t x = 0; x < 64; ++x) {
        uint32_t expected = 0;  // the root's own surface was never drawn: it starts black
        for (const Placed& p : order) {
          // A window whose surface was never made shows what is below it.
          if (p.filled && x >= p.clip.left && x < p.clip.right && y >= p.clip.top && y < p.clip.bottom) {
            expected = p.colour;
          }
        }
        ASSERT_EQ(at(frame, x, y), expected) << "round " << round << " at " << x << "," << y;
      }
    }
    destroy_window(root);
  }
}

TEST(Compositor, ResizingTheRootResizesTheFrameAndRedrawsAll) {
  HWND root = make(nullptr, Rect{0, 0, 30, 20}, "root");
  Compositor compositor(root);
  Compositor::Frame frame;
  compositor.compose(&frame);
  move_window(root, Rect{0, 0, 64, 48});
  EXPECT_EQ(compositor.compose(&frame), (Rect{0, 0, 64, 48}));
  EXPECT_EQ(frame.width, 64);
  EXPECT_EQ(frame.pixels.size(), 64u * 48u * 4u);
  compositor.force_full();
  EXPECT_EQ(compositor.compose(&frame), (Rect{0, 0, 64, 48}));
  destroy_window(root);
}

TEST(Paint, ComesAfterPostedMessagesForVisibleWindowsAndOnlyOnce) {
  std::vector<std::string> log;
  paint_log = &log;
  HWND root = make(nullptr, Rect{0, 0, 50, 50}, "root");
  HWND hidden = make(root, Rect{0, 0, 10, 10}, "hidden", false);
  pump();
  log.clear();

  Rect part{5, 5, 20, 25};
  invalidate_rect(root, &part);
  invalidate_rect(hidden, nullptr);
  post_message(root, WM_USER, 0, 0);
  pump();
  EXPECT_EQ(log, (std::vector<std::string>{"posted", "paint root 5,5,20,25"}));

  log.clear();
  show_window(hidden, true);  // shown: painted whole
  pump();
  EXPECT_EQ(log, (std::vector<std::string>{"paint hidden 0,0,10,10"}));

  log.clear();
  invalidate_rect(root, nullptr);
  EXPECT_TRUE(update_window(root));  // at once, without the loop
  EXPECT_EQ(log, (std::vector<std::string>{"paint root 0,0,50,50"}));
  pump();
  EXPECT_EQ(log.size(), 1u);
  paint_log = nullptr;
  destroy_window(root);
}

LRESULT IgnoresPaint(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_PAINT) {
    if (paint_log != nullptr) paint_log->push_back("ignored");
    return 0;
  }
  return default_window_proc(window, message, wparam, lparam);
}

TEST(Paint, AWindowThatNeverValidatesIsPaintedOnceAndPeekingEnds) {
  std::vector<std::string> log;
  paint_log = &log;
  HWND careless = create_window(WindowSpec{nullptr, Rect{0, 0, 20, 20}, WS_VISIBLE, "careless", &IgnoresPaint, nullptr});
  pump();
  EXPECT_EQ(log, (std::vector<std::string>{"ignored"}));
  invalidate_rect(careless, nullptr);
  Msg msg;
  int taken = 0;
  while (peek_message(&msg) && taken < 100) ++taken;  // taken but never dispatched
  EXPECT_EQ(taken, 1);
  paint_log = nullptr;
  destroy_window(careless);
}

TEST(Compositor, APictureDrawnInStepsIsShownOnlyWhole) {
  HWND root = make(nullptr, Rect{0, 0, 40, 30}, "root");
  HWND pane = make(root, Rect{10, 10, 30, 30}, "pane");
  HWND other = make(root, Rect{0, 0, 10, 10}, "other");
  std::atomic<int> heard{0};
  set_composition_listener([&] { heard.fetch_add(1); });
  fill(pane, 0, 0xFF, 0);
  Compositor compositor(root);
  Compositor::Frame frame;
  compositor.compose(&frame);
  ASSERT_EQ(at(frame, 15, 15), 0x00FF00u);

  std::optional<SurfaceFrame> picture(std::in_place, pane);
  fill(pane, 0, 0, 0xFF);  // the bare picture
  fill(other, 0xFF, 0, 0);  // another window changes meanwhile
  compositor.compose(&frame);
  EXPECT_EQ(at(frame, 15, 15), 0x00FF00u) << "a half-drawn picture reached the frame";
  EXPECT_EQ(at(frame, 5, 5), 0x0000FFu) << "other windows are composed as usual";
  {
    SurfaceAccess overlay(pane);  // what the drawing callback paints over it
    overlay.pixels().data[0] = 0xFF;
    overlay.mark_changed(nullptr);
  }
  int before_end = heard.load();
  picture.reset();
  EXPECT_EQ(heard.load(), before_end + 1) << "the end of the picture wakes the compositor";
  EXPECT_EQ(compositor.compose(&frame), (Rect{10, 10, 30, 30}));
  EXPECT_EQ(at(frame, 10, 10), 0xFF00FFu);
  EXPECT_EQ(at(frame, 15, 15), 0xFF0000u);

  set_composition_listener(nullptr);
  destroy_window(root);
}

TEST(Compositor, ListenerHearsChangesFromOtherThreads) {
  HWND root = make(nullptr, Rect{0, 0, 32, 32}, "root");
  std::atomic<int> heard{0};
  set_composition_listener([&] { heard.fetch_add(1); });
  Compositor compositor(root);
  Compositor::Frame frame;
  compositor.compose(&frame);

  // A decoder-like thread writes and marks while this thread composes.
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 200; ++i) {
      SurfaceAccess access(root);
      if (access.valid()) access.pixels().data[0] = static_cast<uint8_t>(i);
      access.mark_changed(nullptr);
    }
    done.store(true);
  });
  while (!done.load()) compositor.compose(&frame);
  writer.join();
  compositor.compose(&frame);
  EXPECT_EQ(heard.load(), 200);
  SurfaceAccess access(root);
  EXPECT_EQ(frame.pixels[0], access.pixels().data[0]);
  set_composition_listener(nullptr);
}

}  // namespace
