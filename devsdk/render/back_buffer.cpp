#include "devsdk/render/back_buffer.h"

#include <algorithm>
#include <cstring>

namespace devsdk::render {

BackBuffer::~BackBuffer() { release(); }

void BackBuffer::release() {
  if (dc_ != nullptr) {
    if (old_bitmap_ != nullptr) platform::SelectObject(dc_, old_bitmap_);
    platform::DeleteDC(dc_);
  }
  if (bitmap_ != nullptr) platform::DeleteObject(bitmap_);
  dc_ = nullptr;
  bitmap_ = nullptr;
  old_bitmap_ = nullptr;
  width_ = height_ = 0;
}

bool BackBuffer::fit(int width, int height) {
  if (width <= 0 || height <= 0) return false;
  if (dc_ != nullptr && width == width_ && height == height_) return true;
  release();
  dc_ = platform::CreateCompatibleDC(nullptr);
  if (dc_ == nullptr) return false;
  bitmap_ = platform::CreateCompatibleBitmap(dc_, width, height);
  if (bitmap_ == nullptr) {
    release();
    return false;
  }
  old_bitmap_ = platform::SelectObject(dc_, bitmap_);
  width_ = width;
  height_ = height;
  return true;
}

bool BackBuffer::present(platform::HWND window) {
  if (bitmap_ == nullptr) return false;
  platform::BitmapPixels from(bitmap_, false);
  if (!from.valid()) return false;
  platform::SurfaceAccess to(window);
  if (!to.valid()) return false;
  const platform::SurfacePixels& a = from.pixels();
  const platform::SurfacePixels& b = to.pixels();
  const int rows = std::min(a.height, b.height);
  const size_t row_bytes = static_cast<size_t>(std::min(a.width, b.width)) * 4;
  for (int y = 0; y < rows; ++y) {
    std::memcpy(b.data + static_cast<size_t>(y) * static_cast<size_t>(b.stride),
                a.data + static_cast<size_t>(y) * static_cast<size_t>(a.stride), row_bytes);
  }
  to.mark_changed(nullptr);
  return true;
}

}  // namespace devsdk::render
