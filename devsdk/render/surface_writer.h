// Draws decoded pictures into a window's surface (platform/window/surface.h), scaled to the
// window's client area and converted to its 32-bit pixels. One writer per stream.
#pragma once

#include <cstdint>

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
  SwsContext* scaler_ = nullptr;
  int from_width_ = 0, from_height_ = 0, from_format_ = -1, to_width_ = 0, to_height_ = 0;
};

}  // namespace devsdk::render
