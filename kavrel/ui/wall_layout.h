// The geometry of the video wall: the grids of the supported pane counts, the pages of sixteen
// panes, and the rectangle a pane gives its picture so the video keeps its aspect ratio. Pure
// functions, so the rules can be checked without windows.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/window/window.h"

namespace kavrel::ui {

inline constexpr int kPaneCount = 16;

// The pane counts the wall lays out.
inline constexpr std::array<int, 8> kSupportedCounts = {1, 4, 6, 8, 9, 10, 13, 16};
bool is_supported_count(int count);

// Cells per row and column of a count's grid (1 -> 1, 4 -> 2, 6 and 9 -> 3, 8, 10, 13 and
// 16 -> 4, 25 -> 5, 36 -> 6, 64 -> 8); 0 for a count without a grid.
int grid_size(int count);

// The positions of a supported count in cell units (left, top, right, bottom), in the order the
// panes of a page fill them; empty for any other count.
std::vector<platform::Rect> layout_cells(int count);

// The same positions in pixels of a client area of width x height: a cell is width / g by
// height / g (integer division), the remainder on the right and at the bottom stays uncovered.
std::vector<platform::Rect> layout_rects(int count, int width, int height);

// The first pane shown on page `page` of a count: page * count, or 16 - count when that page would
// run past the sixteenth pane.
int page_start(int count, int page);

// The first page whose panes include `index` (the last page when none before it does); 0 for an
// index of -1.
int page_containing(int count, int index);

// ---- fitting the picture to the video ----

struct VideoSize {
  int width = 0;
  int height = 0;
  bool operator==(const VideoSize&) const = default;
};

// Field-based sizes the devices report become the frame sizes they show: 704 x 288 and 704 x 240
// become 704 x 576 and 704 x 480, 960 x 1080 becomes 1920 x 1080, 352 x 576 and 352 x 480 become
// 704 x 576 and 704 x 480.
VideoSize correct_video_size(VideoSize size);

struct PanelPlacement {
  platform::Rect rect;          // in the pane's client coordinates
  bool aspect_kept = false;     // false: the panel just fills the pane less its border
};

// Where a pane of client size cw x ch puts its panel for a video of `video` (already
// corrected). Only a landscape video keeps its aspect ratio; a portrait or square one, or an
// unknown size, fills the pane less its one-pixel border.
PanelPlacement place_panel(VideoSize video, int cw, int ch);

}  // namespace kavrel::ui
