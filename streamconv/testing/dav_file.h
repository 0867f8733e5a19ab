// DAV streams built from encoded pictures, as a device's recording would hold them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "streamconv/testing/synthetic_h264.h"

namespace streamconv::testing {

inline constexpr uint8_t kKindKeyFrame = 1;
inline constexpr uint8_t kKindFrame = 2;
inline constexpr uint8_t kKindAudio = 3;
inline constexpr uint8_t kKindLens = 4;
inline constexpr uint8_t kCodecH264 = 1;
inline constexpr uint8_t kCodecG711A = 2;

inline constexpr int kToneHz = 1000;
inline constexpr double kToneAmplitude = 8000;

// The A-law byte of a linear sample (16-bit range).
uint8_t linear_to_alaw(int16_t linear);

struct DavPicture {
  const EncodedPicture* picture = nullptr;
  uint64_t timestamp_ms = 0;
};

// Appends one video block per picture, each a key or plain frame as the encoder marked it;
// with `audio`, a 40 ms G.711 block after each picture, together a tone of kToneHz at
// kToneAmplitude (16-bit range).
void append_pictures(std::vector<uint8_t>& out, const std::vector<DavPicture>& pictures, uint16_t width,
                     uint16_t height, bool audio);

// `count` pictures taken from `loop` in order, over and over, `interval_ms` apart from `start_ms`.
std::vector<DavPicture> looped(const std::vector<EncodedPicture>& loop, size_t first, size_t count,
                               uint64_t start_ms, uint64_t interval_ms);

}  // namespace streamconv::testing
