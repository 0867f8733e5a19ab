// Draws decoded pictures into a window's surface (platform/window/surface.h), scaled to the
// window's client area and converted to its 32-bit pixels. One writer per stream.
//
// Shrinking a picture works in its own planes and converts the small planes to 32-bit pixels
// last: a picture at least twice the window's size is first halved (2 x 2 means), then brought to
// the window's size by the nearest samples; a smaller one is averaged down by area. Either costs a
// fraction of scaling and converting in one pass.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/window/window.h"

struct AVFrame;
struct SwsContext;

namespace devsdk::render {

class SurfaceWriter {
 public:
  SurfaceWriter() = default;
  ~SurfaceWriter();
  SurfaceWriter(const SurfaceWriter&) = delete;
  SurfaceWriter& operator=(const SurfaceWriter&) = delete;

  // Draws `picture` over the whole client area. False when the window has no surface
  // (destroyed, or an empty client area). The caller marks the surface changed once whatever it
  // draws over the picture is there too, so no composition shows a picture without its overlay.
  bool draw(platform::HWND window, const AVFrame* picture);

 private:
  bool prepare(const AVFrame* picture, int width, int height);
  void release();

  bool halve_ = false;             // halve the picture's planes first
  SwsContext* shrink_ = nullptr;   // (halved) picture -> small planes of the surface's size, or null
  SwsContext* convert_ = nullptr;  // (small) planes -> 32-bit pixels, scaling when not shrunk
  std::vector<uint8_t> halved_;    // the halved planes
  std::vector<uint8_t> planes_;    // the small planes
  int from_width_ = 0, from_height_ = 0, from_format_ = -1, to_width_ = 0, to_height_ = 0;
};

}  // namespace devsdk::render
