// A mutex, a scoped holder and a condition variable that clang's thread-safety analysis
// understands (the standard library's are not annotated). Code whose shared fields say
// GUARDED_BY(lock_) uses these.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/thread_annotations.h"

namespace platform {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ACQUIRE() { mutex_.lock(); }
  bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }

 private:
  friend class CondVar;
  std::mutex mutex_;
};

// Holds any annotated lockable for one scope.
template <class Lockable>
class SCOPED_CAPABILITY ScopedLock {
 public:
  explicit ScopedLock(Lockable& lock) ACQUIRE(lock) : lock_(lock) { lock_.lock(); }
  ~ScopedLock() RELEASE() { lock_.unlock(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  Lockable& lock_;
};

using MutexLock = ScopedLock<Mutex>;

// Waits release the mutex and take it again before they return. A predicate is tested by the
// caller in a loop, where the analysis can see that the mutex is held.
class CondVar {
 public:
  CondVar() = default;
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;

  void wait(Mutex& mutex) REQUIRES(mutex) {
    std::unique_lock<std::mutex> held(mutex.mutex_, std::adopt_lock);
    changed_.wait(held);
    held.release();
  }
  // False when `deadline` passed without a notification.
  bool wait_until(Mutex& mutex, std::chrono::steady_clock::time_point deadline) REQUIRES(mutex) {
    std::unique_lock<std::mutex> held(mutex.mutex_, std::adopt_lock);
    bool notified = changed_.wait_until(held, deadline) == std::cv_status::no_timeout;
    held.release();
    return notified;
  }
  void notify_one() { changed_.notify_one(); }
  void notify_all() { changed_.notify_all(); }

 private:
  std::condition_variable changed_;
};

}  // namespace platform
