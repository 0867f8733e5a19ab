// The client record behind a brixa_handle.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "brixa/core/device_session.h"
#include "brixa/core/intrusive_list.h"
#include "platform/sync/critical_section.h"

// Created by brixa_create, registered in the client registry until brixa_release or
// brixa_uninit frees it.
struct brixa_client {
  // Guards `devices` and every device session in it. Taken inside the client registry's lock.
  platform::CriticalSection device_list_lock;
  brixa::ListHead devices;  // newest first

  // The cloud-account session, attached by the cloud account API; null until then. Read and
  // written under the client registry's lock by the cloud exports.
  void* cloud_session = nullptr;

  // Record-query and record-status workers. The flags are cleared by the stopping thread and
  // polled by the worker. The thread pointers are written by the exports that start a worker,
  // and taken over (then joined) by the dispatcher's pre-dispatch step and by brixa_release;
  // all of them hold `workers_lock` while they read or swap a pointer, never while joining.
  std::mutex workers_lock;
  std::atomic<int32_t> record_query_running{0};
  std::thread* record_query_thread = nullptr;
  std::atomic<int32_t> record_status_running{0};
  std::thread* record_status_thread = nullptr;
};

namespace brixa {

// Takes the thread out of `slot` under the client's workers lock and joins it outside the lock.
// Safe to call from several threads: only the one that took the pointer joins it.
void join_worker(brixa_client* client, std::thread* brixa_client::*slot);

}  // namespace brixa
