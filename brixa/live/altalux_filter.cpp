// The filter's common part: geometry, strength, luminance and write-back.
#include "brixa/live/altalux_filter.h"

#include <cmath>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)
namespace {

// The luminance of four pixels as four 32-bit lanes, with the same integer formula.
inline __m128i luminance4(__m128i pixels) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i weights = _mm_setr_epi16(9797, 19234, 3735, 0, 9797, 19234, 3735, 0);
  __m128i low = _mm_madd_epi16(_mm_unpacklo_epi8(pixels, zero), weights);   // b+g, r of pixels 0, 1
  __m128i high = _mm_madd_epi16(_mm_unpackhi_epi8(pixels, zero), weights);  // b+g, r of pixels 2, 3
  __m128i even = _mm_castps_si128(
      _mm_shuffle_ps(_mm_castsi128_ps(low), _mm_castsi128_ps(high), _MM_SHUFFLE(2, 0, 2, 0)));
  __m128i odd = _mm_castps_si128(
      _mm_shuffle_ps(_mm_castsi128_ps(low), _mm_castsi128_ps(high), _MM_SHUFFLE(3, 1, 3, 1)));
  return _mm_srli_epi32(_mm_add_epi32(_mm_add_epi32(even, odd), _mm_set1_epi32(16384)), 15);
}

// Adds delta i (16-bit lanes 0-3 of `deltas`) to the blue, green and red bytes of pixel i,
// saturating at 0 and 255; the fourth byte gets 0 added.
inline __m128i add_deltas4(__m128i pixels, __m128i deltas) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i colour_lanes = _mm_setr_epi16(-1, -1, -1, 0, -1, -1, -1, 0);
  __m128i pairs = _mm_unpacklo_epi16(deltas, deltas);                                   // d0 d0 d1 d1 ...
  __m128i first = _mm_and_si128(_mm_unpacklo_epi32(pairs, pairs), colour_lanes);        // pixels 0, 1
  __m128i second = _mm_and_si128(_mm_unpackhi_epi32(pairs, pairs), colour_lanes);       // pixels 2, 3
  __m128i low = _mm_add_epi16(_mm_unpacklo_epi8(pixels, zero), first);
  __m128i high = _mm_add_epi16(_mm_unpackhi_epi8(pixels, zero), second);
  return _mm_packus_epi16(low, high);
}

}  // namespace
#endif

void CBaseAltaLuxFilter::compute_luminance(CBaseAltaLuxFilter* self, uint8_t* pixels, int first, int end) {
  const size_t w = static_cast<size_t>(self->width_);
  for (int y = first; y < end; ++y) {
    const uint8_t* src = pixels + static_cast<size_t>(y) * w * 4;
    uint8_t* dst = self->plane_.get() + static_cast<size_t>(y) * w;
    size_t x = 0;
#if defined(__SSE2__)
    for (; x + 8 <= w; x += 8) {
      __m128i a = luminance4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x * 4)));
      __m128i b = luminance4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x * 4 + 16)));
      __m128i words = _mm_packs_epi32(a, b);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + x), _mm_packus_epi16(words, words));
    }
#endif
    for (; x < w; ++x) dst[x] = static_cast<uint8_t>(luminance(src + x * 4));
  }
}

void CBaseAltaLuxFilter::write_back(CBaseAltaLuxFilter* self, uint8_t* pixels, int first, int end) {
  const size_t w = static_cast<size_t>(self->width_);
  for (int y = first; y < end; ++y) {
    uint8_t* row = pixels + static_cast<size_t>(y) * w * 4;
    const uint8_t* plane = self->plane_.get() + static_cast<size_t>(y) * w;
    size_t x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; x + 4 <= w; x += 4) {
      __m128i* at = reinterpret_cast<__m128i*>(row + x * 4);
      __m128i px = _mm_loadu_si128(at);
      uint32_t four;
      std::memcpy(&four, plane + x, 4);
      __m128i target = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(four)), zero), zero);
      __m128i delta = _mm_sub_epi32(target, luminance4(px));
      _mm_storeu_si128(at, add_deltas4(px, _mm_packs_epi32(delta, delta)));
    }
#endif
    for (uint8_t* px = row + x * 4; x < w; ++x, px += 4) {
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
