// The local-contrast filter: strength and clip factor, geometry of tiles and regions, pictures
// that must stay as they are, and golden outputs from a plain reference written here from the
// algorithm's description.
#include "brixa/live/altalux_filter.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstring>
#include <vector>

namespace brixa::live {
namespace {

// ---- reference implementation: literal, single-threaded, no shortcuts ----

struct Reference {
  int width, height;
  float clip;

  int tw() const { return width / 8; }
  int th() const { return height / 8; }

  static int luma(const uint8_t* p) { return (9797 * p[0] + 19234 * p[1] + 3735 * p[2] + 16384) >> 15; }

  static uint32_t rhe(float f) {
    std::fesetround(FE_TONEAREST);
    return static_cast<uint32_t>(std::nearbyint(f));
  }

  // mapping[r][n][v]
  std::vector<uint32_t> mappings(const std::vector<uint8_t>& plane) const {
    std::vector<uint32_t> table(8 * 8 * 256);
    const unsigned area = static_cast<unsigned>(tw() * th());
    unsigned limit = static_cast<unsigned>(static_cast<float>(area) * clip * 0.00390625f);
    if (limit < 1) limit = 1;
    for (int r = 0; r < 8; ++r) {
      int y0 = r == 0 ? 0 : (r - 1) * th() + th() / 2;
      for (int n = 0; n < 8; ++n) {
        int x0 = n * tw();
        unsigned hist[256] = {};
        for (int y = y0; y < y0 + th(); ++y)
          for (int x = x0; x < x0 + tw(); ++x) hist[plane[y * width + x]]++;
        unsigned excess = 0;
        for (unsigned b : hist)
          if (b > limit) excess += b - limit;
        unsigned incr = excess / 256, upper = limit - incr;
        for (unsigned& b : hist) {
          if (b > limit) {
            b = limit;
          } else if (b > upper) {
            excess -= b - upper;
            b = limit;
          } else {
            b += incr;
            excess -= incr;
          }
        }
        for (int start = 0; excess > 0; start = (start + 1) % 256) {
          bool any_below = false;
          for (unsigned b : hist) any_below |= b < limit;
          if (!any_below) break;
          unsigned step = 256 / excess;
          if (step < 1) step = 1;
          for (unsigned i = start; i < 256 && excess > 0; i += step)
            if (hist[i] < limit) {
              hist[i]++;
              excess--;
            }
        }
        unsigned sum = 0;
        for (int j = 0; j < 256; ++j) {
          sum += hist[j];
          uint32_t v = rhe(static_cast<float>(sum) * (255.0f / static_cast<float>(area)));
          table[(r * 8 + n) * 256 + j] = v < 255 ? v : 255;
        }
      }
    }
    return table;
  }

  // Region geometry written out case by case.
  void region(int i, int tile, int full, int& first, int& size, int& lo, int& hi) const {
    int processed = full / 8 * 8;
    if (i == 0) {
      first = 0, size = tile / 2, lo = hi = 0;
    } else if (i < 8) {
      first = (i - 1) * tile + tile / 2, size = tile, lo = i - 1, hi = i;
    } else {
      first = 7 * tile + tile / 2, size = tile / 2 + (full - processed), lo = hi = 7;
    }
  }

  void run(std::vector<uint8_t>& pixels) const {
    std::vector<uint8_t> plane(static_cast<size_t>(width) * height);
    for (int i = 0; i < width * height; ++i) plane[i] = static_cast<uint8_t>(luma(&pixels[i * 4]));
    if (clip != 1.0f && tw() > 0 && th() > 0) {
      std::vector<uint32_t> map = mappings(plane);
      auto m = [&](int r, int n) { return &map[(r * 8 + n) * 256]; };
      for (int r = 0; r <= 8; ++r) {
        int y0, Y, top, bottom;
        region(r, th(), height, y0, Y, top, bottom);
        for (int n = 0; n <= 8; ++n) {
          int x0, X, left, right;
          region(n, tw(), width, x0, X, left, right);
          uint64_t d = static_cast<uint64_t>(X) * Y;
          if (d == 0) continue;
          for (int y = 0; y < Y; ++y)
            for (int x = 0; x < X; ++x) {
              uint8_t& v = plane[(y0 + y) * width + x0 + x];
              uint64_t num = (uint64_t{m(top, left)[v]} * (X - x) + uint64_t{m(top, right)[v]} * x) * (Y - y) +
                             (uint64_t{m(bottom, left)[v]} * (X - x) + uint64_t{m(bottom, right)[v]} * x) * y;
              if ((d & (d - 1)) == 0) {
                int shift = 0;
                while ((uint64_t{1} << shift) < d) ++shift;
                v = static_cast<uint8_t>(num >> shift);
              } else {
                v = static_cast<uint8_t>((num + d / 2) / d);
              }
            }
        }
      }
    }
    for (int i = 0; i < width * height; ++i) {
      uint8_t* p = &pixels[i * 4];
      int delta = plane[i] - luma(p);
      for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(std::min(255, std::max(0, p[c] + delta)));
    }
  }
};

// A picture with flat areas (which overflow the clip limit), gradients and noise.
std::vector<uint8_t> test_picture(int width, int height, uint32_t seed) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
  uint32_t state = seed;
  auto next = [&] {
    state = state * 1664525u + 1013904223u;
    return state >> 24;
  };
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
      if (x < width / 3 && y < height / 2) {  // a flat, dark wall
        p[0] = 20, p[1] = 24, p[2] = 30;
      } else if (x > 2 * width / 3) {  // a bright sky gradient
        p[0] = static_cast<uint8_t>(200 + y * 55 / height), p[1] = static_cast<uint8_t>(180 + x % 40),
        p[2] = static_cast<uint8_t>(160 + (x + y) % 60);
      } else {  // noise over a ramp
        int base = (x * 255) / width;
        p[0] = static_cast<uint8_t>(std::min(255, base / 2 + static_cast<int>(next() % 64)));
        p[1] = static_cast<uint8_t>(std::min(255, base / 3 + static_cast<int>(next() % 96)));
        p[2] = static_cast<uint8_t>(std::min(255, base + static_cast<int>(next() % 32)));
      }
      p[3] = static_cast<uint8_t>(next());
    }
  return pixels;
}

