#include "platform/sync/semaphore.h"

#include <chrono>

namespace platform {

Semaphore::Semaphore(int32_t initial, int32_t maximum) : count_(initial), maximum_(maximum) {}

bool Semaphore::release(int32_t count) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (count <= 0 || count > maximum_ - count_) return false;
    count_ += count;
  }
  if (count == 1) {
    available_.notify_one();
  } else {
    available_.notify_all();
  }
  return true;
}

bool Semaphore::wait(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> hold(lock_);
  auto ready = [this] { return count_ > 0; };
  if (timeout_ms == kInfinite) {
    available_.wait(hold, ready);
  } else if (!available_.wait_for(hold, std::chrono::milliseconds(timeout_ms), ready)) {
    return false;
  }
  --count_;
  return true;
}

}  // namespace platform
