// Backing surfaces, invalidation and composition.
//
// Every window paints into a surface of its own: 32-bit BGRA pixels, top-down, the size of the
// window's client area (created on first use, remade black when the window changes size). What
// is drawn into a surface reaches the screen through a Compositor, which stacks a root window and
// its visible descendants into one picture: a parent under its children, children in creation
// order (later ones on top). The compositor knows what changed since its last frame, so a frame
// costs only the changed regions and an idle window tree costs nothing.
//
// Painting follows Win32: invalidate_rect() adds to a window's update region and makes the owning
// thread's message loop deliver WM_PAINT once its posted messages are served; the painter draws
// into the surface and validates the region (validate_rect(), or the drawing layer's end of
// paint). WM_PAINT that reaches default_window_proc validates the whole window.
//
// Threads
//  - SurfaceAccess may be taken on any thread: the window's own thread paints, decoder threads
//    render video, the compositor's thread reads. Each surface has its own lock, held only while
//    an access lives; never send a message to another thread while holding one.
//  - SurfaceFrame may be taken on any thread; the decoder threads take it around each picture.
//  - mark_surface_changed() and invalidate_rect() may be called from any thread.
//  - A Compositor is used by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/window/ui_api.h"
#include "platform/window/window.h"

namespace platform {

// Rectangles: empty when width or height is not positive.
PLATFORM_UI_API bool rect_is_empty(const Rect& rect);
PLATFORM_UI_API Rect rect_intersection(const Rect& a, const Rect& b);
// The bounding rectangle of both; an empty one does not count.
PLATFORM_UI_API Rect rect_union(const Rect& a, const Rect& b);

struct SurfacePixels {
  uint8_t* data = nullptr;  // BGRA, top-down; byte 3 of each pixel is not read by composition
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;  // bytes per row
};

class Surface;

// A window's surface, locked while this object lives. Empty (valid() false) when the handle is
// not a window or its client area is empty.
class PLATFORM_UI_API SurfaceAccess {
 public:
  explicit SurfaceAccess(HWND window);
  ~SurfaceAccess();
  SurfaceAccess(const SurfaceAccess&) = delete;
  SurfaceAccess& operator=(const SurfaceAccess&) = delete;

  bool valid() const { return pixels_.data != nullptr; }
  const SurfacePixels& pixels() const { return pixels_; }
  // Records that these pixels changed (client coordinates; null: all of them); the composition
  // listener hears of it when the access ends.
  void mark_changed(const Rect* rect);

 private:
  std::shared_ptr<Surface> surface_;
  std::unique_lock<std::mutex> hold_;
  SurfacePixels pixels_;
  bool changed_ = false;
};

// A picture drawn in steps into one window (a video picture, then what a drawing callback paints
// over it). While a SurfaceFrame of the window lives, compositions keep showing what they last
// showed of its surface and take it up whole once the last frame ends, so a half-drawn picture
// never reaches the screen. The drawing steps take SurfaceAccess (or device contexts) as usual;
// create the frame before them, never while holding a SurfaceAccess to the same window.
class PLATFORM_UI_API SurfaceFrame {
 public:
  explicit SurfaceFrame(HWND window);
  ~SurfaceFrame();
  SurfaceFrame(const SurfaceFrame&) = delete;
  SurfaceFrame& operator=(const SurfaceFrame&) = delete;

 private:
  std::shared_ptr<Surface> surface_;
};

// Records that pixels of the window's surface changed (client coordinates; null: all of it), so
// the next composition picks them up. Any thread, but not while holding a SurfaceAccess to the
// same window (use SurfaceAccess::mark_changed there).
PLATFORM_UI_API void mark_surface_changed(HWND window, const Rect* rect);

// Called after any change that a composition would show (a surface marked changed, a window
// moved, shown, hidden, created or destroyed), on the thread that made it, with no lock of the
// window system held. One listener per process; null removes it. The host wakes its frame
// sender here; the listener must not block.
PLATFORM_UI_API void set_composition_listener(std::function<void()> listener);

// ---- painting ----
// Adds the rectangle (null: the whole client area) to the window's update region. Any thread.
PLATFORM_UI_API bool invalidate_rect(HWND window, const Rect* rect);
// Removes the rectangle (null: everything) from the update region.
PLATFORM_UI_API bool validate_rect(HWND window, const Rect* rect);
// The bounding rectangle of the update region; false when it is empty or no window.
PLATFORM_UI_API bool get_update_rect(HWND window, Rect* rect);
// Sends WM_PAINT at once when the update region is not empty (owning thread only).
PLATFORM_UI_API bool update_window(HWND window);

// The window's rectangle relative to the client area of `ancestor` (a window itself or one of its
// ancestors). False when `ancestor` is not an ancestor.
PLATFORM_UI_API bool window_rect_in(HWND window, HWND ancestor, Rect* rect);

// Stacks a root window and its visible descendants into one BGRA picture the size of the root's
// client area.
class PLATFORM_UI_API Compositor {
 public:
  explicit Compositor(HWND root);
  ~Compositor();
  Compositor(const Compositor&) = delete;
  Compositor& operator=(const Compositor&) = delete;

  struct Frame {
    std::vector<uint8_t> pixels;  // BGRA, top-down, stride width * 4
    int32_t width = 0;
    int32_t height = 0;
  };

  // Brings `frame` up to date (resized to the root's client area when that changed) and returns
  // the bounding rectangle of what changed since the last call; empty when nothing did. The
  // first call, and the first after a resize or force_full(), returns the whole area.
  Rect compose(Frame* frame);
  // The next compose() redraws and reports everything.
  void force_full();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
