// Pollable signals built on eventfd, so a thread blocked in poll() on sockets also wakes when
// its owner wants it to stop or has queued work for it.
#pragma once

#include <atomic>

#include "platform/net/socket_io.h"

namespace t2u::wire {

// Once set, stays set: every poll that includes fd() returns at once from then on. Any thread
// may set it; the owner of the waiting threads sets it to stop them.
class StopSignal {
 public:
  StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  void set();
  bool is_set() const { return set_.load(std::memory_order_acquire); }
  int fd() const { return fd_.get(); }
  // Sleeps up to `ms`; false when the signal was set meanwhile.
  bool sleep_ms(int ms) const;

 private:
  platform::net::UniqueFd fd_;
  std::atomic<bool> set_{false};
};

// A wake-up for one waiting thread: notify() from any thread makes fd() readable until the
// waiter calls clear().
class Wakeup {
 public:
  Wakeup();
  Wakeup(const Wakeup&) = delete;
  Wakeup& operator=(const Wakeup&) = delete;

  void notify();
  void clear();
  int fd() const { return fd_.get(); }

 private:
  platform::net::UniqueFd fd_;
};

}  // namespace t2u::wire
