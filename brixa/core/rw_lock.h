// The reader/writer lock of the client registry, the callback map and the socket map.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "platform/sync/mutex.h"
#include "platform/thread_annotations.h"

namespace brixa {

// Readers are preferred: a reader gets in at once while other readers hold the lock, even when a
// writer waits, so a reader may take the lock again while it holds it (exports that call each
// other do). A writer waits until no reader and no other writer holds it. A thread holding the
// lock for writing must not take it for reading, and a reader must not take it for writing.
//
// One atomic word holds the reader count, a writer bit and a sleepers bit, so an uncontended
// lock or unlock costs one compare-and-swap. A thread that must wait sets the sleepers bit and
// sleeps on a condition variable; an unlock that finds the bit set makes its change under the
// sleepers' mutex and wakes them before letting the mutex go, so nothing of the lock is touched
// after the mutex is released. The destructor passes through that mutex once: the owner may
// free the lock right after taking it for writing, while the thread that let it go is still
// waking sleepers, and the destructor waits (briefly) for that thread to leave.
class CAPABILITY("rw_lock") RwLock {
 public:
  static constexpr uint32_t kTimedReadMs = 500;

  RwLock() = default;
  ~RwLock();
  RwLock(const RwLock&) = delete;
  RwLock& operator=(const RwLock&) = delete;

  void lock_read() ACQUIRE_SHARED();
  // As lock_read, but gives up after 500 ms while a writer holds the lock; the lock is left
  // exactly as it was.
  bool try_lock_read_timed() TRY_ACQUIRE_SHARED(true);
  void unlock_read() RELEASE_SHARED();
  void lock_write() ACQUIRE();
  // As lock_write, but gives up after `timeout_ms`.
  bool try_lock_write_for(uint32_t timeout_ms) TRY_ACQUIRE(true);
  void unlock_write() RELEASE();

 private:
  static constexpr uint32_t kWriter = 0x80000000u;
  static constexpr uint32_t kSleepers = 0x40000000u;
  static constexpr uint32_t kReaders = 0x3FFFFFFFu;

  bool try_enter_read();
  bool try_enter_write();
  // Changes `state_` from what `change` makes of it, waking sleepers when the bit says so.
  template <class Change>
  void leave(Change change);
  template <class Enter>
  bool sleep_until_entered(Enter enter, const std::chrono::steady_clock::time_point* deadline);

  // Low 30 bits: readers inside; kWriter: a writer inside; kSleepers: threads may sleep on
  // `changed_`. Changed by every locking thread.
  std::atomic<uint32_t> state_{0};
  platform::Mutex sleep_lock_;
  platform::CondVar changed_;
  int32_t sleepers_ GUARDED_BY(sleep_lock_) = 0;
  std::timed_mutex writers_;  // serialises writers; held from lock_write to unlock_write
};

class SCOPED_CAPABILITY ReadLock {
 public:
  explicit ReadLock(RwLock& lock) ACQUIRE_SHARED(lock) : lock_(lock) { lock_.lock_read(); }
  ~ReadLock() RELEASE() { lock_.unlock_read(); }
  ReadLock(const ReadLock&) = delete;
  ReadLock& operator=(const ReadLock&) = delete;

 private:
  RwLock& lock_;
};

class SCOPED_CAPABILITY WriteLock {
 public:
  explicit WriteLock(RwLock& lock) ACQUIRE(lock) : lock_(lock) { lock_.lock_write(); }
  ~WriteLock() RELEASE() { lock_.unlock_write(); }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

 private:
  RwLock& lock_;
};

}  // namespace brixa
