// The live band: the bottom macroblock rows of every picture, written as a slice of raw samples
// (I_PCM macroblocks) that joins the scene slices encoded earlier. Raw samples cost no encoding,
// so the clock and the time code in the band run live while the scene above loops.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/device/video/h264_syntax.h"

namespace sim::device::video {

// Luma samples of the band, one byte each, `stride` bytes a row; chroma is flat grey.
struct BandSamples {
  const uint8_t* luma = nullptr;
  int stride = 0;
  uint32_t width_mbs = 0;
  uint32_t rows_mbs = 0;
};

// Appends the band's slice (start code included) to `out`: a slice of the picture that
// `picture` describes, starting at macroblock `first_mb` and running to the end of the picture.
// The stream must use CAVLC.
void append_band_slice(std::vector<uint8_t>& out, const PictureFacts& picture, const SpsFacts& sps,
                       const PpsFacts& pps, uint32_t first_mb, const BandSamples& band);

}  // namespace sim::device::video
