// A loop of a scene, encoded once with H.264 and played over and over: every picture of the
// loop as the encoder gave it, minus its band slice, with what a live band slice must repeat.
//
// Loops are encoded on first use and kept in a process-wide cache (a few MiB each), so every
// device, viewer and test that shows the same scene shares one encoding.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/device/video/h264_syntax.h"
#include "sim/device/video/scene.h"

namespace sim::device::video {

inline constexpr int kFramesPerSecond = 25;
inline constexpr int kLoopFrames = 50;  // two seconds
inline constexpr int kKeyInterval = 25; // two key frames a loop: consecutive IDR pictures differ

struct LoopPicture {
  bool key = false;
  std::vector<uint8_t> bytes;  // Annex B: parameter sets (key pictures) and the scene slices
  PictureFacts facts;
};

struct EncodedLoop {
  int width = 0;
  int height = 0;
  SpsFacts sps;
  PpsFacts pps;
  uint32_t band_first_mb = 0;  // first macroblock of the band
  std::vector<LoopPicture> pictures;
};

// The loop of `spec` at `bit_rate` bits per second, encoded now or taken from the cache. Null
// when the encoder is missing or the stream cannot be spliced. Thread-safe; concurrent callers
// asking for one scene wait for one encoding.
std::shared_ptr<const EncodedLoop> encoded_loop(const SceneSpec& spec, int bit_rate);

// The loop of `spec` encoded now, without the cache (for views that come and go). Null as above.
std::shared_ptr<const EncodedLoop> encode_loop(const SceneSpec& spec, int bit_rate);

// How many loops this process has encoded.
uint64_t loops_encoded();

}  // namespace sim::device::video
