// EqualizeTiles of the parallel filter: clipped-histogram mappings per tile, then bilinear
// interpolation of the four nearest mappings for every pixel.
#include <cstring>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "brixa/live/altalux_filter.h"

namespace brixa::live {
namespace {

constexpr int kBins = 256;
constexpr int kMappings = kTileColumns * kTileRows;

// Limits every bin to `limit`, hands the cut counts back evenly, then one at a time to the bins
// still below the limit, sweeping from bin 0, then 1, and so on. The sweeps end when nothing is
// left to hand out or no bin below the limit remains; what cannot be placed is dropped.
void clip_histogram(uint32_t* bins, uint32_t limit) {
  uint32_t excess = 0;
  for (int i = 0; i < kBins; ++i)
    if (bins[i] > limit) excess += bins[i] - limit;
  const uint32_t increment = excess / kBins;
  const uint32_t upper = increment > limit ? 0 : limit - increment;
  for (int i = 0; i < kBins; ++i) {
    if (bins[i] > limit) {
      bins[i] = limit;
    } else if (bins[i] > upper) {
      excess -= bins[i] - upper;
      bins[i] = limit;
    } else {
      bins[i] += increment;
      excess -= increment;
    }
  }
  int below = 0;
  for (int i = 0; i < kBins; ++i)
    if (bins[i] < limit) ++below;
  int start = 0;
  while (excess > 0 && below > 0) {
    uint32_t step = kBins / excess;
    if (step < 1) step = 1;
    for (uint32_t i = static_cast<uint32_t>(start); i < kBins && excess > 0; i += step) {
      if (bins[i] < limit) {
        ++bins[i];
        --excess;
        if (bins[i] == limit) --below;
      }
    }
    start = (start + 1) % kBins;
  }
}

// The cumulative histogram scaled to 0-255.
void map_histogram(const uint32_t* bins, uint32_t area, uint32_t* mapping) {
  const float scale = 255.0f / static_cast<float>(area);
  uint32_t sum = 0;
  for (int j = 0; j < kBins; ++j) {
    sum += bins[j];
    uint32_t value = round_half_even(static_cast<float>(sum) * scale);
    mapping[j] = value < 255 ? value : 255;
  }
}

// Exact unsigned division by a region's area: a multiply and a shift. For a power of two the
// quotient is a plain shift (no rounding); otherwise half the divisor is added first. Numerators
// stay below 256 * divisor, and with 2^shift >= 256 * divisor^2 the product gives the exact
// quotient for all of them.
struct AreaDivider {
  uint64_t multiplier = 1;
  int shift = 0;
  uint32_t bias = 0;
  bool wide = false;  // divisors of 2^23 and more: plain 64-bit division
  uint64_t divisor = 1;

  explicit AreaDivider(uint64_t area) : divisor(area) {
    const bool power_of_two = (area & (area - 1)) == 0;
    if (!power_of_two) bias = static_cast<uint32_t>(area / 2);
    if (area >= (uint64_t{1} << 23)) {
      wide = true;
      return;
    }
    if (power_of_two) {
      while ((uint64_t{1} << shift) < area) ++shift;
      return;
    }
    while ((uint64_t{1} << shift) < 256 * area * area) ++shift;
    multiplier = ((uint64_t{1} << shift) + area - 1) / area;
  }
};

template <bool kWide>
void interpolate_region(uint8_t* plane, size_t stride, uint32_t width, uint32_t height, const uint32_t* lu,
                        const uint32_t* ru, const uint32_t* lb, const uint32_t* rb, const AreaDivider& div) {
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = plane + y * stride;
    const uint32_t top = height - y;
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t v = row[x];
      const uint32_t left = width - x;
      if constexpr (kWide) {
        uint64_t num = (uint64_t{lu[v]} * left + uint64_t{ru[v]} * x) * top +
                       (uint64_t{lb[v]} * left + uint64_t{rb[v]} * x) * y + div.bias;
        row[x] = static_cast<uint8_t>(num / div.divisor);
      } else {
        uint32_t num = (lu[v] * left + ru[v] * x) * top + (lb[v] * left + rb[v] * x) * y + div.bias;
        row[x] = static_cast<uint8_t>((uint64_t{num} * div.multiplier) >> div.shift);
      }
    }
  }
}

#if defined(__SSE2__)
// Regions of at most this many pixels take the vector path: every weight fits a signed 16-bit
// lane, so one multiply-add gives mapping * weight for the left and the right mapping at once.
constexpr uint64_t kVectorAreaLimit = 32767;

