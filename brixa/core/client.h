// The client record behind a brixa_handle, and the counted references that keep it alive.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "brixa/core/device_session.h"
#include "brixa/core/intrusive_list.h"
#include "platform/sync/critical_section.h"
#include "platform/sync/mutex.h"
#include "platform/thread_annotations.h"
#include "platform/threads/thread.h"

// Created by brixa_create and registered in the client registry until brixa_release or
// brixa_uninit takes it out. The record is freed when the last reference goes: the registry
// holds one while the client is registered, and every export holds one for its call (taken
// under the registry's lock, used without it), so a release never waits behind a call and a call
// never meets a freed record.
struct brixa_client {
  std::atomic<int32_t> refs{1};  // the registry's reference, plus one per call in flight
  // The library's generation when the client was made: after an uninit its NetSDK logins and
  // tunnel ports belong to a library that is gone, and a late teardown leaves them alone.
  uint64_t generation = 0;

  // Guards `devices`, `closed` and every device session in the list. Taken without the client
  // registry's lock; held only for list work and short device calls (never a device's answer).
  platform::CriticalSection device_list_lock;
  brixa::ListHead devices GUARDED_BY(device_list_lock);  // newest first
  // Set when the client is released: no session joins the list any more.
  bool closed GUARDED_BY(device_list_lock) = false;
  // The release could not reach the list within its bound: the last reference tears it down.
  std::atomic<bool> teardown_pending{false};

  // The cloud-account session slot, attached by the cloud account API; null until then. Read
  // and swapped under the cloud API's slot lock (cloud_session.cpp).
  void* cloud_session = nullptr;

  // Record-query and record-status workers. The flags are cleared by the stopping thread and
  // polled by the worker. The threads are set by the exports that start a worker and taken over
  // (then joined, with a bound) by the dispatcher's pre-dispatch step and by the release; all of
  // them hold `workers_lock` only to read or swap a thread, never while joining.
  platform::Mutex workers_lock;
  std::atomic<int32_t> record_query_running{0};
  platform::Thread record_query_thread GUARDED_BY(workers_lock);
  std::atomic<int32_t> record_status_running{0};
  platform::Thread record_status_thread GUARDED_BY(workers_lock);
  // The query each worker serves: every start counts its kind up, and a worker whose number is no
  // longer current stops, even one that outlived its stop bound while a newer one runs.
  std::atomic<uint32_t> record_query_serial{0};
  std::atomic<uint32_t> record_status_serial{0};
  // The serial of the worker that has posted its final answer. The pre-dispatch step joins the
  // worker only when this is the current serial: a final answer of an older worker, still queued
  // when a newer query started, must not stop the newer one.
  std::atomic<uint32_t> record_query_final{0};
  std::atomic<uint32_t> record_status_final{0};
};

namespace brixa {

// Holds a client's device list lock for one scope.
using DeviceListLock = platform::ScopedLock<platform::CriticalSection>;

// Takes the thread out of `slot` under the client's workers lock and ends it outside the lock,
// waiting at most kThreadStopMs (traced when it gives up). Only the caller that took the thread
// ends it; a worker ending its own slot is handed to the abandoned-thread list.
void join_worker(brixa_client* client, platform::Thread brixa_client::*slot);

// A counted reference to a client record. Empty, or holding one reference that it gives back.
class ClientRef {
 public:
  ClientRef() = default;
  // Adopts a reference already counted for `client`.
  static ClientRef adopt(brixa_client* client) {
    ClientRef ref;
    ref.client_ = client;
    return ref;
  }
  ~ClientRef() { reset(); }
  ClientRef(ClientRef&& other) noexcept : client_(other.client_) { other.client_ = nullptr; }
  ClientRef& operator=(ClientRef&& other) noexcept {
    if (this != &other) {
      reset();
      client_ = other.client_;
      other.client_ = nullptr;
    }
    return *this;
  }
  ClientRef(const ClientRef&) = delete;
  ClientRef& operator=(const ClientRef&) = delete;

  brixa_client* get() const { return client_; }
  brixa_client* operator->() const { return client_; }
  explicit operator bool() const { return client_ != nullptr; }
  // A second reference to the same client.
  ClientRef share() const {
    if (client_ != nullptr) client_->refs.fetch_add(1);
    return adopt(client_);
  }
  void reset();

 private:
  brixa_client* client_ = nullptr;
};

}  // namespace brixa
