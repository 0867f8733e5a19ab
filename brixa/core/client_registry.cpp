#include "brixa/core/client_registry.h"

#include "brixa/core/bounds.h"
#include "trace/trace.h"

namespace brixa {

ClientRegistry& client_registry() {
  static auto* registry = new ClientRegistry;  // lives as long as the process
  return *registry;
}

bool registry_open() { return client_registry().open.load(); }

bool open_client_registry() {
  ClientRegistry& registry = client_registry();
  WriteLock hold(registry.lock);
  if (registry.open) return false;
  registry.open = true;
  return true;
}

ClientRef find_client(brixa_handle handle, int32_t* result) {
  ClientRegistry& registry = client_registry();
  ReadLock hold(registry.lock);
  if (!registry.open) {
    *result = BRIXA_ERR_NOT_INITIALISED;
    return {};
  }
  if (handle == nullptr || !registry.clients.contains(handle)) {
    *result = BRIXA_ERR_FAILED;
    return {};
  }
  // Registered: the registry's own reference keeps the record alive while we count ours.
  handle->refs.fetch_add(1);
  *result = BRIXA_OK;
  return ClientRef::adopt(handle);
}

device_session* find_session(brixa_client* client, const char* dev_id) {
  if (dev_id == nullptr) return nullptr;
  for (ListLink* l = client->devices.first(); l != client->devices.end(); l = l->next) {
    device_session* s = device_session::from_link(l);
    if (strcmp(s->dev_id, dev_id) == 0) return s;
  }
  return nullptr;
}

device_session* find_logged_in_session(brixa_client* client, const char* dev_id) {
  if (dev_id == nullptr) return nullptr;
  for (ListLink* l = client->devices.first(); l != client->devices.end(); l = l->next) {
    device_session* s = device_session::from_link(l);
    if (s->login_handle > 0 && strcmp(s->dev_id, dev_id) == 0) return s;
  }
  return nullptr;
}

void join_worker(brixa_client* client, platform::Thread brixa_client::*slot) {
  platform::Thread worker;
  {
    platform::MutexLock hold(client->workers_lock);
    worker = std::move(client->*slot);
  }
  if (worker.join_within(kThreadStopMs) == platform::Thread::End::abandoned) {
    trace::error("join_worker", 76, "Worker is not ending (76)");
  }
}

}  // namespace brixa
