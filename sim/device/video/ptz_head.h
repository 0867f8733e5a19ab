// The pan-tilt-zoom head of a simulated PTZ camera: where it points, how it moves, its presets.
//
// A move or zoom runs at a rate set by its speed until a stop; a repeat of a running command
// sets the same rate again and never adds to it. The position is worked out from the rates and
// the clock when it is read. Presets keep a position and return to it at once.
//
// Threads: the camera's control connections send commands, the video pacer reads the view; all
// state is guarded by lock_.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

#include "devsdk/proto/ptz.h"
#include "sim/device/video/scene.h"

namespace sim::device::video {

class PtzHead {
 public:
  using Clock = std::function<uint64_t()>;  // milliseconds of a steady clock

  // Position range, in view steps (scene.h: PtzView).
  static constexpr double kMaxPan = 64, kMaxTilt = 10, kMaxZoom = 8;
  // Steps a second at speed 1; speed s moves s times as fast.
  static constexpr double kPanRate = 2, kTiltRate = 1, kZoomRate = 0.5;

  explicit PtzHead(Clock clock = nullptr);  // null: the steady clock

  // A reply status (devsdk/proto/ptz.h).
  int32_t control(const proto::PtzControl& command);

  struct Position {
    double pan = 0, tilt = 0, zoom = 0;
  };
  Position position();
  // The position as the scene shows it: each coordinate to the nearest step.
  PtzView view();
  bool moving();

 private:
  void advance();  // lock_ held

  Clock clock_;
  std::mutex lock_;
  Position at_;                                 // guarded by lock_
  Position rate_;                               // guarded: steps a second
  uint64_t since_ms_ = 0;                       // guarded: when `at_` was worked out
  std::map<int32_t, Position> presets_;         // guarded
};

}  // namespace sim::device::video
