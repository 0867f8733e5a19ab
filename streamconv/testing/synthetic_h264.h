// Synthetic H.264 for the converter's tests and benchmark: a moving pattern encoded with
// libx264, no B pictures, parameter sets in front of every key picture (as a device sends them).
#pragma once

#include <cstdint>
#include <vector>

namespace streamconv::testing {

struct EncodedPicture {
  bool key = false;
  std::vector<uint8_t> bytes;  // Annex B
};

// `count` pictures of `width` x `height` (multiples of 16), a key picture every `key_interval`.
// Empty when the encoder is missing or fails.
std::vector<EncodedPicture> encode_synthetic_h264(int width, int height, int count, int key_interval,
                                                  int bit_rate);

}  // namespace streamconv::testing
