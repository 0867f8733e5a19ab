#include "brixa/core/rw_lock.h"

#include <chrono>

namespace brixa {

void RwLock::lock_read() {
  std::unique_lock<std::mutex> hold(state_lock_);
  changed_.wait(hold, [this] { return !writer_active_; });
  ++readers_;
}

bool RwLock::try_lock_read_timed() {
  std::unique_lock<std::mutex> hold(state_lock_);
  if (!changed_.wait_for(hold, std::chrono::milliseconds(kTimedReadMs), [this] { return !writer_active_; })) {
    return false;
  }
  ++readers_;
  return true;
}

void RwLock::unlock_read() {
  bool last;
  {
    std::lock_guard<std::mutex> hold(state_lock_);
    last = --readers_ == 0;
  }
  if (last) changed_.notify_all();
}

void RwLock::lock_write() {
  std::unique_lock<std::mutex> hold(state_lock_);
  changed_.wait(hold, [this] { return !writer_active_ && readers_ == 0; });
  writer_active_ = true;
}

void RwLock::unlock_write() {
  {
    std::lock_guard<std::mutex> hold(state_lock_);
    writer_active_ = false;
  }
  changed_.notify_all();
}

}  // namespace brixa
