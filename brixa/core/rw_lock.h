// The reader/writer lock of the client registry, the callback map and the socket map.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace brixa {

// Readers are preferred: a reader gets in at once while other readers hold the lock, even when a
// writer waits, so a reader may take the lock again while it holds it (exports that call each
// other do). A writer waits until no reader and no other writer holds it. A thread holding the
// lock for writing must not take it for reading, and a reader must not take it for writing.
//
// Built on one mutex and a condition variable rather than on a pair of events and an
// interlocked count: the event construction lets a late reader slip in just as the last reader
// hands the room to a writer, and this one has no such window.
class RwLock {
 public:
  static constexpr uint32_t kTimedReadMs = 500;

  RwLock() = default;
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
  std::mutex state_lock_;
  std::condition_variable changed_;
  int32_t readers_ = 0;          // guarded by state_lock_
  bool writer_active_ = false;   // guarded by state_lock_
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
