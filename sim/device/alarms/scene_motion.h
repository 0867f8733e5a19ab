// Motion detection for the street scenes without looking at pixels: the car of a street scene
// crosses the picture once a loop (sim/device/video/scene.cpp draws it); a channel's motion
// alarm is on while the car overlaps the channel's detection zone.
#pragma once

#include <cstdint>

namespace sim::device {

// The scene's loop, as sim/device/video/encoded_loop.h has it (50 pictures at 25 a second).
inline constexpr uint32_t kSceneLoopMs = 2000;
// The detection zone, as fractions of the picture's width.
inline constexpr double kMotionZoneLeft = 0.60;
inline constexpr double kMotionZoneRight = 0.90;

// Left and right edge of the car of channel `seed`'s street at loop phase t (0 to 1), as
// fractions of the picture's width; the same formula the scene draws with.
void car_span(int seed, double t, double& left, double& right);
// True while the car of channel `seed` is in the detection zone at `now_ms`.
bool motion_in_zone(int seed, uint64_t now_ms);

}  // namespace sim::device
