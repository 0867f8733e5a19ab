// The reader/writer lock of the client registry, the callback map and the socket map.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace brixa {

// Readers are preferred: a reader gets in at once while other readers hold the lock, even when a
// writer waits, so a reader may take the lock again while it holds it (exports that call each
// other do). A writer waits until no reader and no other writer holds it. A thread holding the
// lock for writing must not take it for reading, and a reader must not take it for writing.
//
// One atomic word holds the reader count and a writer bit, so an uncontended read lock costs one
// compare-and-swap. Threads that must wait sleep on a condition variable. (The classic pair of
// events with an interlocked count lets a late reader slip in just as the last reader hands the
// room to a writer; this construction has no such window.)
class RwLock {
 public:
  static constexpr uint32_t kTimedReadMs = 500;

  RwLock() = default;
  // Waits until no thread is still inside an unlock: the owner may take the write lock and free
  // the lock at once, while the thread that let it go is still waking sleepers.
  ~RwLock();
  RwLock(const RwLock&) = delete;
  RwLock& operator=(const RwLock&) = delete;

  void lock_read();
  // As lock_read, but gives up after 500 ms while a writer holds the lock; the lock is left
  // exactly as it was.
  bool try_lock_read_timed();
  void unlock_read();
  void lock_write();
  void unlock_write();

 private:
  static constexpr uint32_t kWriter = 0x80000000u;

  bool try_enter_read();
  void wake_waiters();

  // Low 31 bits: readers inside; top bit: a writer inside. Changed by every locking thread.
  std::atomic<uint32_t> state_{0};
  // Threads sleeping on `changed_`; incremented under `sleep_lock_` before they test `state_`.
  std::atomic<int32_t> sleepers_{0};
  // Threads between giving up their hold and finishing their wake-up; the destructor waits
  // for it to reach 0.
  std::atomic<int32_t> unlocking_{0};
  std::mutex sleep_lock_;
  std::condition_variable changed_;
  std::mutex writers_;  // serialises writers
};

class ReadLock {
 public:
  explicit ReadLock(RwLock& lock) : lock_(lock) { lock_.lock_read(); }
  ~ReadLock() { lock_.unlock_read(); }
  ReadLock(const ReadLock&) = delete;
  ReadLock& operator=(const ReadLock&) = delete;

 private:
  RwLock& lock_;
};

class WriteLock {
 public:
  explicit WriteLock(RwLock& lock) : lock_(lock) { lock_.lock_write(); }
  ~WriteLock() { lock_.unlock_write(); }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

 private:
  RwLock& lock_;
};

}  // namespace brixa
