// brixa_create and brixa_release.
#include <mutex>
#include <new>

#include "brixa/cloud/cloud_session.h"
#include "brixa/core/client_registry.h"
#include "brixa/core/library.h"
#include "brixa/core/session_teardown.h"
#include "brixa/tunnel/connectors.h"
#include "trace/trace.h"

namespace brixa {

brixa_handle create_client() {
  trace::enter("brixa_create");
  auto* client = new (std::nothrow) brixa_client();
  if (client == nullptr) {
    trace::error("brixa_create", 168, "Null client instance (159)");
    trace::leave("brixa_create");
    return nullptr;
  }
  PointerMap* registry = ensure_client_registry();
  {
    WriteLock hold(registry->lock);
    registry->insert(client, client);
  }
  trace::leave("brixa_create");
  return client;
}

void release_client_locked(brixa_handle client) {
  {
    std::lock_guard<platform::CriticalSection> list(client->device_list_lock);
    while (!client->devices.empty()) {
      device_session* session = device_session::from_link(client->devices.first());
      stop_session_activity(session);
      tunnel::release_session_locked(client, session);
    }
  }
  client->record_query_running.store(0);
  join_worker(client, &brixa_client::record_query_thread);
  client->record_status_running.store(0);
  join_worker(client, &brixa_client::record_status_thread);
  cloud::destroy_cloud_slot(client);
  if (PointerMap* registry = client_registry()) registry->remove(client);
  delete client;
}

void release_client(brixa_handle client) {
  trace::enter("brixa_release");
  PointerMap* registry = client_registry();
  if (registry == nullptr) {
    trace::leave("brixa_release");
    return;
  }
  {
    WriteLock hold(registry->lock);
    if (client != nullptr && registry->contains(client)) release_client_locked(client);
  }
  trace::leave("brixa_release");
}

}  // namespace brixa
