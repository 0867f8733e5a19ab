// Test helper: pictures of what was drawn, written to and read from PNG files, for screenshot
// tests and for looking at a failure. Byte 3 of a BGRA pixel is ignored (written opaque).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/window/surface.h"

namespace platform::testing {

// A picture in memory: BGRA, top-down, stride width * 4.
struct Picture {
  std::vector<uint8_t> pixels;
  int32_t width = 0;
  int32_t height = 0;
  // The pixel at (x, y) as 0x00BBGGRR.
  COLORREF at(int x, int y) const;
};

bool write_png(const SurfacePixels& pixels, const std::string& path);
bool write_png(const Picture& picture, const std::string& path);
// What the context draws into (window surface or selected bitmap).
bool write_dc_png(HDC dc, const std::string& path);
// The window's own surface (not its children).
bool write_window_png(HWND window, const std::string& path);
// A composed frame.
bool write_frame_png(const Compositor::Frame& frame, const std::string& path);

// Copies of pixels, for comparisons.
Picture picture_of(const SurfacePixels& pixels);
Picture picture_of_dc(HDC dc);
Picture picture_of_window(HWND window);
// Reads a PNG file; an empty picture when it cannot be read.
Picture read_png(const std::string& path);

// Pixels whose channels differ by more than `tolerance`; sizes that differ count every pixel.
int64_t count_differences(const Picture& a, const Picture& b, int tolerance);

}  // namespace platform::testing
