// The filter's common part: geometry, strength, luminance and write-back.
#include "brixa/live/altalux_filter.h"

#include <cmath>
#include <new>

namespace brixa::live {

RegionSpan region_span(int index, int tile, int full) {
  RegionSpan span;
  if (index <= 0) {
    span.first = 0;
    span.size = tile / 2;
    return span;
  }
  span.first = (index - 1) * tile + tile / 2;
  if (index >= kTileColumns) {
    span.size = tile / 2 + (full - tile * kTileColumns);
    span.map_low = span.map_high = kTileColumns - 1;
    return span;
  }
  span.size = tile;
  span.map_low = index - 1;
  span.map_high = index;
  return span;
}

int tile_block_start(int index, int tile) { return index == 0 ? 0 : (index - 1) * tile + tile / 2; }

uint32_t round_half_even(float value) {
  if (!(value > 0.0f)) return 0;  // also NaN
  float whole = std::floor(value);
  float rest = value - whole;
  auto result = static_cast<uint32_t>(whole);
  if (rest > 0.5f || (rest == 0.5f && (result & 1u) != 0)) ++result;
  return result;
}

CBaseAltaLuxFilter::CBaseAltaLuxFilter(int width, int height)
    : width_(width > 0 ? width : 0),
      height_(height > 0 ? height : 0),
      processed_width_(width_ / kTileColumns * kTileColumns),
      processed_height_(height_ / kTileRows * kTileRows),
      tile_width_(width_ / kTileColumns),
      tile_height_(height_ / kTileRows) {}

CBaseAltaLuxFilter::~CBaseAltaLuxFilter() = default;

bool CBaseAltaLuxFilter::allocate_plane() {
  size_t bytes = static_cast<size_t>(width_) * (static_cast<size_t>(height_) + 1);
  plane_.reset(new (std::nothrow) uint8_t[bytes > 0 ? bytes : 1]);
  return plane_ != nullptr;
}

void CBaseAltaLuxFilter::release() { plane_.reset(); }

void CBaseAltaLuxFilter::set_intensity(int value) {
  int64_t strength = static_cast<int64_t>(value) + 4;
  if (strength < 0) strength = 0;
  if (strength > 100) strength = 100;
  strength_ = static_cast<int>(strength);
  if (strength_ == 0) {
    plane_.reset();
  } else if (plane_ == nullptr) {
    allocate_plane();  // a failure leaves it absent; process() tries again
  }
  float clip = static_cast<float>(strength_) * 4.0f / 100.0f + 1.0f;
  if (clip < 1.0f) clip = 1.0f;
  if (clip > 5.0f) clip = 5.0f;
  clip_factor_ = clip;
}

namespace {

// The luminance of a blue, green, red pixel: the weight 9797 goes to the blue byte and 3735 to
// the red one.
inline uint32_t luminance(const uint8_t* pixel) {
  return (9797u * pixel[0] + 19234u * pixel[1] + 3735u * pixel[2] + 16384u) >> 15;
}

inline uint8_t add_clamped(uint8_t channel, int delta) {
  int v = channel + delta;
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

}  // namespace

void CBaseAltaLuxFilter::compute_luminance(CBaseAltaLuxFilter* self, uint8_t* pixels, int first, int end) {
  const size_t w = static_cast<size_t>(self->width_);
  for (int y = first; y < end; ++y) {
    const uint8_t* src = pixels + static_cast<size_t>(y) * w * 4;
    uint8_t* dst = self->plane_.get() + static_cast<size_t>(y) * w;
    for (size_t x = 0; x < w; ++x) dst[x] = static_cast<uint8_t>(luminance(src + x * 4));
  }
}

void CBaseAltaLuxFilter::write_back(CBaseAltaLuxFilter* self, uint8_t* pixels, int first, int end) {
  const size_t w = static_cast<size_t>(self->width_);
  for (int y = first; y < end; ++y) {
    uint8_t* px = pixels + static_cast<size_t>(y) * w * 4;
    const uint8_t* plane = self->plane_.get() + static_cast<size_t>(y) * w;
    for (size_t x = 0; x < w; ++x, px += 4) {
      int delta = static_cast<int>(plane[x]) - static_cast<int>(luminance(px));
      px[0] = add_clamped(px[0], delta);
      px[1] = add_clamped(px[1], delta);
      px[2] = add_clamped(px[2], delta);
    }
  }
}

void CBaseAltaLuxFilter::for_row_bands(int rows,
                                       void (*body)(CBaseAltaLuxFilter* self, uint8_t* pixels, int first, int end),
                                       uint8_t* pixels) {
  body(this, pixels, 0, rows);
}

int CBaseAltaLuxFilter::process(uint8_t* pixels) {
  if (pixels == nullptr) return kFilterNoBuffer;
  if (plane_ == nullptr && !allocate_plane()) return kFilterNoMemory;
  for_row_bands(height_, compute_luminance, pixels);
  int result = EqualizeTiles();
  if (result != 0) return result;
  for_row_bands(height_, write_back, pixels);
  return kFilterOk;
}

std::unique_ptr<CBaseAltaLuxFilter> create_altalux_filter(int width, int height, int threads) {
  std::unique_ptr<CBaseAltaLuxFilter> filter;
  try {
    filter = std::make_unique<CParallelSplitLoopAltaLuxFilter>(width, height, threads);
  } catch (...) {
    return nullptr;  // no memory or no worker thread
  }
  filter->set_intensity(kDefaultIntensity);
  return filter;
}

}  // namespace brixa::live