// The same interpolation four pixels at a time. Each mapping pair (left in the low half, right in
// the high half of a 32-bit entry) meets its weight pair ((X - x) * row weight, x * row weight)
// in one _mm_madd_epi16; the quotient comes from the divider's multiplier and shift.
void interpolate_region_vector(uint8_t* plane, size_t stride, uint32_t width, uint32_t height, const uint32_t* lu,
                               const uint32_t* ru, const uint32_t* lb, const uint32_t* rb,
                               const AreaDivider& div) {
  uint32_t top_pairs[256], bottom_pairs[256];
  for (int v = 0; v < 256; ++v) {
    top_pairs[v] = lu[v] | (ru[v] << 16);
    bottom_pairs[v] = lb[v] | (rb[v] << 16);
  }
  // (X - x, x) for every column of the region, as 16-bit pairs.
  std::vector<uint32_t> column_pairs(width + 3);
  for (uint32_t x = 0; x < width; ++x) column_pairs[x] = (width - x) | (x << 16);

  const __m128i bias = _mm_set1_epi32(static_cast<int>(div.bias));
  const __m128i multiplier = _mm_set1_epi32(static_cast<int>(static_cast<uint32_t>(div.multiplier)));
  const __m128i shift = _mm_cvtsi32_si128(div.shift);
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = plane + y * stride;
    const __m128i top_weight = _mm_set1_epi16(static_cast<int16_t>(height - y));
    const __m128i bottom_weight = _mm_set1_epi16(static_cast<int16_t>(y));
    uint32_t x = 0;
    for (; x + 4 <= width; x += 4) {
      const uint8_t* v = row + x;
      __m128i top = _mm_setr_epi32(static_cast<int>(top_pairs[v[0]]), static_cast<int>(top_pairs[v[1]]),
                                   static_cast<int>(top_pairs[v[2]]), static_cast<int>(top_pairs[v[3]]));
      __m128i bottom =
          _mm_setr_epi32(static_cast<int>(bottom_pairs[v[0]]), static_cast<int>(bottom_pairs[v[1]]),
                         static_cast<int>(bottom_pairs[v[2]]), static_cast<int>(bottom_pairs[v[3]]));
      __m128i columns = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&column_pairs[x]));
      __m128i num = _mm_add_epi32(_mm_madd_epi16(top, _mm_mullo_epi16(columns, top_weight)),
                                  _mm_madd_epi16(bottom, _mm_mullo_epi16(columns, bottom_weight)));
      num = _mm_add_epi32(num, bias);
      __m128i even = _mm_srl_epi64(_mm_mul_epu32(num, multiplier), shift);
      __m128i odd = _mm_srl_epi64(_mm_mul_epu32(_mm_srli_epi64(num, 32), multiplier), shift);
      __m128i quotient = _mm_or_si128(even, _mm_slli_epi64(odd, 32));
      __m128i words = _mm_packs_epi32(quotient, quotient);
      int four = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
      std::memcpy(row + x, &four, 4);
    }
    for (; x < width; ++x) {
      const uint32_t v = row[x];
      const uint32_t left = width - x;
      const uint32_t top = height - y;
      uint32_t num = (lu[v] * left + ru[v] * x) * top + (lb[v] * left + rb[v] * x) * y + div.bias;
      row[x] = static_cast<uint8_t>((uint64_t{num} * div.multiplier) >> div.shift);
    }
  }
}
#endif

}  // namespace

CParallelSplitLoopAltaLuxFilter::CParallelSplitLoopAltaLuxFilter(int width, int height, int threads)
    : CBaseAltaLuxFilter(width, height), loop_(threads) {}

void CParallelSplitLoopAltaLuxFilter::for_row_bands(
    int rows, void (*body)(CBaseAltaLuxFilter* self, uint8_t* pixels, int first, int end), uint8_t* pixels) {
  const int bands = loop_.threads() == 1 ? 1 : loop_.threads() * 4;
  loop_.run(bands, [&](int band) {
    int first = static_cast<int>(static_cast<int64_t>(rows) * band / bands);
    int end = static_cast<int>(static_cast<int64_t>(rows) * (band + 1) / bands);
    body(this, pixels, first, end);
  });
}

