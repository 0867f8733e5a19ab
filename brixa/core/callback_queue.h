// The callback queue: a bounded FIFO of callback messages in one byte ring of 204,800 bytes.
// Posting copies the message into the ring and never waits for the consumer.
#pragma once

#include <cstddef>
#include <cstdint>

#include <condition_variable>
#include <mutex>

#include "brixa/api/brixa.h"

namespace brixa {

// A message as stored: this header, then its payload, contiguous in the ring.
struct CallbackMessage {
  uint32_t padded_size;  // 0 for no payload, else info_len rounded down to 4, plus 4
  uint32_t info_len;
  char* info;            // the payload inside the ring, NUL-terminated; null when info_len is 0
  brixa_handle client;
  int32_t id;
  intptr_t param1;
  int32_t param2;
  CallbackMessage* next;  // the next newer message, or null
};

// Any thread posts (Device SDK threads included); only the dispatcher thread takes messages.
// The ring, the message chain and the signal count are guarded by `ring_lock_`, the innermost
// lock of the library, never held while calling out. A message is not moved or overwritten
// until it is popped, so the dispatcher reads a message it was handed without the lock.
//
// The signal count plays the counting semaphore of the queue (initial 0, maximum 65535): each
// accepted post adds one, each message handed to the dispatcher takes one. It shares the ring's
// lock so that a post costs one lock and a delivery one more.
class CallbackQueue {
 public:
  static constexpr size_t kRingBytes = 204800;
  static constexpr int32_t kMaxSignals = 65535;

  CallbackQueue();
  ~CallbackQueue();
  CallbackQueue(const CallbackQueue&) = delete;
  CallbackQueue& operator=(const CallbackQueue&) = delete;

  // Copies the message in and signals it; false when it was dropped for lack of room.
  bool post(brixa_handle client, int32_t id, intptr_t param1, int32_t param2, const void* info,
            int32_t info_len);

  // The dispatcher's step: frees `delivered` (the message it was handed last, or null), then
  // waits without limit for a signalled message and hands out the oldest. Returns null once
  // stop() has been called.
  const CallbackMessage* next(const CallbackMessage* delivered);
  // Makes next() return null from now on.
  void stop();

  // Takes one signal if one comes within `timeout_ms`.
  bool wait_signal(uint32_t timeout_ms);
  // The oldest message, left in place, or null when the queue is empty.
  const CallbackMessage* peek_oldest();
  // Frees the oldest message's space.
  void pop_oldest();

  static uint32_t padded_size(uint32_t info_len) { return info_len == 0 ? 0 : (info_len & ~3u) + 4; }
  size_t used_bytes();

 private:
  static constexpr size_t kHeader = sizeof(CallbackMessage);
  // Bytes a message occupies: header and padded payload, rounded up so the next header is
  // aligned for this platform's pointers.
  static size_t slot_size(uint32_t padded) {
    constexpr size_t align = alignof(CallbackMessage);
    return (kHeader + padded + align - 1) / align * align;
  }
  void pop_oldest_locked();

  std::mutex ring_lock_;
  std::condition_variable signalled_;
  unsigned char* ring_;
  CallbackMessage* oldest_ = nullptr;  // guarded by ring_lock_
  CallbackMessage* newest_ = nullptr;  // guarded by ring_lock_
  size_t write_offset_ = 0;            // guarded by ring_lock_; where the next message goes
  size_t used_ = 0;                    // guarded by ring_lock_; bytes held by live messages
  int32_t signals_ = 0;                // guarded by ring_lock_
  int32_t waiters_ = 0;                // guarded by ring_lock_; threads blocked for a signal
  bool stopped_ = false;               // guarded by ring_lock_
};

}  // namespace brixa
