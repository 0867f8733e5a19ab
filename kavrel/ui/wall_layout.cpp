#include "kavrel/ui/wall_layout.h"

#include <algorithm>

namespace kavrel::ui {
namespace {

using platform::Rect;

constexpr Rect cell(int l, int t, int r, int b) { return Rect{l, t, r, b}; }

std::vector<Rect> regular_grid(int g) {
  std::vector<Rect> cells;
  for (int row = 0; row < g; ++row) {
    for (int column = 0; column < g; ++column) cells.push_back(cell(column, row, column + 1, row + 1));
  }
  return cells;
}

}  // namespace

bool is_supported_count(int count) {
  return std::find(kSupportedCounts.begin(), kSupportedCounts.end(), count) != kSupportedCounts.end();
}

int grid_size(int count) {
  switch (count) {
    case 1: return 1;
    case 4: return 2;
    case 6:
    case 9: return 3;
    case 8:
    case 10:
    case 13:
    case 16: return 4;
    case 25: return 5;
    case 36: return 6;
    case 64: return 8;
    default: return 0;
  }
}

std::vector<Rect> layout_cells(int count) {
  switch (count) {
    case 1:
    case 4:
    case 9:
    case 16: return regular_grid(grid_size(count));
    case 6:
      return {cell(0, 0, 2, 2), cell(2, 0, 3, 1), cell(2, 1, 3, 2),
              cell(0, 2, 1, 3), cell(1, 2, 2, 3), cell(2, 2, 3, 3)};
    case 8:
      return {cell(0, 0, 3, 3), cell(3, 0, 4, 1), cell(3, 1, 4, 2), cell(3, 2, 4, 3),
              cell(0, 3, 1, 4), cell(1, 3, 2, 4), cell(2, 3, 3, 4), cell(3, 3, 4, 4)};
    case 10: {
      std::vector<Rect> cells = {cell(0, 0, 2, 2), cell(2, 0, 4, 2)};
      for (int row = 2; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) cells.push_back(cell(column, row, column + 1, row + 1));
      }
      return cells;
    }
    case 13:
      // The twelve border cells first; the large centre is the last pane of the page.
      return {cell(0, 0, 1, 1), cell(1, 0, 2, 1), cell(2, 0, 3, 1), cell(3, 0, 4, 1), cell(0, 1, 1, 2),
              cell(0, 2, 1, 3), cell(3, 1, 4, 2), cell(3, 2, 4, 3), cell(0, 3, 1, 4), cell(1, 3, 2, 4),
              cell(2, 3, 3, 4), cell(3, 3, 4, 4), cell(1, 1, 3, 3)};
    default: return {};
  }
}

std::vector<Rect> layout_rects(int count, int width, int height) {
  std::vector<Rect> rects = layout_cells(count);
  int g = grid_size(count);
  if (rects.empty() || g == 0) return rects;
  int u = width / g;
  int v = height / g;
  for (Rect& r : rects) r = Rect{r.left * u, r.top * v, r.right * u, r.bottom * v};
  return rects;
}

int page_start(int count, int page) {
  int start = page * count;
  if (start + count > kPaneCount) start = kPaneCount - count;
  return std::max(start, 0);
}

int page_containing(int count, int index) {
  if (index < 0 || count <= 0) return 0;
  int pages = (kPaneCount + count - 1) / count;
  for (int page = 0; page < pages; ++page) {
    int start = page_start(count, page);
    if (index >= start && index < start + count) return page;
  }
  return pages - 1;
}

VideoSize correct_video_size(VideoSize size) {
  if (size.width == 704 && size.height == 288) return {704, 576};
  if (size.width == 704 && size.height == 240) return {704, 480};
  if (size.width == 960 && size.height == 1080) return {1920, 1080};
  if (size.width == 352 && size.height == 576) return {704, 576};
  if (size.width == 352 && size.height == 480) return {704, 480};
  return size;
}

PanelPlacement place_panel(VideoSize video, int cw, int ch) {
  PanelPlacement placement;
  int w = video.width;
  int h = video.height;
  if (w > 1 && h > 1 && cw > 1 && ch > 1 && h < w) {
    // 64-bit products: a 4K video in a large pane would overflow 32 bits.
    int64_t scaled_height = static_cast<int64_t>(cw) * h / w;
    if (static_cast<int64_t>(cw) * h / ch < w) {
      // The pane is relatively taller than the video: full width, bars above and below.
      int top = static_cast<int>((ch - scaled_height) >> 1);
      placement.rect = {1, top, cw - 1, top + static_cast<int>(scaled_height)};
    } else {
      int64_t scaled_width = static_cast<int64_t>(ch) * w / h;
      int left = static_cast<int>((cw - scaled_width) >> 1);
      placement.rect = {left, 1, left + static_cast<int>(scaled_width), ch - 1};
    }
    placement.aspect_kept = true;
    return placement;
  }
  placement.rect = {1, 1, cw - 1, ch - 1};
  return placement;
}

}  // namespace kavrel::ui
