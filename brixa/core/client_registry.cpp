#include "brixa/core/client_registry.h"

#include <atomic>

namespace brixa {
namespace {

// Published with release order so a thread that sees the pointer sees a built map. Creation is
// serialised by creation_lock; destruction happens only in brixa_uninit.
std::atomic<PointerMap*> registry{nullptr};
std::mutex creation_lock;

}  // namespace

PointerMap* client_registry() { return registry.load(std::memory_order_acquire); }

PointerMap* ensure_client_registry() {
  PointerMap* current = client_registry();
  if (current != nullptr) return current;
  std::lock_guard<std::mutex> hold(creation_lock);
  current = registry.load(std::memory_order_acquire);
  if (current == nullptr) {
    current = new PointerMap();
    registry.store(current, std::memory_order_release);
  }
  return current;
}

PointerMap* take_client_registry() {
  std::lock_guard<std::mutex> hold(creation_lock);
  return registry.exchange(nullptr, std::memory_order_acq_rel);
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

void join_worker(brixa_client* client, std::thread* brixa_client::*slot) {
  std::thread* worker;
  {
    std::lock_guard<std::mutex> hold(client->workers_lock);
    worker = client->*slot;
    client->*slot = nullptr;
  }
  if (worker == nullptr) return;
  if (worker->get_id() == std::this_thread::get_id()) {
    worker->detach();  // a worker releasing its own client: it ends right after
  } else if (worker->joinable()) {
    worker->join();
  }
  delete worker;
}

}  // namespace brixa
