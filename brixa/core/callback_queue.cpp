#include "brixa/core/callback_queue.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>

namespace brixa {
namespace {

unsigned char* allocate_ring() {
  auto* ring = static_cast<unsigned char*>(aligned_alloc(alignof(CallbackMessage), CallbackQueue::kRingBytes));
  if (ring == nullptr) throw std::bad_alloc();
  return ring;
}

}  // namespace

static_assert(sizeof(CallbackMessage) % alignof(CallbackMessage) == 0);

CallbackQueue::CallbackQueue(bool open) : ring_(allocate_ring()), open_(open) {}

CallbackQueue::~CallbackQueue() { free(ring_); }

bool CallbackQueue::post(brixa_handle client, int32_t id, intptr_t param1, int32_t param2,
                         const void* info, int32_t info_len) {
  uint32_t length = (info == nullptr || info_len <= 0) ? 0 : static_cast<uint32_t>(info_len);
  if (length >= kRingBytes) return false;
  uint32_t padded = padded_size(length);
  size_t need = slot_size(padded);
  {
    platform::MutexLock hold(lock_);
    if (!open_) return false;
    if (kRingBytes - used_ < padded + 2 * kHeader) return false;

    size_t at;
    if (oldest_ == nullptr) {
      at = 0;  // an empty ring starts over at its beginning
    } else {
      size_t oldest_at = offset_of(oldest_);
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
    message->delivery = kQueued;
    message->next = nullptr;

    if (newest_ != nullptr) {
      newest_->next = message;
    } else {
      oldest_ = message;
    }
    newest_ = message;
    if (undelivered_ == nullptr) undelivered_ = message;
    write_offset_ = at + need;
    used_ += need;
    if (signals_ < kMaxSignals) ++signals_;
    if (waiters_ == 0) return true;
  }
  signalled_.notify_one();
  return true;
}

uint64_t CallbackQueue::open() {
  platform::MutexLock hold(lock_);
  open_ = true;
  return epoch_;
}

void CallbackQueue::close() {
  {
    platform::MutexLock hold(lock_);
    open_ = false;
    ++epoch_;
    // Messages handed out form the front of the chain; they stay until given back.
    CallbackMessage* kept = nullptr;
    for (CallbackMessage* m = oldest_; m != nullptr && m != undelivered_; m = m->next) kept = m;
    if (kept == nullptr) {
      oldest_ = newest_ = nullptr;
      write_offset_ = 0;
      used_ = 0;
    } else {
      kept->next = nullptr;
      newest_ = kept;
      write_offset_ = offset_of(kept) + slot_size(kept->padded_size);
      used_ = 0;
      for (CallbackMessage* m = oldest_; m != nullptr; m = m->next) used_ += slot_size(m->padded_size);
    }
    undelivered_ = nullptr;
    signals_ = 0;
  }
  signalled_.notify_all();
}

uint64_t CallbackQueue::epoch() {
  platform::MutexLock hold(lock_);
  return epoch_;
}

bool CallbackQueue::is_open() {
  platform::MutexLock hold(lock_);
  return open_;
}

const CallbackMessage* CallbackQueue::next(const CallbackMessage* delivered, uint64_t epoch) {
  platform::MutexLock hold(lock_);
  if (delivered != nullptr) {
    const_cast<CallbackMessage*>(delivered)->delivery = kDelivered;
    pop_delivered_locked();
  }
  ++waiters_;
  while (epoch == epoch_ && (signals_ == 0 || undelivered_ == nullptr)) {
    if (undelivered_ == nullptr) signals_ = 0;  // nothing left to hand out: no signal is owed
    signalled_.wait(lock_);
  }
  --waiters_;
  if (epoch != epoch_) return nullptr;
  --signals_;
  CallbackMessage* m = undelivered_;
  m->delivery = kHandedOut;
  undelivered_ = m->next;
  return m;
}

bool CallbackQueue::wait_signal(uint32_t timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  platform::MutexLock hold(lock_);
  ++waiters_;
  while (signals_ == 0) {
    if (!signalled_.wait_until(lock_, deadline)) break;
  }
  --waiters_;
  if (signals_ == 0) return false;
  --signals_;
  return true;
}

const CallbackMessage* CallbackQueue::peek_oldest() {
  platform::MutexLock hold(lock_);
  return oldest_;
}

void CallbackQueue::pop_oldest() {
  platform::MutexLock hold(lock_);
  pop_oldest_locked();
}

void CallbackQueue::pop_oldest_locked() {
  if (oldest_ == nullptr) return;
  used_ -= slot_size(oldest_->padded_size);
  if (undelivered_ == oldest_) undelivered_ = oldest_->next;
  oldest_ = oldest_->next;
  if (oldest_ == nullptr) {
    newest_ = nullptr;
    write_offset_ = 0;
  }
}

void CallbackQueue::pop_delivered_locked() {
  while (oldest_ != nullptr && oldest_->delivery == kDelivered) pop_oldest_locked();
}

size_t CallbackQueue::used_bytes() {
  platform::MutexLock hold(lock_);
  return used_;
}

}  // namespace brixa
