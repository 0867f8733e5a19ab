#include "sim/device/alarms/alarm_driver.h"

#include <algorithm>
#include <chrono>

#include "devsdk/proto/alarms.h"
#include "sim/device/alarms/scene_motion.h"

namespace sim::device {

AlarmDriver::AlarmDriver(AlarmHub& hub, AlarmSettings settings, int channels)
    : hub_(hub), settings_(std::move(settings)), channels_(channels) {}

AlarmDriver::~AlarmDriver() { stop(); }

void AlarmDriver::start() {
  if (thread_.joinable() || (settings_.script.empty() && !settings_.scene_motion)) return;
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = false;
  }
  thread_ = std::thread([this] { run(); });
}

void AlarmDriver::stop() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void AlarmDriver::run() {
  using Clock = std::chrono::steady_clock;
  std::vector<AlarmChange> script = settings_.script;
  std::stable_sort(script.begin(), script.end(),
                   [](const AlarmChange& a, const AlarmChange& b) { return a.at_ms < b.at_ms; });
  const auto started = Clock::now();
  auto loop_start = started;
  size_t next = 0;
  std::vector<uint8_t> motion(static_cast<size_t>(std::max(channels_, 0)), 0);
  std::unique_lock<std::mutex> hold(lock_);
  while (!stopping_) {
    auto now = Clock::now();
    // Scripted changes that are due.
    while (next < script.size() &&
           now - loop_start >= std::chrono::milliseconds(script[next].at_ms)) {
      const AlarmChange& c = script[next++];
      hold.unlock();
      hub_.raise(c.kind, c.channel, c.state != 0);
      hold.lock();
    }
    if (next == script.size() && settings_.loop_ms > 0 && now - loop_start >= std::chrono::milliseconds(settings_.loop_ms)) {
      loop_start += std::chrono::milliseconds(settings_.loop_ms);
      next = 0;
      continue;
    }
    // Scene motion: a change per channel whose car entered or left its zone.
    if (settings_.scene_motion) {
      auto wall_ms = static_cast<uint64_t>(
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
              .count());
      for (size_t ch = 0; ch < motion.size(); ++ch) {
        uint8_t in_zone = motion_in_zone(static_cast<int>(ch), wall_ms) ? 1 : 0;
        if (in_zone == motion[ch]) continue;
        motion[ch] = in_zone;
        hold.unlock();
        hub_.raise(proto::kAlarmMotion, static_cast<int32_t>(ch), in_zone != 0);
        hold.lock();
      }
    }
    // Sleep until the next scripted change, the loop's end or the next motion step.
    auto until = Clock::time_point::max();
    if (next < script.size()) until = loop_start + std::chrono::milliseconds(script[next].at_ms);
    else if (settings_.loop_ms > 0) until = loop_start + std::chrono::milliseconds(settings_.loop_ms);
    if (settings_.scene_motion) until = std::min(until, now + std::chrono::milliseconds(kMotionStepMs));
    if (until == Clock::time_point::max()) {
      wake_.wait(hold, [this] { return stopping_; });
    } else {
      wake_.wait_until(hold, until, [this] { return stopping_; });
    }
  }
}

}  // namespace sim::device
