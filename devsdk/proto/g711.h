// G.711 A-law, the sound codec of the live streams (kCodecG711A): 8000 samples a second, mono,
// one byte a sample. The device encodes, the SDK decodes to 16-bit PCM.
#pragma once

#include <cstddef>
#include <cstdint>

namespace proto {

inline constexpr int32_t kG711SampleRate = 8000;

uint8_t alaw_encode(int16_t sample);
int16_t alaw_decode(uint8_t code);

// Decodes `count` bytes into `out` (room for `count` samples).
void alaw_decode(const uint8_t* codes, size_t count, int16_t* out);

}  // namespace proto