void CParallelSplitLoopAltaLuxFilter::build_tile_row_mappings(int tile_row, uint32_t clip_limit,
                                                              uint32_t* mappings) {
  const size_t stride = static_cast<size_t>(width_);
  const uint32_t area = static_cast<uint32_t>(tile_width_) * static_cast<uint32_t>(tile_height_);
  const int first_row = tile_block_start(tile_row, tile_height_);
  for (int column = 0; column < kTileColumns; ++column) {
    // Four interleaved histograms keep runs of one value from serialising on one counter.
    uint32_t partial[4][kBins];
    memset(partial, 0, sizeof partial);
    const uint8_t* block = plane_.get() + static_cast<size_t>(first_row) * stride +
                           static_cast<size_t>(column) * static_cast<size_t>(tile_width_);
    for (int y = 0; y < tile_height_; ++y) {
      const uint8_t* row = block + static_cast<size_t>(y) * stride;
      int x = 0;
      for (; x + 4 <= tile_width_; x += 4) {
        ++partial[0][row[x]];
        ++partial[1][row[x + 1]];
        ++partial[2][row[x + 2]];
        ++partial[3][row[x + 3]];
      }
      for (; x < tile_width_; ++x) ++partial[0][row[x]];
    }
    uint32_t bins[kBins];
    for (int i = 0; i < kBins; ++i) bins[i] = partial[0][i] + partial[1][i] + partial[2][i] + partial[3][i];
    clip_histogram(bins, clip_limit);
    map_histogram(bins, area, mappings + static_cast<size_t>(tile_row * kTileColumns + column) * kBins);
  }
}

void CParallelSplitLoopAltaLuxFilter::interpolate_region_row(int region_row, const uint32_t* mappings) {
  const size_t stride = static_cast<size_t>(width_);
  const RegionSpan rows = region_span(region_row, tile_height_, height_);
  if (rows.size <= 0) return;
  for (int n = 0; n <= kTileColumns; ++n) {
    const RegionSpan columns = region_span(n, tile_width_, width_);
    if (columns.size <= 0) continue;
    auto mapping = [&](int tile_row, int tile_column) {
      return mappings + static_cast<size_t>(tile_row * kTileColumns + tile_column) * kBins;
    };
    const uint32_t* lu = mapping(rows.map_low, columns.map_low);
    const uint32_t* ru = mapping(rows.map_low, columns.map_high);
    const uint32_t* lb = mapping(rows.map_high, columns.map_low);
    const uint32_t* rb = mapping(rows.map_high, columns.map_high);
    const AreaDivider divider(static_cast<uint64_t>(columns.size) * static_cast<uint64_t>(rows.size));
    uint8_t* region = plane_.get() + static_cast<size_t>(rows.first) * stride + static_cast<size_t>(columns.first);
    const auto w = static_cast<uint32_t>(columns.size);
    const auto h = static_cast<uint32_t>(rows.size);
    if (divider.wide)
      interpolate_region<true>(region, stride, w, h, lu, ru, lb, rb, divider);
#if defined(__SSE2__)
    else if (divider.divisor <= kVectorAreaLimit)
      interpolate_region_vector(region, stride, w, h, lu, ru, lb, rb, divider);
#endif
    else
      interpolate_region<false>(region, stride, w, h, lu, ru, lb, rb, divider);
  }
}

int CParallelSplitLoopAltaLuxFilter::EqualizeTiles() {
  if (clip_factor_ == 1.0f) return 0;
  // A picture smaller than one pixel per tile has empty tiles: nothing to equalise.
  if (tile_width_ == 0 || tile_height_ == 0 || plane_ == nullptr) return 0;
  std::unique_ptr<uint32_t[]> mappings(new (std::nothrow) uint32_t[kMappings * kBins]);
  if (mappings == nullptr) return kFilterNoMemory;

  const uint32_t area = static_cast<uint32_t>(tile_width_) * static_cast<uint32_t>(tile_height_);
  const float limit = static_cast<float>(area) * clip_factor_ * 0.00390625f;
  uint32_t clip_limit = limit >= 4294967295.0f ? 0xFFFFFFFFu : static_cast<uint32_t>(limit);
  if (clip_limit < 1) clip_limit = 1;

  // Tile row 8 and region rows 0 to 8: nine indices each, the first pass ending before the
  // second begins.
  loop_.run(kTileRows + 1, [&](int tile_row) {
    if (tile_row < kTileRows) build_tile_row_mappings(tile_row, clip_limit, mappings.get());
  });
  loop_.run(kTileRows + 1, [&](int region_row) { interpolate_region_row(region_row, mappings.get()); });
  return 0;
}

}  // namespace brixa::live
