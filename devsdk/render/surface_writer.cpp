#include "devsdk/render/surface_writer.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include "devsdk/render/halve.h"
#include "platform/window/surface.h"

namespace devsdk::render {

SurfaceWriter::~SurfaceWriter() { release(); }

void SurfaceWriter::release() {
  sws_freeContext(shrink_);
  sws_freeContext(convert_);
  shrink_ = nullptr;
  convert_ = nullptr;
  halve_ = false;
}

bool SurfaceWriter::prepare(const AVFrame* picture, int width, int height) {
  if (convert_ != nullptr && from_width_ == picture->width && from_height_ == picture->height &&
      from_format_ == picture->format && to_width_ == width && to_height_ == height) {
    return true;
  }
  release();
  from_width_ = picture->width;
  from_height_ = picture->height;
  from_format_ = picture->format;
  to_width_ = width;
  to_height_ = height;
  const auto format = static_cast<AVPixelFormat>(picture->format);
  const bool planar420 = format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
  const bool shrinking = width <= picture->width && height <= picture->height &&
                         (width < picture->width || height < picture->height);
  if (!planar420 || !shrinking || width % 2 != 0 || height % 2 != 0) {
    convert_ = sws_getContext(picture->width, picture->height, format, width, height, AV_PIX_FMT_BGRA,
                              width == picture->width && height == picture->height ? SWS_POINT : SWS_BILINEAR,
                              nullptr, nullptr, nullptr);
    return convert_ != nullptr;
  }
  int from_width = picture->width, from_height = picture->height;
  halve_ = picture->width >= 2 * width && picture->height >= 2 * height && picture->width % 4 == 0 &&
           picture->height % 4 == 0;
  if (halve_) {
    from_width /= 2;
    from_height /= 2;
    halved_.resize(static_cast<size_t>(from_width) * from_height * 3 / 2);
  }
  if (from_width != width || from_height != height) {
    shrink_ = sws_getContext(from_width, from_height, format, width, height, format, halve_ ? SWS_POINT : SWS_AREA,
                             nullptr, nullptr, nullptr);
    if (shrink_ == nullptr) return false;
  }
  convert_ = sws_getContext(width, height, format, width, height, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr,
                            nullptr);
  planes_.resize(static_cast<size_t>(width) * height * 3 / 2);
  if (convert_ == nullptr) {
    release();
    return false;
  }
  return true;
}

bool SurfaceWriter::draw(platform::HWND window, const AVFrame* picture) {
  platform::SurfaceAccess surface(window);
  if (!surface.valid()) return false;
  const platform::SurfacePixels& px = surface.pixels();
  if (!prepare(picture, px.width, px.height)) return false;
  uint8_t* out[1] = {px.data};
  const int out_stride[1] = {px.stride};
  if (convert_ != nullptr && shrink_ == nullptr && !halve_ && planes_.empty()) {
    sws_scale(convert_, picture->data, picture->linesize, 0, picture->height, out, out_stride);
    return true;
  }
  // Planes on their way to the surface's size.
  const uint8_t* const* planes = picture->data;
  const int* strides = picture->linesize;
  int plane_height = picture->height;
  uint8_t* halved[3];
  int halved_stride[3];
  if (halve_) {
    const int w = picture->width / 2, h = picture->height / 2;
    halved[0] = halved_.data();
    halved[1] = halved[0] + static_cast<size_t>(w) * h;
    halved[2] = halved[1] + static_cast<size_t>(w) * h / 4;
    halved_stride[0] = w;
    halved_stride[1] = halved_stride[2] = w / 2;
    halve_plane(picture->data[0], picture->linesize[0], picture->width, picture->height, halved[0], w);
    halve_plane(picture->data[1], picture->linesize[1], picture->width / 2, picture->height / 2, halved[1], w / 2);
    halve_plane(picture->data[2], picture->linesize[2], picture->width / 2, picture->height / 2, halved[2], w / 2);
    planes = halved;
    strides = halved_stride;
    plane_height = h;
  }
  const int w = px.width, h = px.height;
  uint8_t* small[3] = {planes_.data(), planes_.data() + static_cast<size_t>(w) * h,
                       planes_.data() + static_cast<size_t>(w) * h * 5 / 4};
  const int small_stride[3] = {w, w / 2, w / 2};
  if (shrink_ != nullptr) {
    sws_scale(shrink_, planes, strides, 0, plane_height, small, small_stride);
    sws_scale(convert_, small, small_stride, 0, h, out, out_stride);
  } else {
    sws_scale(convert_, planes, strides, 0, plane_height, out, out_stride);
  }
  return true;
}

}  // namespace devsdk::render
