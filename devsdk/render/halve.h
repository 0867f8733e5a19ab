// Halves a plane of 8-bit samples in both directions, each output sample the rounded mean of a
// 2 x 2 block (an odd last column or row is dropped). The cheap first step of shrinking a picture
// to a window at most half its size.
#pragma once

#include <cstdint>

namespace devsdk::render {

// `to` holds width / 2 by height / 2 samples, `to_stride` bytes a row.
void halve_plane(const uint8_t* from, int from_stride, int width, int height, uint8_t* to, int to_stride);

}  // namespace devsdk::render
