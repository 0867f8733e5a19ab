#include "devsdk/render/halve.h"

#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace devsdk::render {

void halve_plane(const uint8_t* from, int from_stride, int width, int height, uint8_t* to, int to_stride) {
  const int out_width = width / 2;
  for (int y = 0; y < height / 2; ++y) {
    const uint8_t* a = from + static_cast<size_t>(2 * y) * from_stride;
    const uint8_t* b = a + from_stride;
    uint8_t* o = to + static_cast<size_t>(y) * to_stride;
    int x = 0;
#if defined(__SSE2__)
    // 16 outputs at a time: the vertical mean of two rows, then the mean of the even and odd
    // samples of it. The two roundings of the byte averages can add 1 to the exact mean.
    const __m128i low_bytes = _mm_set1_epi16(0x00FF);
    for (; x + 16 <= out_width; x += 16) {
      __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 2 * x));
      __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 2 * x + 16));
      __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 2 * x));
      __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 2 * x + 16));
      __m128i v0 = _mm_avg_epu8(a0, b0), v1 = _mm_avg_epu8(a1, b1);
      __m128i even = _mm_packus_epi16(_mm_and_si128(v0, low_bytes), _mm_and_si128(v1, low_bytes));
      __m128i odd = _mm_packus_epi16(_mm_srli_epi16(v0, 8), _mm_srli_epi16(v1, 8));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o + x), _mm_avg_epu8(even, odd));
    }
#endif
    for (; x < out_width; ++x)
      o[x] = static_cast<uint8_t>((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) >> 2);
  }
}

}  // namespace devsdk::render
