// The local-contrast filter behind the wide-dynamic-range picture mode: a tile-based contrast
// limited equalisation of the picture's luminance, written back into the pixels.
//
// Pixels are 32 bits, rows top-down without padding, bytes blue, green, red, unused. The filter
// divides the picture into 8 x 8 tiles, builds one clipped-histogram mapping per tile and maps
// every pixel by interpolating the mappings of the four nearest tiles.
//
// One filter belongs to one channel capture and is used under that capture's lock, by one thread
// at a time; the parallel implementation runs its passes on worker threads of its own.
#pragma once

#include <cstdint>
#include <memory>

#include "brixa/live/parallel_loop.h"

namespace brixa::live {

inline constexpr int kTileColumns = 8;
inline constexpr int kTileRows = 8;
// The intensity a new filter starts with.
inline constexpr int kDefaultIntensity = 25;

// Results of process().
inline constexpr int kFilterOk = 0;
inline constexpr int kFilterNoBuffer = -1;
inline constexpr int kFilterNoMemory = -11;

// One region of the interpolation along one axis: `size` pixels from `first`, mapped between
// the tile mappings `map_low` (top or left) and `map_high` (bottom or right).
struct RegionSpan {
  int first = 0;
  int size = 0;
  int map_low = 0;
  int map_high = 0;
};

// Region `index` (0 to 8) along an axis of `full` pixels with tiles of `tile` pixels: half a tile
// at each end, whole tiles between, and the pixels beyond the last whole tile added to the last
// region.
RegionSpan region_span(int index, int tile, int full);
// The first row (or column) of the tile block whose mapping is tile row (or column) `index`.
int tile_block_start(int index, int tile);

// Rounds half to even in single precision, whatever the floating-point rounding mode.
uint32_t round_half_even(float value);

// The filter's common part: geometry, strength, the luminance plane and its write-back.
class CBaseAltaLuxFilter {
 public:
  CBaseAltaLuxFilter(int width, int height);
  virtual ~CBaseAltaLuxFilter();
  CBaseAltaLuxFilter(const CBaseAltaLuxFilter&) = delete;
  CBaseAltaLuxFilter& operator=(const CBaseAltaLuxFilter&) = delete;

  // Strength = value + 4 within 0 to 100; clip factor = strength * 4 / 100 + 1 in single
  // precision, within 1.0 to 5.0. A strength of 0 frees the luminance plane.
  void set_intensity(int value);
  // Filters `pixels` (width x height pixels) in place: kFilterOk, kFilterNoBuffer (null) or
  // kFilterNoMemory (no luminance plane or mapping table could be allocated).
  int process(uint8_t* pixels);
  // Frees the luminance plane.
  void release();

  // Equalises the luminance plane: 0, or kFilterNoMemory.
  virtual int EqualizeTiles() = 0;

  int width() const { return width_; }
  int height() const { return height_; }
  int processed_width() const { return processed_width_; }
  int processed_height() const { return processed_height_; }
  int tile_width() const { return tile_width_; }
  int tile_height() const { return tile_height_; }
  int strength() const { return strength_; }
  float clip_factor() const { return clip_factor_; }
  bool has_luminance_plane() const { return plane_ != nullptr; }

 protected:
  // Runs body(first_row, end_row) over bands of rows; the base class runs one band.
  virtual void for_row_bands(int rows, void (*body)(CBaseAltaLuxFilter* self, uint8_t* pixels, int first, int end),
                             uint8_t* pixels);

  bool allocate_plane();
  static void compute_luminance(CBaseAltaLuxFilter* self, uint8_t* pixels, int first, int end);
  static void write_back(CBaseAltaLuxFilter* self, uint8_t* pixels, int first, int end);

  const int width_;
  const int height_;
  const int processed_width_;
  const int processed_height_;
  const int tile_width_;
  const int tile_height_;
  int strength_ = 0;
  float clip_factor_ = 1.0f;
  std::unique_ptr<uint8_t[]> plane_;  // width x (height + 1) luminance values
};

// EqualizeTiles with both passes (mappings, then interpolation) spread over tile rows on the
// threads of a parallel loop.
class CParallelSplitLoopAltaLuxFilter : public CBaseAltaLuxFilter {
 public:
  // `threads` counts the calling thread; below 1: the machine's hardware thread count.
  CParallelSplitLoopAltaLuxFilter(int width, int height, int threads = 0);

  int EqualizeTiles() override;

 protected:
  void for_row_bands(int rows, void (*body)(CBaseAltaLuxFilter* self, uint8_t* pixels, int first, int end),
                     uint8_t* pixels) override;

 private:
  void build_tile_row_mappings(int tile_row, uint32_t clip_limit, uint32_t* mappings);
  void interpolate_region_row(int region_row, const uint32_t* mappings);

  ParallelLoop loop_;
};

// A new filter for a picture of width x height with intensity kDefaultIntensity, or null when
// it cannot be made. `threads` as for CParallelSplitLoopAltaLuxFilter.
std::unique_ptr<CBaseAltaLuxFilter> create_altalux_filter(int width, int height, int threads = 0);

}  // namespace brixa::live
