// A recursive critical section: the owning thread may enter again; try_enter never blocks and
// try_enter_for gives up after its bound.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

#include "platform/sync/timed_lock.h"
#include "platform/thread_annotations.h"

namespace platform {

class CAPABILITY("mutex") CriticalSection {
 public:
  CriticalSection() = default;
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void enter() ACQUIRE() { mutex_.lock(); }
  bool try_enter() TRY_ACQUIRE(true) { return mutex_.try_lock(); }
  bool try_enter_for(uint32_t timeout_ms) TRY_ACQUIRE(true) {
    return try_lock_within(mutex_, std::chrono::milliseconds(timeout_ms));
  }
  void leave() RELEASE() { mutex_.unlock(); }

  // Lockable names, so scoped holders work on it.
  void lock() ACQUIRE() { enter(); }
  bool try_lock() TRY_ACQUIRE(true) { return try_enter(); }
  void unlock() RELEASE() { leave(); }

 private:
  std::recursive_timed_mutex mutex_;
};

}  // namespace platform
