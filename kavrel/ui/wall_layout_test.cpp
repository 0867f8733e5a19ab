// The wall's geometry: grids, pages and the picture's fit to the video.
#include "kavrel/ui/wall_layout.h"

#include <gtest/gtest.h>

namespace kavrel::ui {
namespace {

using platform::Rect;

struct LayoutCase {
  int count;
  std::vector<Rect> cells;
};

class LayoutTable : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutTable, CellsOfEachSupportedCount) {
  const LayoutCase& c = GetParam();
  EXPECT_EQ(layout_cells(c.count), c.cells);
  // Cells never overlap and stay inside the grid.
  int g = grid_size(c.count);
  std::vector<int> covered(static_cast<size_t>(g * g), 0);
  for (const Rect& r : c.cells) {
    ASSERT_GE(r.left, 0);
    ASSERT_LE(r.right, g);
    ASSERT_LE(r.bottom, g);
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) ++covered[static_cast<size_t>(y * g + x)];
  }
  for (int n : covered) EXPECT_EQ(n, 1) << "every cell of the grid is covered exactly once";
}

std::vector<Rect> grid(int g) {
  std::vector<Rect> cells;
  for (int row = 0; row < g; ++row)
    for (int column = 0; column < g; ++column) cells.push_back({column, row, column + 1, row + 1});
  return cells;
}

INSTANTIATE_TEST_SUITE_P(
    AllCounts, LayoutTable,
    ::testing::Values(
        LayoutCase{1, grid(1)}, LayoutCase{4, grid(2)}, LayoutCase{9, grid(3)}, LayoutCase{16, grid(4)},
        LayoutCase{6, {{0, 0, 2, 2}, {2, 0, 3, 1}, {2, 1, 3, 2}, {0, 2, 1, 3}, {1, 2, 2, 3}, {2, 2, 3, 3}}},
        LayoutCase{8,
                   {{0, 0, 3, 3}, {3, 0, 4, 1}, {3, 1, 4, 2}, {3, 2, 4, 3}, {0, 3, 1, 4}, {1, 3, 2, 4}, {2, 3, 3, 4},
                    {3, 3, 4, 4}}},
        LayoutCase{10,
                   {{0, 0, 2, 2}, {2, 0, 4, 2}, {0, 2, 1, 3}, {1, 2, 2, 3}, {2, 2, 3, 3}, {3, 2, 4, 3}, {0, 3, 1, 4},
                    {1, 3, 2, 4}, {2, 3, 3, 4}, {3, 3, 4, 4}}},
        LayoutCase{13,
                   {{0, 0, 1, 1}, {1, 0, 2, 1}, {2, 0, 3, 1}, {3, 0, 4, 1}, {0, 1, 1, 2}, {0, 2, 1, 3}, {3, 1, 4, 2},
                    {3, 2, 4, 3}, {0, 3, 1, 4}, {1, 3, 2, 4}, {2, 3, 3, 4}, {3, 3, 4, 4}, {1, 1, 3, 3}}}),
    [](const ::testing::TestParamInfo<LayoutCase>& param) { return "count" + std::to_string(param.param.count); });

TEST(WallLayout, PixelsUseWholeCellsAndLeaveTheRemainderUncovered) {
  // 1003 x 602 in a 3-grid: cells of 334 x 200; one column and two rows stay uncovered.
  std::vector<Rect> rects = layout_rects(6, 1003, 602);
  ASSERT_EQ(rects.size(), 6u);
  EXPECT_EQ(rects[0], (Rect{0, 0, 668, 400}));
  EXPECT_EQ(rects[5], (Rect{668, 400, 1002, 600}));
  // The centre of 13 is the last position.
  EXPECT_EQ(layout_rects(13, 800, 400)[12], (Rect{200, 100, 600, 300}));
}

