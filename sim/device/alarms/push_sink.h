// The sending side of one control connection of the device, shared by the connection's thread
// (its replies) and the alarm hub (pushed alarms), so whole messages never interleave.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/net/socket_io.h"

namespace sim::device {

class PushSink {
 public:
  explicit PushSink(int fd) : fd_(fd) {}

  // Sends whole messages; false when closed or not sent in time (the connection is then cut).
  bool send(const std::vector<uint8_t>& bytes, int wait_ms) {
    std::lock_guard<std::mutex> hold(lock_);
    return send_locked(bytes, wait_ms);
  }
  // After close() nothing is sent: the connection's socket may be closed and its number reused.
  void close() {
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
  }

 private:
  friend class AlarmHub;  // holds the lock across a subscription's reply and first states
  bool send_locked(const std::vector<uint8_t>& bytes, int wait_ms) {
    if (closed_) return false;
    if (bytes.empty()) return true;
    if (platform::net::send_all(fd_, bytes.data(), bytes.size(), -1, wait_ms)) return true;
    platform::net::shutdown_both(fd_);
    return false;
  }

  const int fd_;
  std::mutex lock_;
  bool closed_ = false;  // guarded by lock_
};

}  // namespace sim::device
