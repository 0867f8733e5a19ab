// H.264 Annex B byte streams as the DAV file carries them: NAL units behind 3- or 4-byte start
// codes, with the parameter sets in front of each key picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace streamconv {

struct NalView {
  const uint8_t* data = nullptr;  // the unit, from its header byte, without the start code
  size_t size = 0;
  uint8_t type() const { return size > 0 ? static_cast<uint8_t>(data[0] & 0x1f) : 0; }
};

inline constexpr uint8_t kNalSps = 7;
inline constexpr uint8_t kNalPps = 8;

// The NAL units of `data`, in order. Bytes before the first start code are skipped.
std::vector<NalView> split_annex_b(const uint8_t* data, size_t size);

// The decoder configuration of a key picture for the MP4 muxer: its first SPS and first PPS,
// each behind a 4-byte start code (the muxer turns them into the avcC record). Empty when the
// picture lacks either, or its SPS is too short to name a profile and level.
std::vector<uint8_t> parameter_sets_of(const uint8_t* data, size_t size);

}  // namespace streamconv
