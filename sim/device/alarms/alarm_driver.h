// Raises a device's alarms on its own: the alarm script of its settings and, when asked, the
// motion alarms of its scenes. One thread, started with the device and stopped (and joined)
// with it; it wakes for the next scripted change or every kMotionStepMs for scene motion, and
// ends at once when stopped.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/device/alarms/alarm_hub.h"
#include "sim/device/alarms/alarm_settings.h"

namespace sim::device {

class AlarmDriver {
 public:
  static constexpr uint32_t kMotionStepMs = 100;

  // `channels`: the channels whose scenes are watched for motion.
  AlarmDriver(AlarmHub& hub, AlarmSettings settings, int channels);
  ~AlarmDriver();
  AlarmDriver(const AlarmDriver&) = delete;
  AlarmDriver& operator=(const AlarmDriver&) = delete;

  // Starts the thread when there is anything to do. Idempotent.
  void start();
  void stop();

 private:
  void run();

  AlarmHub& hub_;
  const AlarmSettings settings_;
  const int channels_;
  std::thread thread_;  // owned by start() and stop()
  std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;  // guarded by lock_
};

}  // namespace sim::device
