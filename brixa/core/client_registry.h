// The client registry: every registered client handle, and the lookups every export starts with.
// The lock order of the library is written once, in brixa/README.md.
#pragma once

#include <atomic>
#include <cstring>

#include "brixa/api/brixa.h"
#include "brixa/core/client.h"
#include "brixa/core/pointer_map.h"
#include "brixa/core/rw_lock.h"
#include "platform/thread_annotations.h"

namespace brixa {

// Lives as long as the process. brixa_init (or the first brixa_create) opens it; brixa_uninit
// takes every client out and closes it. While it is closed the exports return -2. Every thread
// that runs an export reads it; brixa_create, brixa_release and brixa_uninit change it. The lock
// is held only to look a handle up and count a reference, or to insert and remove: never across
// a call's work.
struct ClientRegistry {
  RwLock lock;
  // Written under the write lock; read under the lock, or peeked at without it (uninit).
  std::atomic<bool> open{false};
  PointerMap clients GUARDED_BY(lock);  // handle -> the same handle
};

ClientRegistry& client_registry();
// True between the registry's opening and brixa_uninit (a peek, without the lock).
bool registry_open();
// Opens the registry if it is closed; true when this call opened it.
bool open_client_registry();

// A reference to the registered client `handle`, or an empty one with `result` set: -2 while
// the registry is closed, -1 for a null or unregistered handle (memory behind it is never
// touched).
ClientRef find_client(brixa_handle handle, int32_t* result);

// Runs fn(client) with a reference to the client when `handle` is registered; fn runs without
// the registry's lock. Returns -2 while the registry is closed, -1 for a null or unregistered
// handle, else fn's result.
template <class Fn>
int32_t with_client(brixa_handle handle, Fn&& fn) {
  int32_t result = BRIXA_OK;
  ClientRef client = find_client(handle, &result);
  if (!client) return result;
  return fn(client.get());
}

// The first session of the client with that identifier, logged in or not.
device_session* find_session(brixa_client* client, const char* dev_id) REQUIRES(client->device_list_lock);
// The first session with that identifier whose login handle is above 0.
device_session* find_logged_in_session(brixa_client* client, const char* dev_id)
    REQUIRES(client->device_list_lock);

// Copies `text` into a fixed field, cut to fit and always NUL-terminated.
template <size_t N>
void copy_text(char (&field)[N], const char* text) {
  if (text == nullptr) {
    field[0] = 0;
    return;
  }
  size_t n = strnlen(text, N - 1);
  memcpy(field, text, n);
  field[n] = 0;
}

}  // namespace brixa
