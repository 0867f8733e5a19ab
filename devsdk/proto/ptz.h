// The ptz_control request of the control connection: one pan-tilt-zoom command for a channel.
//
// Payload: `i32` channel, `u32` command, `i32` parameters 1 to 3, `u8` stop; the reply is empty.
// Commands (kPtz* below): moves and zooms run until a request with stop set, at the speed in
// parameter 2 (1 slowest to 8 fastest; others are brought into that range); a new move replaces
// the running one, it never adds to it. Presets 1 to 255 are in parameter 2. A request with stop
// set ends the motion whatever its command. Statuses: not_supported for a channel without PTZ
// or an unknown command, invalid_parameter for a channel out of range or preset 0 or above 255,
// no_record for going to a preset that was never set.
#pragma once

#include <cstdint>
#include <vector>

namespace proto {

inline constexpr uint32_t kPtzUp = 0;
inline constexpr uint32_t kPtzDown = 1;
inline constexpr uint32_t kPtzLeft = 2;
inline constexpr uint32_t kPtzRight = 3;
inline constexpr uint32_t kPtzZoomIn = 4;
inline constexpr uint32_t kPtzZoomOut = 5;
inline constexpr uint32_t kPtzGotoPreset = 10;
inline constexpr uint32_t kPtzSetPreset = 11;
inline constexpr uint32_t kPtzClearPreset = 12;

inline constexpr int32_t kPtzMinSpeed = 1;
inline constexpr int32_t kPtzMaxSpeed = 8;
inline constexpr int32_t kPtzMaxPreset = 255;

struct PtzControl {
  int32_t channel = 0;
  uint32_t command = 0;
  int32_t param1 = 0;
  int32_t param2 = 0;
  int32_t param3 = 0;
  uint8_t stop = 0;
};

std::vector<uint8_t> encode(const PtzControl& m);
bool decode(const std::vector<uint8_t>& payload, PtzControl& m);

}  // namespace proto
