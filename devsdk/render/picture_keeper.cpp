#include "devsdk/render/picture_keeper.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <cstdio>
#include <vector>

namespace devsdk::render {
namespace {

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

}  // namespace

PictureKeeper::~PictureKeeper() { av_frame_free(&picture_); }

void PictureKeeper::keep(const AVFrame* picture) {
  if (picture == nullptr) return;
  std::lock_guard<std::mutex> hold(lock_);
  if (picture_ == nullptr) picture_ = av_frame_alloc();
  if (picture_ == nullptr) return;
  av_frame_unref(picture_);
  if (av_frame_ref(picture_, picture) < 0) av_frame_unref(picture_);
}

PictureKeeper::Saved PictureKeeper::save_bmp(const char* path) {
  AVFrame* copy = nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (picture_ == nullptr || picture_->width <= 0 || picture_->height <= 0) return Saved::no_picture;
    copy = av_frame_clone(picture_);
  }
  if (copy == nullptr) return Saved::file_error;
  bool written = write_bmp(copy, path);
  av_frame_free(&copy);
  return written ? Saved::ok : Saved::file_error;
}

bool write_bmp(const AVFrame* picture, const char* path) {
  if (picture == nullptr || path == nullptr || path[0] == 0 || picture->width <= 0 || picture->height <= 0)
    return false;
  const int w = picture->width, h = picture->height;
  const uint32_t row_bytes = (static_cast<uint32_t>(w) * 3 + 3) & ~3u;  // rows padded to 4 bytes
  const uint32_t pixel_bytes = row_bytes * static_cast<uint32_t>(h);
  std::vector<uint8_t> bgr(static_cast<size_t>(row_bytes) * h);
  SwsContext* sws = sws_getContext(w, h, static_cast<AVPixelFormat>(picture->format), w, h, AV_PIX_FMT_BGR24,
                                   SWS_POINT, nullptr, nullptr, nullptr);
  if (sws == nullptr) return false;
  // Bottom-up: the first row in the file is the picture's last.
  uint8_t* out[1] = {bgr.data() + static_cast<size_t>(row_bytes) * (h - 1)};
  const int out_stride[1] = {-static_cast<int>(row_bytes)};
  sws_scale(sws, picture->data, picture->linesize, 0, h, out, out_stride);
  sws_freeContext(sws);

  std::vector<uint8_t> head;
  head.push_back('B');
  head.push_back('M');
  put32(head, 14 + 40 + pixel_bytes);  // file size
  put32(head, 0);
  put32(head, 14 + 40);  // pixels' offset
  put32(head, 40);       // info header size
  put32(head, static_cast<uint32_t>(w));
  put32(head, static_cast<uint32_t>(h));  // positive: bottom-up
  put16(head, 1);                         // planes
  put16(head, 24);                        // bits per pixel
  put32(head, 0);                         // no compression
  put32(head, pixel_bytes);
  put32(head, 2835);  // 72 dpi
  put32(head, 2835);
  put32(head, 0);
  put32(head, 0);

  FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(head.data(), 1, head.size(), file) == head.size() &&
            std::fwrite(bgr.data(), 1, bgr.size(), file) == bgr.size();
  ok = std::fclose(file) == 0 && ok;
  if (!ok) std::remove(path);
  return ok;
}

}  // namespace devsdk::render
