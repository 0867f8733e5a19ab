#include "devsdk/render/surface_writer.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include "platform/window/surface.h"

namespace devsdk::render {

SurfaceWriter::~SurfaceWriter() { sws_freeContext(scaler_); }

bool SurfaceWriter::draw(platform::HWND window, const AVFrame* picture) {
  {
    platform::SurfaceAccess surface(window);
    if (!surface.valid()) return false;
    const platform::SurfacePixels& px = surface.pixels();
    if (scaler_ == nullptr || from_width_ != picture->width || from_height_ != picture->height ||
        from_format_ != picture->format || to_width_ != px.width || to_height_ != px.height) {
      sws_freeContext(scaler_);
      scaler_ = sws_getContext(picture->width, picture->height, static_cast<AVPixelFormat>(picture->format), px.width,
                               px.height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
      from_width_ = picture->width;
      from_height_ = picture->height;
      from_format_ = picture->format;
      to_width_ = px.width;
      to_height_ = px.height;
    }
    if (scaler_ == nullptr) return false;
    uint8_t* planes[1] = {px.data};
    const int strides[1] = {px.stride};
    sws_scale(scaler_, picture->data, picture->linesize, 0, picture->height, planes, strides);
  }
  return true;
}

}  // namespace devsdk::render
