#include "sim/device/alarms/scene_motion.h"

#include <cmath>

namespace sim::device {

void car_span(int seed, double t, double& left, double& right) {
  const double car_width = 0.16;  // of the picture's width
  double phase = std::fmod(t + 0.13 * seed, 1.0);
  left = -car_width + phase * (1.0 + car_width);
  right = left + car_width;
}

bool motion_in_zone(int seed, uint64_t now_ms) {
  double t = static_cast<double>(now_ms % kSceneLoopMs) / kSceneLoopMs;
  double left = 0, right = 0;
  car_span(seed, t, left, right);
  return right > kMotionZoneLeft && left < kMotionZoneRight;
}

}  // namespace sim::device
