#include "platform/gdi/testing/screenshot.h"

#include <cairo/cairo.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace platform::testing {

COLORREF Picture::at(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return CLR_INVALID;
  const uint8_t* p = &pixels[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 4];
  return RGB(p[2], p[1], p[0]);
}

Picture picture_of(const SurfacePixels& px) {
  Picture picture;
  if (px.data == nullptr) return picture;
  picture.width = px.width;
  picture.height = px.height;
  picture.pixels.resize(static_cast<size_t>(px.width) * static_cast<size_t>(px.height) * 4);
  for (int y = 0; y < px.height; ++y)
    std::memcpy(&picture.pixels[static_cast<size_t>(y) * static_cast<size_t>(px.width) * 4],
                px.data + static_cast<ptrdiff_t>(y) * px.stride, static_cast<size_t>(px.width) * 4);
  return picture;
}

Picture picture_of_dc(HDC dc) {
  DcPixels access(dc, false);
  return picture_of(access.pixels());
}

Picture picture_of_window(HWND window) {
  SurfaceAccess access(window);
  return picture_of(access.pixels());
}

bool write_png(const Picture& picture, const std::string& path) {
  if (picture.width <= 0 || picture.height <= 0) return false;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, picture.width, picture.height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return false;
  }
  cairo_surface_flush(surface);
  uint8_t* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < picture.height; ++y)
    std::memcpy(data + static_cast<ptrdiff_t>(y) * stride,
                &picture.pixels[static_cast<size_t>(y) * static_cast<size_t>(picture.width) * 4],
                static_cast<size_t>(picture.width) * 4);
  cairo_surface_mark_dirty(surface);
  const bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  return ok;
}

bool write_png(const SurfacePixels& pixels, const std::string& path) { return write_png(picture_of(pixels), path); }
bool write_dc_png(HDC dc, const std::string& path) { return write_png(picture_of_dc(dc), path); }
bool write_window_png(HWND window, const std::string& path) { return write_png(picture_of_window(window), path); }

bool write_frame_png(const Compositor::Frame& frame, const std::string& path) {
  Picture picture;
  picture.width = frame.width;
  picture.height = frame.height;
  picture.pixels = frame.pixels;
  return write_png(picture, path);
}

Picture read_png(const std::string& path) {
  Picture picture;
  cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
    cairo_surface_flush(surface);
    SurfacePixels px{cairo_image_surface_get_data(surface), cairo_image_surface_get_width(surface),
                     cairo_image_surface_get_height(surface), cairo_image_surface_get_stride(surface)};
    picture = picture_of(px);
  }
  cairo_surface_destroy(surface);
  return picture;
}

int64_t count_differences(const Picture& a, const Picture& b, int tolerance) {
  if (a.width != b.width || a.height != b.height)
    return std::max<int64_t>(int64_t{a.width} * a.height, int64_t{b.width} * b.height);
  int64_t count = 0;
  for (size_t i = 0; i + 3 < a.pixels.size(); i += 4)
    for (size_t c = 0; c < 3; ++c)
      if (std::abs(int{a.pixels[i + c]} - int{b.pixels[i + c]}) > tolerance) {
        ++count;
        break;
      }
  return count;
}

}  // namespace platform::testing
