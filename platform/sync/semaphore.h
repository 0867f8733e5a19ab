// A counting semaphore with a maximum count and timed waits.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/sync/wait.h"

namespace platform {

// Any thread may release or wait; the count is guarded by the semaphore's own mutex.
class Semaphore {
 public:
  Semaphore(int32_t initial, int32_t maximum);
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  // Adds `count`; false (and no change) when that would pass the maximum.
  bool release(int32_t count = 1);
  // Takes one unit; false when none became available within `timeout_ms`.
  bool wait(uint32_t timeout_ms = kInfinite);

 private:
  std::mutex lock_;
  std::condition_variable available_;
  int32_t count_;  // guarded by lock_
  const int32_t maximum_;
};

}  // namespace platform
