#include "brixa/core/callback_queue.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace brixa {

static_assert(sizeof(CallbackMessage) % alignof(CallbackMessage) == 0);

CallbackQueue::CallbackQueue() {
  ring_ = static_cast<unsigned char*>(aligned_alloc(alignof(CallbackMessage), kRingBytes));
  if (ring_ == nullptr) throw std::bad_alloc();
}

CallbackQueue::~CallbackQueue() { free(ring_); }

bool CallbackQueue::post(brixa_handle client, int32_t id, intptr_t param1, int32_t param2,
                         const void* info, int32_t info_len) {
  uint32_t length = (info == nullptr || info_len <= 0) ? 0 : static_cast<uint32_t>(info_len);
  if (length >= kRingBytes) return false;
  uint32_t padded = padded_size(length);
  size_t need = slot_size(padded);
  {
    std::lock_guard<std::mutex> hold(ring_lock_);
    if (kRingBytes - used_ < padded + 2 * kHeader) return false;

    size_t at;
    if (oldest_ == nullptr) {
      at = 0;  // an empty ring starts over at its beginning
    } else {
      size_t oldest_at = reinterpret_cast<unsigned char*>(oldest_) - ring_;
      if (write_offset_ > oldest_at) {
        // Live messages lie in [oldest, write): room after them, or again from the start.
        if (write_offset_ + need <= kRingBytes) {
          at = write_offset_;
        } else if (need <= oldest_at) {
          at = 0;
        } else {
          return false;
        }
      } else {
        // Wrapped: the free space lies in [write, oldest).
        if (write_offset_ + need <= oldest_at) {
          at = write_offset_;
        } else {
          return false;
        }
      }
    }

    auto* message = reinterpret_cast<CallbackMessage*>(ring_ + at);
    message->padded_size = padded;
    message->info_len = length;
    message->info = nullptr;
    if (length > 0) {
      message->info = reinterpret_cast<char*>(message + 1);
      memcpy(message->info, info, length);
      memset(message->info + length, 0, padded - length);
    }
    message->client = client;
    message->id = id;
    message->param1 = param1;
    message->param2 = param2;
    message->next = nullptr;

    if (newest_ != nullptr) {
      newest_->next = message;
    } else {
      oldest_ = message;
    }
    newest_ = message;
    write_offset_ = at + need;
    used_ += need;
    if (signals_ < kMaxSignals) ++signals_;
    if (waiters_ == 0) return true;
  }
  signalled_.notify_one();
  return true;
}

const CallbackMessage* CallbackQueue::next(const CallbackMessage* delivered) {
  std::unique_lock<std::mutex> hold(ring_lock_);
  if (delivered != nullptr && delivered == oldest_) pop_oldest_locked();
  ++waiters_;
  signalled_.wait(hold, [this] { return stopped_ || signals_ > 0; });
  --waiters_;
  if (stopped_) return nullptr;
  --signals_;
  return oldest_;
}

void CallbackQueue::stop() {
  {
    std::lock_guard<std::mutex> hold(ring_lock_);
    stopped_ = true;
  }
  signalled_.notify_all();
}

bool CallbackQueue::wait_signal(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> hold(ring_lock_);
  ++waiters_;
  bool got = signalled_.wait_for(hold, std::chrono::milliseconds(timeout_ms), [this] { return signals_ > 0; });
  --waiters_;
  if (got) --signals_;
  return got;
}

const CallbackMessage* CallbackQueue::peek_oldest() {
  std::lock_guard<std::mutex> hold(ring_lock_);
  return oldest_;
}

void CallbackQueue::pop_oldest() {
  std::lock_guard<std::mutex> hold(ring_lock_);
  pop_oldest_locked();
}

void CallbackQueue::pop_oldest_locked() {
  if (oldest_ == nullptr) return;
  used_ -= slot_size(oldest_->padded_size);
  oldest_ = oldest_->next;
  if (oldest_ == nullptr) {
    newest_ = nullptr;
    write_offset_ = 0;
  }
}

size_t CallbackQueue::used_bytes() {
  std::lock_guard<std::mutex> hold(ring_lock_);
  return used_;
}

}  // namespace brixa