TEST(WallLayout, CountsOutsideTheSetHaveNoLayout) {
  for (int count : {0, -1, 2, 3, 5, 7, 12, 17, 25, 36, 64}) {
    EXPECT_TRUE(layout_rects(count, 800, 600).empty()) << count;
    EXPECT_FALSE(is_supported_count(count)) << count;
  }
  // 25, 36 and 64 have grids of their own but need more than sixteen panes.
  EXPECT_EQ(grid_size(25), 5);
  EXPECT_EQ(grid_size(64), 8);
}

TEST(WallLayout, PagesOfSixteenPanes) {
  // Six at a time: pages start at 0, 6 and then 10 (the last page is pulled back to end at 16).
  EXPECT_EQ(page_start(6, 0), 0);
  EXPECT_EQ(page_start(6, 1), 6);
  EXPECT_EQ(page_start(6, 2), 10);
  EXPECT_EQ(page_containing(6, 14), 2);
  EXPECT_EQ(page_containing(6, 5), 0);
  EXPECT_EQ(page_containing(6, 6), 1);
  EXPECT_EQ(page_containing(13, 15), 1);
  EXPECT_EQ(page_start(13, 1), 3);
  EXPECT_EQ(page_containing(4, 9), 2);
  EXPECT_EQ(page_containing(1, 7), 7);
  EXPECT_EQ(page_containing(16, 15), 0);
  EXPECT_EQ(page_containing(4, -1), 0);
}

TEST(OptimizeView, FieldSizesBecomeFrameSizes) {
  EXPECT_EQ(correct_video_size({352, 480}), (VideoSize{704, 480}));
  EXPECT_EQ(correct_video_size({352, 576}), (VideoSize{704, 576}));
  EXPECT_EQ(correct_video_size({704, 240}), (VideoSize{704, 480}));
  EXPECT_EQ(correct_video_size({704, 288}), (VideoSize{704, 576}));
  EXPECT_EQ(correct_video_size({960, 1080}), (VideoSize{1920, 1080}));
  EXPECT_EQ(correct_video_size({1280, 720}), (VideoSize{1280, 720}));
}

TEST(OptimizeView, A352x480VideoIsPlacedAs704x480) {
  // A 400 x 400 pane: 704 x 480 is wider than tall, so full width and a centred band.
  VideoSize video = correct_video_size({352, 480});
  PanelPlacement p = place_panel(video, 400, 400);
  EXPECT_TRUE(p.aspect_kept);
  int height = 400 * 480 / 704;  // 272
  EXPECT_EQ(p.rect, (Rect{1, (400 - height) >> 1, 399, ((400 - height) >> 1) + height}));
  // Uncorrected, 352 x 480 is portrait and could not keep its shape.
  EXPECT_FALSE(place_panel({352, 480}, 400, 400).aspect_kept);
}

TEST(OptimizeView, AWidePaneGetsBarsLeftAndRight) {
  PanelPlacement p = place_panel({1920, 1080}, 1000, 300);
  EXPECT_TRUE(p.aspect_kept);
  int width = 300 * 1920 / 1080;  // 533
  EXPECT_EQ(p.rect, (Rect{(1000 - width) >> 1, 1, ((1000 - width) >> 1) + width, 299}));
}

TEST(OptimizeView, PortraitSquareAndUnknownVideosFillThePaneLessItsBorder) {
  for (VideoSize v : {VideoSize{480, 640}, VideoSize{600, 600}, VideoSize{0, 0}, VideoSize{1, 1}}) {
    PanelPlacement p = place_panel(v, 320, 240);
    EXPECT_FALSE(p.aspect_kept) << v.width << "x" << v.height;
    EXPECT_EQ(p.rect, (Rect{1, 1, 319, 239}));
  }
  // A pane too small to fit anything also just gets filled.
  EXPECT_FALSE(place_panel({1920, 1080}, 1, 100).aspect_kept);
}

TEST(OptimizeView, LargeVideoInLargePaneDoesNotOverflow) {
  PanelPlacement p = place_panel({7680, 4320}, 7680, 8000);
  EXPECT_TRUE(p.aspect_kept);
  EXPECT_EQ(p.rect.height(), 4320);
}

}  // namespace
}  // namespace kavrel::ui
