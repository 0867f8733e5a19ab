#include "platform/sync/event.h"

#include <chrono>

namespace platform {

Event::Event(Reset reset, bool initially_signalled) : reset_(reset), signalled_(initially_signalled) {}

void Event::set() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    signalled_ = true;
  }
  if (reset_ == Reset::manual) {
    changed_.notify_all();
  } else {
    changed_.notify_one();
  }
}

void Event::reset() {
  std::lock_guard<std::mutex> hold(lock_);
  signalled_ = false;
}

bool Event::wait(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> hold(lock_);
  auto ready = [this] { return signalled_; };
  if (timeout_ms == kInfinite) {
    changed_.wait(hold, ready);
  } else if (!changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms), ready)) {
    return false;
  }
  if (reset_ == Reset::automatic) signalled_ = false;
  return true;
}

bool Event::is_set() const {
  std::lock_guard<std::mutex> hold(lock_);
  return signalled_;
}

}  // namespace platform
