// The client registry: every live client handle, and the lookups every export starts with.
//
// Lock order, outermost first: the client registry's lock, a client's device list lock, the
// socket map's lock, the capture registry lock, the callback queue's lock. The tunnel check
// runs the other way round (socket map, then registry, then a device list), so it only tries:
// the registry with the 500 ms timed read lock and the device list with try-enter, and leaves
// a connector it cannot reach for its next round.
#pragma once

#include <cstring>
#include <mutex>

#include "brixa/api/brixa.h"
#include "brixa/core/client.h"
#include "brixa/core/pointer_map.h"

namespace brixa {

// The registry, or null before brixa_init / the first brixa_create and after brixa_uninit.
PointerMap* client_registry();
// The registry, created when there is none.
PointerMap* ensure_client_registry();
// Detaches the registry from the process and returns it; the caller frees it.
PointerMap* take_client_registry();

// Runs fn(client) under the registry's read lock when `handle` is registered. Returns -2 with
// no registry, -1 for a null or unregistered handle (memory behind it is never touched), else
// fn's result.
template <class Fn>
int32_t with_client(brixa_handle handle, Fn&& fn) {
  PointerMap* registry = client_registry();
  if (registry == nullptr) return BRIXA_ERR_NOT_INITIALISED;
  ReadLock hold(registry->lock);
  if (handle == nullptr || !registry->contains(handle)) return BRIXA_ERR_FAILED;
  return fn(handle);
}

// As with_client, with the client's device list lock held as well.
template <class Fn>
int32_t with_device_list(brixa_handle handle, Fn&& fn) {
  return with_client(handle, [&](brixa_client* client) {
    std::lock_guard<platform::CriticalSection> list(client->device_list_lock);
    return fn(client);
  });
}

// The first session of the client with that identifier, logged in or not. Device list lock held.
device_session* find_session(brixa_client* client, const char* dev_id);
// The first session with that identifier whose login handle is above 0. Device list lock held.
device_session* find_logged_in_session(brixa_client* client, const char* dev_id);

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
