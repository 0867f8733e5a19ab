#include "brixa/core/rw_lock.h"

#include <chrono>

#include "platform/sync/timed_lock.h"

namespace brixa {

using Clock = std::chrono::steady_clock;

RwLock::~RwLock() {
  // A thread still waking sleepers holds sleep_lock_; it touches nothing once it lets go.
  platform::MutexLock pass(sleep_lock_);
}

bool RwLock::try_enter_read() {
  uint32_t s = state_.load();
  while ((s & kWriter) == 0) {
    if (state_.compare_exchange_weak(s, s + 1)) return true;
  }
  return false;
}

bool RwLock::try_enter_write() {
  uint32_t s = state_.load();
  while ((s & (kWriter | kReaders)) == 0) {
    if (state_.compare_exchange_weak(s, s | kWriter)) return true;
  }
  return false;
}

template <class Change>
void RwLock::leave(Change change) {
  uint32_t s = state_.load();
  while ((s & kSleepers) == 0) {
    if (state_.compare_exchange_weak(s, change(s))) return;
  }
  // Somebody may sleep: change the state where the sleepers test it, and wake them while still
  // holding their mutex.
  platform::MutexLock hold(sleep_lock_);
  s = state_.load();
  while (!state_.compare_exchange_weak(s, change(s))) {
  }
  changed_.notify_all();
}

// Sleeps until `enter` succeeds or the deadline (when given) passes. The sleepers bit is set
// before `enter` is tried under the mutex, so an unlock either happened before that try (which
// then sees it) or sees the bit and wakes us.
template <class Enter>
bool RwLock::sleep_until_entered(Enter enter, const Clock::time_point* deadline) {
  platform::MutexLock hold(sleep_lock_);
  ++sleepers_;
  state_.fetch_or(kSleepers);
  bool in = enter();
  while (!in) {
    if (deadline == nullptr) {
      changed_.wait(sleep_lock_);
    } else if (!changed_.wait_until(sleep_lock_, *deadline)) {
      in = enter();
      break;
    }
    in = enter();
  }
  if (--sleepers_ == 0) state_.fetch_and(~kSleepers);
  return in;
}

void RwLock::lock_read() {
  if (try_enter_read()) return;
  sleep_until_entered([this] { return try_enter_read(); }, nullptr);
}

bool RwLock::try_lock_read_timed() {
  if (try_enter_read()) return true;
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kTimedReadMs);
  return sleep_until_entered([this] { return try_enter_read(); }, &deadline);
}

void RwLock::unlock_read() {
  leave([](uint32_t s) { return s - 1; });
}

void RwLock::lock_write() {
  writers_.lock();
  if (try_enter_write()) return;
  sleep_until_entered([this] { return try_enter_write(); }, nullptr);
}

bool RwLock::try_lock_write_for(uint32_t timeout_ms) {
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  if (!platform::try_lock_within(writers_, deadline - Clock::now())) return false;
  if (try_enter_write() || sleep_until_entered([this] { return try_enter_write(); }, &deadline)) return true;
  writers_.unlock();
  return false;
}

void RwLock::unlock_write() {
  leave([](uint32_t s) { return s & ~kWriter; });
  writers_.unlock();
}

}  // namespace brixa
