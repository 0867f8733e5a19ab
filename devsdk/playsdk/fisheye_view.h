// Dewarps the circular picture of a fisheye lens into the windows of a layout, drawn into a
// window surface. The lens is taken as equidistant with a field of view of 180 degrees: the
// distance from the circle's centre grows with the angle off the lens axis, and the rim is 90
// degrees off it.
//
// For every pixel of the surface the renderer keeps where in the picture it comes from; the maps
// are made again when the lens, the mount, the layout or a size changes, so a picture costs one
// look-up and a colour conversion per pixel.
#pragma once

#include <cstdint>
#include <vector>

#include "devsdk/playsdk/fisheye_layout.h"

struct AVFrame;

namespace playsdk {

struct LensCircle {
  double center_x = 0, center_y = 0, radius = 0;  // pixels of the picture
  bool operator==(const LensCircle&) const = default;
};

class FisheyeRenderer {
 public:
  // Draws `picture` (planar 4:2:0) into 32-bit pixels (blue, green, red, unused).
  void draw(const AVFrame* picture, const LensCircle& lens, int mount, const std::vector<ViewWindow>& layout,
            uint8_t* pixels, int stride, int width, int height);

 private:
  void build(int picture_width, int picture_height, const LensCircle& lens, int mount,
             const std::vector<ViewWindow>& layout, int width, int height);

  // Source position of each surface pixel in 1/256 pixel, or -1 for black.
  std::vector<int32_t> source_x_, source_y_;
  // What the maps were made for.
  int picture_width_ = 0, picture_height_ = 0, width_ = 0, height_ = 0, mount_ = 0;
  LensCircle lens_;
  std::vector<ViewWindow> layout_;
};

}  // namespace playsdk
