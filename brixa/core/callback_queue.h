// The callback queue: a bounded FIFO of callback messages in one byte ring of 204,800 bytes.
// Posting copies the message into the ring and never waits for the consumer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "brixa/api/brixa.h"
#include "platform/sync/critical_section.h"
#include "platform/sync/semaphore.h"

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

// Any thread posts (Device SDK threads included); only the dispatcher thread peeks and pops.
// The ring, the message chain and the counters are guarded by `ring_lock_`, which is the
// innermost lock of the library and is never held while calling out. A message is not moved or
// overwritten until it is popped, so the dispatcher reads a peeked message without the lock.
class CallbackQueue {
 public:
  static constexpr size_t kRingBytes = 204800;
  static constexpr int32_t kMaxSignals = 65535;

  CallbackQueue();
  ~CallbackQueue();
  CallbackQueue(const CallbackQueue&) = delete;
  CallbackQueue& operator=(const CallbackQueue&) = delete;

  // Copies the message in and signals the semaphore; false when it was dropped for lack of room.
  bool post(brixa_handle client, int32_t id, intptr_t param1, int32_t param2, const void* info,
            int32_t info_len);
  // The oldest message, left in place, or null when the queue is empty.
  const CallbackMessage* peek_oldest();
  // Frees the oldest message's space.
  void pop_oldest();

  // Counts posted messages; the dispatcher waits on it.
  platform::Semaphore& signal() { return posted_; }

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

  platform::CriticalSection ring_lock_;
  platform::Semaphore posted_{0, kMaxSignals};
  unsigned char* ring_;
  CallbackMessage* oldest_ = nullptr;  // guarded by ring_lock_
  CallbackMessage* newest_ = nullptr;  // guarded by ring_lock_
  size_t write_offset_ = 0;            // guarded by ring_lock_; where the next message goes
  size_t used_ = 0;                    // guarded by ring_lock_; bytes held by live messages
};

}  // namespace brixa
