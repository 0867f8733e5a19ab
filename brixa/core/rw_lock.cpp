#include "brixa/core/rw_lock.h"

#include <chrono>
#include <thread>

namespace brixa {

RwLock::~RwLock() {
  while (unlocking_.load() != 0) std::this_thread::yield();
}

bool RwLock::try_enter_read() {
  uint32_t s = state_.load();
  while ((s & kWriter) == 0) {
    if (state_.compare_exchange_weak(s, s + 1)) return true;
  }
  return false;
}

// Called after `state_` changed in a way a sleeper may be waiting for. Sleepers count themselves
// before testing the state, so either they see the change or we see them here.
void RwLock::wake_waiters() {
  if (sleepers_.load() == 0) return;
  { std::lock_guard<std::mutex> hold(sleep_lock_); }
  changed_.notify_all();
}

void RwLock::lock_read() {
  if (try_enter_read()) return;
  std::unique_lock<std::mutex> hold(sleep_lock_);
  sleepers_.fetch_add(1);
  changed_.wait(hold, [this] { return try_enter_read(); });
  sleepers_.fetch_sub(1);
}

bool RwLock::try_lock_read_timed() {
  if (try_enter_read()) return true;
  std::unique_lock<std::mutex> hold(sleep_lock_);
  sleepers_.fetch_add(1);
  bool in = changed_.wait_for(hold, std::chrono::milliseconds(kTimedReadMs), [this] { return try_enter_read(); });
  sleepers_.fetch_sub(1);
  return in;
}

void RwLock::unlock_read() {
  unlocking_.fetch_add(1);
  if (state_.fetch_sub(1) == 1) wake_waiters();  // the last reader left: a writer may go
  unlocking_.fetch_sub(1);
}

void RwLock::lock_write() {
  writers_.lock();
  uint32_t idle = 0;
  if (state_.compare_exchange_strong(idle, kWriter)) return;
  std::unique_lock<std::mutex> hold(sleep_lock_);
  sleepers_.fetch_add(1);
  changed_.wait(hold, [this] {
    uint32_t expected = 0;
    return state_.compare_exchange_strong(expected, kWriter);
  });
  sleepers_.fetch_sub(1);
}

void RwLock::unlock_write() {
  unlocking_.fetch_add(1);
  writers_.unlock();
  state_.store(0);
  wake_waiters();
  unlocking_.fetch_sub(1);
}

}  // namespace brixa
