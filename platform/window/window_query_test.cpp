#include "platform/window/window_query.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace {

using namespace platform;

HWND make(HWND parent, Rect rect, bool visible = true) {
  return create_window(WindowSpec{parent, rect, visible ? WS_VISIBLE : 0u, "w", nullptr, nullptr});
}

TEST(WindowQueryTest, APointReachesTheTopmostDeepestVisibleWindowInItsOwnCoordinates) {
  HWND root = make(nullptr, Rect{0, 0, 200, 100});
  HWND left = make(root, Rect{0, 0, 100, 100});
  HWND inner = make(left, Rect{10, 10, 50, 50});
  HWND over = make(root, Rect{40, 40, 120, 90});    // created later: above `left` and `inner`
  HWND hidden = make(root, Rect{150, 0, 200, 100}, false);
  HWND clipped = make(left, Rect{90, 0, 140, 20});  // sticks out of `left`: only its part inside counts

  struct Case {
    Point at;
    HWND expected;
    Point client;
  } cases[] = {
      {{5, 5}, left, {5, 5}},
      {{20, 20}, inner, {10, 10}},
      {{45, 45}, over, {5, 5}},         // `over` covers `inner` there
      {{160, 10}, root, {160, 10}},     // the hidden window takes nothing
      {{95, 5}, clipped, {5, 5}},
      {{110, 5}, root, {110, 5}},       // the part of `clipped` outside `left` is not shown
      {{200, 10}, nullptr, {}},
      {{-1, 10}, nullptr, {}},
  };
  for (const Case& c : cases) {
    Point client{-99, -99};
    EXPECT_EQ(window_from_point(root, c.at, &client), c.expected) << c.at.x << "," << c.at.y;
    if (c.expected != nullptr) {
      EXPECT_EQ(client, c.client) << c.at.x << "," << c.at.y;
    }
  }
  show_window(root, false);
  EXPECT_EQ(window_from_point(root, Point{5, 5}, nullptr), nullptr) << "a hidden root takes nothing";
  (void)hidden;
  destroy_window(root);
}

TEST(WindowQueryTest, TopLevelWindowsAreThoseOfTheThreadWithoutParentInCreationOrder) {
  HWND first = make(nullptr, Rect{0, 0, 10, 10});
  HWND child = make(first, Rect{0, 0, 5, 5});
  HWND second = make(nullptr, Rect{0, 0, 10, 10});
  HWND elsewhere = nullptr;
  std::thread other([&] {
    elsewhere = make(nullptr, Rect{0, 0, 10, 10});
    destroy_window(elsewhere);
  });
  other.join();
  auto mine = [] { return top_level_windows(std::this_thread::get_id()); };
  auto has = [](const std::vector<HWND>& list, HWND w) { return std::find(list.begin(), list.end(), w) != list.end(); };
  auto found = mine();
  ASSERT_TRUE(has(found, first) && has(found, second));
  EXPECT_FALSE(has(found, child));
  EXPECT_LT(std::find(found.begin(), found.end(), first), std::find(found.begin(), found.end(), second));

  // A child lifted out of its parent becomes a top-level window, and stops being one when put back.
  ASSERT_TRUE(set_parent(child, nullptr));
  EXPECT_TRUE(has(mine(), child));
  ASSERT_TRUE(set_parent(child, first));
  EXPECT_FALSE(has(mine(), child));
  destroy_window(second);
  EXPECT_FALSE(has(mine(), second));
  destroy_window(first);
}

}  // namespace
