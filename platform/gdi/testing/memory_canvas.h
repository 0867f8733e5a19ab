// Test helper: a memory device context with its own bitmap, filled with one colour, released at
// the end of the scope.
#pragma once

#include "platform/gdi/gdi.h"

namespace platform::testing {

class MemoryCanvas {
 public:
  MemoryCanvas(int width, int height, COLORREF background = RGB(255, 255, 255))
      : dc_(CreateCompatibleDC(nullptr)), bitmap_(CreateCompatibleBitmap(dc_, width, height)) {
    previous_ = SelectObject(dc_, bitmap_);
    RECT all{0, 0, width, height};
    FillSolidRect(dc_, &all, background);
  }
  ~MemoryCanvas() {
    SelectObject(dc_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  MemoryCanvas(const MemoryCanvas&) = delete;
  MemoryCanvas& operator=(const MemoryCanvas&) = delete;

  HDC dc() const { return dc_; }
  HBITMAP bitmap() const { return bitmap_; }

 private:
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ previous_ = nullptr;
};

}  // namespace platform::testing