// ---- strength and clip factor ----

TEST(AltaLuxFilter, IntensitySetsStrengthAndClipFactor) {
  struct Case {
    int intensity, strength;
    float clip;
  } cases[] = {
      {-100, 0, 1.0f}, {-4, 0, 1.0f},    {-3, 1, 1.04f},   {0, 4, 1.16f},     {25, 29, 2.16f},
      {50, 54, 3.16f}, {96, 100, 5.0f},  {100, 100, 5.0f}, {1000, 100, 5.0f},
  };
  for (const Case& c : cases) {
    CParallelSplitLoopAltaLuxFilter filter(64, 64, 1);
    filter.set_intensity(c.intensity);
    EXPECT_EQ(filter.strength(), c.strength) << c.intensity;
    EXPECT_FLOAT_EQ(filter.clip_factor(), c.clip) << c.intensity;
    EXPECT_EQ(filter.has_luminance_plane(), c.strength != 0) << c.intensity;
  }
}

TEST(AltaLuxFilter, NewFilterStartsAtIntensity25) {
  auto filter = create_altalux_filter(320, 240, 1);
  ASSERT_NE(filter, nullptr);
  EXPECT_EQ(filter->strength(), 29);
  EXPECT_FLOAT_EQ(filter->clip_factor(), 2.16f);
}

TEST(AltaLuxFilter, ClipFactorOneLeavesThePictureAsItIs) {
  auto pixels = test_picture(160, 120, 7);
  auto before = pixels;
  auto filter = create_altalux_filter(160, 120, 2);
  filter->set_intensity(-4);
  EXPECT_FALSE(filter->has_luminance_plane());
  EXPECT_EQ(filter->process(pixels.data()), kFilterOk);
  EXPECT_EQ(pixels, before);
}

TEST(AltaLuxFilter, NullBufferIsRefused) {
  auto filter = create_altalux_filter(16, 16, 1);
  EXPECT_EQ(filter->process(nullptr), kFilterNoBuffer);
}

// ---- geometry ----

TEST(AltaLuxFilter, TileAndRegionGeometry) {
  struct Case {
    int width, height, processed_w, processed_h, tile_w, tile_h, last_region_w, last_region_h;
  } cases[] = {
      {1000, 600, 1000, 600, 125, 75, 62, 37},
      {1002, 601, 1000, 600, 125, 75, 64, 38},
      {1920, 1080, 1920, 1080, 240, 135, 120, 67},
  };
  for (const Case& c : cases) {
    CParallelSplitLoopAltaLuxFilter filter(c.width, c.height, 1);
    EXPECT_EQ(filter.processed_width(), c.processed_w);
    EXPECT_EQ(filter.processed_height(), c.processed_h);
    EXPECT_EQ(filter.tile_width(), c.tile_w);
    EXPECT_EQ(filter.tile_height(), c.tile_h);
    EXPECT_EQ(region_span(8, c.tile_w, c.width).size, c.last_region_w);
    EXPECT_EQ(region_span(8, c.tile_h, c.height).size, c.last_region_h);
    // Regions follow each other without gap or overlap.
    int end = 0;
    for (int i = 0; i <= 8; ++i) {
      RegionSpan s = region_span(i, c.tile_w, c.width);
      EXPECT_EQ(s.first, end) << c.width << " region " << i;
      end = s.first + s.size;
    }
  }
  RegionSpan middle = region_span(3, 125, 1002);
  EXPECT_EQ(middle.first, 2 * 125 + 62);
  EXPECT_EQ(middle.map_low, 2);
  EXPECT_EQ(middle.map_high, 3);
  EXPECT_EQ(tile_block_start(0, 75), 0);
  EXPECT_EQ(tile_block_start(1, 75), 37);
  EXPECT_EQ(tile_block_start(7, 75), 6 * 75 + 37);
}

