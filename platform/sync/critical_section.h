// A recursive critical section: the owning thread may enter again; try_enter never blocks.
#pragma once

#include <mutex>

namespace platform {

class CriticalSection {
 public:
  CriticalSection() = default;
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void enter() { mutex_.lock(); }
  bool try_enter() { return mutex_.try_lock(); }
  void leave() { mutex_.unlock(); }

  // Lockable names, so std::lock_guard and std::unique_lock work on it.
  void lock() { enter(); }
  bool try_lock() { return try_enter(); }
  void unlock() { leave(); }

 private:
  std::recursive_mutex mutex_;
};

}  // namespace platform
