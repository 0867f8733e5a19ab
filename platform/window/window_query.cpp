#include "platform/window/window_query.h"

#include "platform/window/window_tree.h"

namespace platform {

HWND window_from_point(HWND root, Point at, Point* client) {
  std::vector<window_tree::Node> nodes;
  int32_t width = 0;
  int32_t height = 0;
  if (!window_tree::snapshot(root, &nodes, &width, &height)) return nullptr;
  // Painting order puts every window above those painted before it; the last one holding the
  // point is on top there.
  for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {
    const Rect& clip = it->clip;
    if (at.x >= clip.left && at.x < clip.right && at.y >= clip.top && at.y < clip.bottom) {
      if (client != nullptr) *client = Point{at.x - it->rect.left, at.y - it->rect.top};
      return it->window;
    }
  }
  return nullptr;
}

std::vector<HWND> top_level_windows(std::thread::id owner) { return window_tree::top_levels(owner); }

}  // namespace platform
