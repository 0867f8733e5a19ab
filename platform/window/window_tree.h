// What the window system shares with its surface and composition code inside the platform_ui
// library: a window's surface, its update region, and a snapshot of a window tree. Not part of
// the interface of the library.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/window/surface.h"
#include "platform/window/window.h"

namespace platform {

// A window's backing store. Every field is guarded by `lock`; any thread may take it (painting on
// the window's thread, video from decoder threads, the compositor on the host's thread).
class Surface {
 public:
  std::mutex lock;
  std::vector<uint8_t> pixels;  // BGRA, top-down, stride width * 4
  int32_t width = 0;
  int32_t height = 0;
  Rect changed;  // changed since the compositor last looked, in the surface's coordinates
  int32_t frames_open = 0;  // SurfaceFrames alive: compositions leave the surface alone
  // A change or a composition came while a frame was open: the last frame to end wakes the
  // composition listener, once, instead of every change inside the frame.
  bool deferred = false;

  // Remakes the pixels black at the given size; the whole surface counts as changed. Call with
  // `lock` held.
  void resize_locked(int32_t new_width, int32_t new_height);
  // Adds `rect` (null: all of it) within a `width` x `height` client area to `changed`. Returns
  // whether the composition listener should hear of it now: not when nothing changed, nor while
  // a frame is open (the frame's end wakes it). Call with `lock` held.
  bool add_change_locked(const Rect* rect, int32_t client_width, int32_t client_height);
};

namespace window_tree {

// The window's surface and its current client size; null when the handle is not a window.
std::shared_ptr<Surface> surface_of(HWND window, int32_t* width, int32_t* height);

struct Node {
  HWND window = nullptr;
  Rect rect;  // the client area, in the root's client coordinates
  Rect clip;  // the part of `rect` inside every ancestor up to the root
  std::shared_ptr<Surface> surface;
};

// The root and its visible descendants in painting order (a parent before its children, children
// in creation order). False when the root is not a window; an invisible root gives no nodes.
bool snapshot(HWND root, std::vector<Node>* nodes, int32_t* root_width, int32_t* root_height);

// The windows without a parent that `owner` created, in creation order.
std::vector<HWND> top_levels(std::thread::id owner);

// Update regions, kept as bounding rectangles in client coordinates.
bool add_update(HWND window, const Rect* rect);
bool remove_update(HWND window, const Rect* rect);
bool update_rect(HWND window, Rect* rect);

// A visible window of the calling thread with a non-empty update region (the earliest created
// first, so parents paint before their children), or null.
// Its update region moves to the paint in progress, which end_paint() closes.
HWND next_to_paint();
void end_paint(HWND window);

// Runs the composition listener (see set_composition_listener).
void notify_changed();

}  // namespace window_tree
}  // namespace platform
