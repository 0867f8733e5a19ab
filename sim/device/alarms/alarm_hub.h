// The device's alarms: the current state of every alarm kind on every channel, and the control
// connections that subscribed to them.
//
// Threads: connection threads subscribe and unsubscribe; whatever raises alarms (the alarm
// driver, the alarm inputs' switch, tests) calls raise(). `raise_lock_` serialises raises, so
// every subscriber sees the changes in the order the states took them; `lock_` guards the
// states and the subscriber list and is held only to read or change them. Lock order:
// raise_lock_, then a sink's lock, then lock_. Sends are bounded by kPushWaitMs.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "sim/device/alarms/push_sink.h"

namespace sim::device {

class AlarmHub {
 public:
  static constexpr int kPushWaitMs = 1000;

  // Sends `reply` (the subscription's answer) and then every alarm that is on through the sink,
  // and adds the sink to the subscribers. False when the reply could not be sent.
  bool subscribe(const std::shared_ptr<PushSink>& sink, const std::vector<uint8_t>& reply);
  void unsubscribe(const std::shared_ptr<PushSink>& sink);
  // Sets an alarm and pushes it to every subscriber, also when the state did not change (as a
  // device repeating an alarm). Ignored for a kind outside 0x2101-0x2107 or a channel outside
  // 0-255.
  void raise(uint32_t kind, int32_t channel, bool on);

  // For tests.
  bool is_on(uint32_t kind, int32_t channel) const;
  size_t subscribers() const;
  int subscriptions_made() const;  // subscribe() calls so far
  int pushes_sent() const;

 private:
  std::mutex raise_lock_;
  mutable std::mutex lock_;
  std::map<std::pair<uint32_t, int32_t>, uint8_t> states_;  // guarded by lock_; only alarms that are on
  std::set<std::shared_ptr<PushSink>> sinks_;               // guarded by lock_
  int pushes_sent_ = 0;                                     // guarded by lock_
  int subscriptions_made_ = 0;                              // guarded by lock_
};

}  // namespace sim::device
