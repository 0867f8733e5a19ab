// A picture that a drawing callback paints over is made here first: the decoded picture, then
// the callback's overlay (through dc()), and only then one copy into the window's surface. A
// composition that reads the window at any moment (another window's change makes it read this
// one too) sees the whole picture with its overlay, never the bare picture in between.
//
// One per stream, used by the stream's drawing thread only.
#pragma once

#include "platform/gdi/gdi.h"
#include "platform/window/surface.h"

namespace devsdk::render {

class BackBuffer {
 public:
  BackBuffer() = default;
  ~BackBuffer();
  BackBuffer(const BackBuffer&) = delete;
  BackBuffer& operator=(const BackBuffer&) = delete;

  // Makes the buffer width x height (kept when it already is). False when it cannot be made.
  bool fit(int width, int height);
  // The memory context the buffer is selected into, for the callback to draw with.
  platform::HDC dc() const { return dc_; }
  // Runs `draw(pixels)` with the buffer's pixels locked; its result.
  template <typename Draw>
  bool with_pixels(Draw&& draw) {
    platform::BitmapPixels pixels(bitmap_, true);
    return pixels.valid() && draw(pixels.pixels());
  }
  // Copies the buffer into the window's surface (the same size) and marks it changed.
  bool present(platform::HWND window);

 private:
  void release();

  platform::HDC dc_ = nullptr;
  platform::HBITMAP bitmap_ = nullptr;
  platform::HGDIOBJ old_bitmap_ = nullptr;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace devsdk::render
