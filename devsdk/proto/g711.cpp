#include "devsdk/proto/g711.h"

namespace proto {

// Segment-wise companding: a sign bit, a 3-bit segment (the sample's magnitude as a power of
// two) and 4 bits within the segment, with every even bit inverted on the wire.
uint8_t alaw_encode(int16_t sample) {
  int magnitude = sample;
  uint8_t sign = 0x80;
  if (magnitude < 0) {
    magnitude = -magnitude - 1;
    sign = 0;
  }
  magnitude >>= 3;  // 13-bit magnitude
  if (magnitude > 0xFFF) magnitude = 0xFFF;
  uint8_t code;
  if (magnitude < 32) {
    code = static_cast<uint8_t>(magnitude >> 1);
  } else {
    int segment = 1;
    while ((magnitude >> (segment + 4)) > 1) ++segment;
    code = static_cast<uint8_t>((segment << 4) | ((magnitude >> segment) & 0x0F));
  }
  return static_cast<uint8_t>((code | sign) ^ 0x55);
}

int16_t alaw_decode(uint8_t code) {
  code ^= 0x55;
  const int segment = (code >> 4) & 0x07;
  int magnitude = (code & 0x0F) << 4;
  magnitude += segment == 0 ? 8 : 0x108;
  if (segment > 1) magnitude <<= segment - 1;
  return static_cast<int16_t>((code & 0x80) != 0 ? magnitude : -magnitude);
}

void alaw_decode(const uint8_t* codes, size_t count, int16_t* out) {
  for (size_t i = 0; i < count; ++i) out[i] = alaw_decode(codes[i]);
}

}  // namespace proto
