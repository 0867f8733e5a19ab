#include "sim/device/video/ptz_head.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "devsdk/proto/messages.h"

namespace sim::device::video {
namespace {

uint64_t steady_ms() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace

PtzHead::PtzHead(Clock clock) : clock_(clock ? std::move(clock) : Clock(steady_ms)) { since_ms_ = clock_(); }

void PtzHead::advance() {
  uint64_t now = clock_();
  double seconds = now > since_ms_ ? static_cast<double>(now - since_ms_) / 1000.0 : 0.0;
  since_ms_ = now;
  at_.pan = std::clamp(at_.pan + rate_.pan * seconds, -kMaxPan, kMaxPan);
  at_.tilt = std::clamp(at_.tilt + rate_.tilt * seconds, -kMaxTilt, kMaxTilt);
  at_.zoom = std::clamp(at_.zoom + rate_.zoom * seconds, 0.0, kMaxZoom);
}

int32_t PtzHead::control(const proto::PtzControl& c) {
  std::lock_guard<std::mutex> hold(lock_);
  advance();
  if (c.stop != 0) {
    rate_ = {};
    return proto::status::ok;
  }
  const double speed = std::clamp(c.param2, proto::kPtzMinSpeed, proto::kPtzMaxSpeed);
  switch (c.command) {
    case proto::kPtzUp:
    case proto::kPtzDown:
      rate_ = {};
      rate_.tilt = (c.command == proto::kPtzUp ? -kTiltRate : kTiltRate) * speed;
      return proto::status::ok;
    case proto::kPtzLeft:
    case proto::kPtzRight:
      rate_ = {};
      rate_.pan = (c.command == proto::kPtzLeft ? -kPanRate : kPanRate) * speed;
      return proto::status::ok;
    case proto::kPtzZoomIn:
    case proto::kPtzZoomOut:
      rate_ = {};
      rate_.zoom = (c.command == proto::kPtzZoomIn ? kZoomRate : -kZoomRate) * speed;
      return proto::status::ok;
    case proto::kPtzGotoPreset:
    case proto::kPtzSetPreset:
    case proto::kPtzClearPreset: {
      if (c.param2 < 1 || c.param2 > proto::kPtzMaxPreset) return proto::status::invalid_parameter;
      if (c.command == proto::kPtzSetPreset) {
        presets_[c.param2] = at_;
      } else if (c.command == proto::kPtzClearPreset) {
        presets_.erase(c.param2);
      } else {
        auto it = presets_.find(c.param2);
        if (it == presets_.end()) return proto::status::no_record;
        rate_ = {};
        at_ = it->second;
      }
      return proto::status::ok;
    }
    default:
      return proto::status::not_supported;
  }
}

PtzHead::Position PtzHead::position() {
  std::lock_guard<std::mutex> hold(lock_);
  advance();
  return at_;
}

PtzView PtzHead::view() {
  Position p = position();
  return PtzView{static_cast<int>(std::lround(p.pan)), static_cast<int>(std::lround(p.tilt)),
                 static_cast<int>(std::lround(p.zoom))};
}

bool PtzHead::moving() {
  std::lock_guard<std::mutex> hold(lock_);
  return rate_.pan != 0 || rate_.tilt != 0 || rate_.zoom != 0;
}

}  // namespace sim::device::video
