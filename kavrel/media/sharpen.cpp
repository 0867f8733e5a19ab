// Sharpening of enlarged snapshots: one luma plane of one byte per pixel, integer arithmetic.
#include <algorithm>
#include <vector>

#include "kavrel/media/image_conversion.h"

namespace kavrel::media {

void sharpen_image(uint8_t* pixels, int32_t width, int32_t height, int32_t channels) {
  if (pixels == nullptr || width <= 2 || height <= 2 || (channels != 3 && channels != 4)) return;
  const size_t w = static_cast<size_t>(width);
  const size_t h = static_cast<size_t>(height);
  const size_t n = static_cast<size_t>(channels);
  // The luma plane is read while the pixels change: each d uses the picture as it was.
  std::vector<uint8_t> luma(w * h);
  for (size_t i = 0; i < w * h; ++i) {
    const uint8_t* p = pixels + i * n;
    uint32_t y = (9797u * p[0] + 19234u * p[1] + 3735u * p[2] + 16384u) >> 15;
    luma[i] = static_cast<uint8_t>(std::min<uint32_t>(y, 255));
  }
  for (size_t y = 1; y + 1 < h; ++y) {
    const uint8_t* row = luma.data() + y * w;
    for (size_t x = 1; x + 1 < w; ++x) {
      int d = 4 * row[x] - row[x + w] - row[x - w] - row[x - 1] - row[x + 1];
      if (d == 0) continue;
      uint8_t* p = pixels + (y * w + x) * n;
      for (size_t c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(std::clamp(p[c] + d, 0, 255));
    }
  }
}

}  // namespace kavrel::media
