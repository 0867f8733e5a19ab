// A drawing callback's checks, for tests of the SDKs' drawing callbacks: the context it is given
// draws a picture the size of the window, and the window shows a picture only together with
// what the callback drew over it. The probe paints a small magenta corner over each picture; at
// every later call (while the next overlay is being drawn) the window's corner must still be
// magenta, never the bare picture.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

#include "platform/gdi/gdi.h"
#include "platform/window/surface.h"

namespace devsdk::testing {

struct OverlayProbe {
  platform::HWND window = nullptr;
  std::atomic<int> calls{0};
  std::atomic<int> wrong_size{0};  // the context did not draw a picture of the window's size
  std::atomic<int> bare_seen{0};   // the window showed a picture without its overlay

  static constexpr int kCorner = 8;
  static constexpr uint8_t kMagenta[4] = {255, 0, 255, 255};  // BGRA

  // Called from the drawing callback with its context.
  void on_draw(void* dc) {
    if (calls.load() > 0) {
      platform::SurfaceAccess shown(window);
      if (shown.valid() && std::memcmp(shown.pixels().data, kMagenta, 3) != 0) ++bare_seen;
    }
    platform::Rect client;
    platform::get_client_rect(window, &client);
    {
      platform::DcPixels pixels(static_cast<platform::HDC>(dc), true);
      const platform::SurfacePixels& p = pixels.pixels();
      if (!pixels.valid() || p.width != client.width() || p.height != client.height() || p.width < kCorner ||
          p.height < kCorner) {
        ++wrong_size;
      } else {
        for (int y = 0; y < kCorner; ++y)
          for (int x = 0; x < kCorner; ++x) std::memcpy(p.data + y * p.stride + x * 4, kMagenta, 4);
      }
    }
    ++calls;
  }
};

}  // namespace devsdk::testing
