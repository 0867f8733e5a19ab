// Paints the live band of one stream: the ground, the device's wall clock as text and the time
// code of each picture's capture time. The clock text is drawn once a second; a picture costs a
// copy of the band and 48 blocks.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/device/video/time_code.h"

namespace sim::device::video {

class BandPainter {
 public:
  BandPainter(int width, int height);

  // The band's luma for a picture captured at `capture_ms` (milliseconds since the epoch, UTC):
  // `width` bytes a line, kBandLines lines. Valid until the next call.
  const uint8_t* paint(uint64_t capture_ms);
  const BandLayout& layout() const { return layout_; }

 private:
  void draw_clock(int64_t second);

  BandLayout layout_;
  std::vector<uint8_t> ground_;  // ground and clock text of the current second
  std::vector<uint8_t> band_;
  int64_t ground_second_ = -1;
};

}  // namespace sim::device::video
