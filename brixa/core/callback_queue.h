// The callback queue: a bounded FIFO of callback messages in one byte ring of 204,800 bytes.
// Posting copies the message into the ring and never waits for the consumer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "brixa/api/brixa.h"
#include "platform/sync/mutex.h"
#include "platform/thread_annotations.h"

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
  uint32_t delivery;     // the queue's: queued, handed out, or delivered (in the padding)
  CallbackMessage* next;  // the next newer message, or null
};

// Any thread posts (Device SDK threads included); dispatcher threads take messages.
//
// The ring, the message chain and the signal count are guarded by `lock_`, the innermost lock
// of the library, never held while calling out. A message handed to a dispatcher is not moved
// or overwritten until that dispatcher gives it back, so it reads the message without the lock.
//
// The queue lives as long as its owner (for the library: the process). The library opens it at
// brixa_init and closes it at brixa_uninit: closing drops every message not yet handed out,
// refuses posts until the next open, and starts a new epoch. A dispatcher serves one epoch: once
// its epoch has ended next() gives back its last message and returns null, so a dispatcher left
// behind by an uninit never takes a message of the next session, and the message it is still
// delivering keeps its place in the ring until it is given back.
//
// The signal count plays the counting semaphore of the queue (initial 0, maximum 65535): each
// accepted post adds one, each message handed out takes one.
class CallbackQueue {
 public:
  static constexpr size_t kRingBytes = 204800;
  static constexpr int32_t kMaxSignals = 65535;

  explicit CallbackQueue(bool open = true);
  ~CallbackQueue();
  CallbackQueue(const CallbackQueue&) = delete;
  CallbackQueue& operator=(const CallbackQueue&) = delete;

  // Copies the message in and signals it; false when it was dropped for lack of room or because
  // the queue is closed.
  bool post(brixa_handle client, int32_t id, intptr_t param1, int32_t param2, const void* info,
            int32_t info_len);

  // Opens the queue for posting; returns the epoch a new dispatcher serves.
  uint64_t open();
  // Drops every message not handed out yet and refuses posts; ends the current epoch.
  void close();
  bool is_open();
  // The epoch a dispatcher started now serves.
  uint64_t epoch();

  // The dispatcher's step: gives back `delivered` (the message it was handed last, or null),
  // then waits for a signalled message and hands out the oldest not yet handed out. Returns null
  // once `epoch` has ended.
  const CallbackMessage* next(const CallbackMessage* delivered, uint64_t epoch);

  // For tests of the ring alone. Takes one signal if one comes within `timeout_ms`.
  bool wait_signal(uint32_t timeout_ms);
  // The oldest message, left in place, or null when the queue is empty.
  const CallbackMessage* peek_oldest();
  // Frees the oldest message's space.
  void pop_oldest();

  static uint32_t padded_size(uint32_t info_len) { return info_len == 0 ? 0 : (info_len & ~3u) + 4; }
  size_t used_bytes();

 private:
  enum Delivery : uint32_t { kQueued = 0, kHandedOut = 1, kDelivered = 2 };
  static constexpr size_t kHeader = sizeof(CallbackMessage);
  // Bytes a message occupies: header and padded payload, rounded up so the next header is
  // aligned for this platform's pointers.
  static size_t slot_size(uint32_t padded) {
    constexpr size_t align = alignof(CallbackMessage);
    return (kHeader + padded + align - 1) / align * align;
  }
  size_t offset_of(const CallbackMessage* m) const {
    return static_cast<size_t>(reinterpret_cast<const unsigned char*>(m) - ring_);
  }
  void pop_oldest_locked() REQUIRES(lock_);
  // Frees the leading messages that have been delivered.
  void pop_delivered_locked() REQUIRES(lock_);

  platform::Mutex lock_;
  platform::CondVar signalled_;
  unsigned char* const ring_;
  CallbackMessage* oldest_ GUARDED_BY(lock_) = nullptr;
  CallbackMessage* newest_ GUARDED_BY(lock_) = nullptr;
  CallbackMessage* undelivered_ GUARDED_BY(lock_) = nullptr;  // the oldest not handed out yet
  size_t write_offset_ GUARDED_BY(lock_) = 0;  // where the next message goes
  size_t used_ GUARDED_BY(lock_) = 0;          // bytes held by live messages
  int32_t signals_ GUARDED_BY(lock_) = 0;
  int32_t waiters_ GUARDED_BY(lock_) = 0;      // threads blocked for a signal
  bool open_ GUARDED_BY(lock_);
  uint64_t epoch_ GUARDED_BY(lock_) = 1;
};

}  // namespace brixa