TEST(AltaLuxFilter, RoundHalfToEven) {
  EXPECT_EQ(round_half_even(0.5f), 0u);
  EXPECT_EQ(round_half_even(1.5f), 2u);
  EXPECT_EQ(round_half_even(2.5f), 2u);
  EXPECT_EQ(round_half_even(2.5000002f), 3u);
  EXPECT_EQ(round_half_even(254.49998f), 254u);
  EXPECT_EQ(round_half_even(0.0f), 0u);
}

// ---- pictures that keep their values ----

TEST(AltaLuxFilter, UniformPictureStaysUniform) {
  for (uint8_t grey : {uint8_t{0}, uint8_t{17}, uint8_t{100}, uint8_t{200}, uint8_t{255}}) {
    std::vector<uint8_t> pixels(160 * 96 * 4, grey);
    auto filter = create_altalux_filter(160, 96, 2);
    ASSERT_EQ(filter->process(pixels.data()), kFilterOk);
    for (size_t i = 4; i < pixels.size(); ++i)
      ASSERT_EQ(pixels[i], pixels[i % 4]) << "grey " << int{grey} << " byte " << i;
    if (grey == 255) {
      EXPECT_EQ(pixels[0], 255) << "white keeps its value";
    }
  }
}

TEST(AltaLuxFilter, UniformTilesOfWhiteAndUnchangedRowsStay) {
  // Every tile is white: each mapping sends 255 to 255, so the picture is unchanged.
  std::vector<uint8_t> pixels(1002 * 601 * 4, 255);
  auto filter = create_altalux_filter(1002, 601, 2);
  ASSERT_EQ(filter->process(pixels.data()), kFilterOk);
  for (uint8_t b : pixels) ASSERT_EQ(b, 255);
}

TEST(AltaLuxFilter, FourthByteIsKept) {
  auto pixels = test_picture(200, 120, 3);
  auto before = pixels;
  auto filter = create_altalux_filter(200, 120, 2);
  filter->set_intensity(100);
  ASSERT_EQ(filter->process(pixels.data()), kFilterOk);
  bool changed = false;
  for (size_t i = 0; i < pixels.size(); ++i) {
    if (i % 4 == 3) {
      ASSERT_EQ(pixels[i], before[i]);
    }
    changed |= pixels[i] != before[i];
  }
  EXPECT_TRUE(changed);
}

// ---- golden outputs ----

TEST(AltaLuxFilter, MatchesTheReferenceExactly) {
  struct Case {
    int width, height, intensity;
  } cases[] = {
      {320, 240, 25},   // tiles 40 x 30
      {1002, 601, 25},  // remainders on both axes, odd tiles
      {128, 128, 60},   // 16 x 16 tiles: power-of-two regions, shifted
      {257, 95, 0},     // smallest accepted intensity
      {640, 360, 100},  // strongest
      {1600, 1440, 25}, // regions above 32767 pixels: the scalar path
      {17, 9, 25},      // tiles of 2 x 1
      {7, 30, 25},      // narrower than the tile columns: unchanged
  };
  for (const Case& c : cases) {
    for (int threads : {1, 2, 3}) {
      auto expected = test_picture(c.width, c.height, static_cast<uint32_t>(c.width * 31 + c.height));
      auto actual = expected;
      auto filter = create_altalux_filter(c.width, c.height, threads);
      ASSERT_NE(filter, nullptr);
      filter->set_intensity(c.intensity);
      Reference{c.width, c.height, filter->clip_factor()}.run(expected);
      ASSERT_EQ(filter->process(actual.data()), kFilterOk);
      size_t mismatches = 0, first = 0;
      for (size_t i = 0; i < actual.size(); ++i)
        if (actual[i] != expected[i] && mismatches++ == 0) first = i;
      EXPECT_EQ(mismatches, 0u) << c.width << "x" << c.height << " intensity " << c.intensity << " threads "
                                << threads << ": first difference at byte " << first;
    }
  }
}

TEST(AltaLuxFilter, RepeatedFramesGiveTheSameResult) {
  auto filter = create_altalux_filter(320, 180, 2);
  auto a = test_picture(320, 180, 11);
  auto b = a;
  ASSERT_EQ(filter->process(a.data()), kFilterOk);
  ASSERT_EQ(filter->process(b.data()), kFilterOk);
  EXPECT_EQ(a, b);
}

}  // namespace
}  // namespace brixa::live
