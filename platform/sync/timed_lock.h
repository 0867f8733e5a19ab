// Timed locking of the standard timed mutexes with a wall-clock deadline.
//
// With a steady-clock deadline the standard library waits in pthread_mutex_clocklock, which the
// thread sanitizer of our compiler does not intercept: it never sees the lock taken and reports
// the later unlock as the unlock of a mutex nobody holds. A wall-clock deadline waits in
// pthread_mutex_timedlock, which it sees. A step of the wall clock during the wait can only
// lengthen or shorten that one bounded wait.
#pragma once

#include <chrono>

namespace platform {

template <class TimedMutex>
bool try_lock_within(TimedMutex& mutex, std::chrono::steady_clock::duration bound) {
  if (bound <= std::chrono::steady_clock::duration::zero()) return mutex.try_lock();
  return mutex.try_lock_until(std::chrono::system_clock::now() +
                              std::chrono::duration_cast<std::chrono::system_clock::duration>(bound));
}

}  // namespace platform
