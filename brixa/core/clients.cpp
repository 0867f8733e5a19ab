// brixa_create and brixa_release, and the end of a client record.
#include <new>
#include <vector>

#include "brixa/cloud/cloud_session.h"
#include "brixa/core/bounds.h"
#include "brixa/core/client_registry.h"
#include "brixa/core/library.h"
#include "brixa/core/session_teardown.h"
#include "brixa/tunnel/connectors.h"
#include "trace/trace.h"

namespace brixa {
namespace {

// Ends every session of the client and closes its list to new sessions.
void end_sessions_locked(brixa_client* client) REQUIRES(client->device_list_lock) {
  client->closed = true;
  bool library_alive = client->generation == library_generation();
  while (!client->devices.empty()) {
    device_session* session = device_session::from_link(client->devices.first());
    if (library_alive) stop_session_activity(session);
    tunnel::release_session_locked(client, session);
  }
}

// The last reference is gone: nobody else can hold the list lock any more.
void free_client(brixa_client* client) {
  if (client->teardown_pending.load()) {
    DeviceListLock list(client->device_list_lock);
    end_sessions_locked(client);
  }
  cloud::destroy_cloud_slot(client);
  delete client;
}

}  // namespace

void ClientRef::reset() {
  brixa_client* client = client_;
  client_ = nullptr;
  if (client != nullptr && client->refs.fetch_sub(1) == 1) free_client(client);
}

brixa_handle create_client() {
  trace::enter("brixa_create");
  auto* client = new (std::nothrow) brixa_client();
  if (client == nullptr) {
    trace::error("brixa_create", 168, "Null client instance (159)");
    trace::leave("brixa_create");
    return nullptr;
  }
  client->generation = library_generation();
  ClientRegistry& registry = client_registry();
  {
    WriteLock hold(registry.lock);
    registry.open = true;  // a client made before brixa_init opens the registry itself
    registry.clients.insert(client, client);
  }
  trace::leave("brixa_create");
  return client;
}

void end_client(ClientRef client) {
  // Calls in flight on the client's cloud session end now; they hold their own references.
  cloud::destroy_cloud_slot(client.get());
  if (client->device_list_lock.try_enter_for(kDeviceListMs)) {
    end_sessions_locked(client.get());
    client->device_list_lock.leave();
  } else {
    trace::error("brixa_release", 185, "Device list busy, sessions released later (185)");
    client->teardown_pending.store(true);
  }
  client->record_query_running.store(0);
  join_worker(client.get(), &brixa_client::record_query_thread);
  client->record_status_running.store(0);
  join_worker(client.get(), &brixa_client::record_status_thread);
}

void release_client(brixa_handle handle) {
  trace::enter("brixa_release");
  ClientRegistry& registry = client_registry();
  if (!registry.lock.try_lock_write_for(kRegistryWriteMs)) {
    trace::error("brixa_release", 178, "Cannot lock client map (178)");
    trace::leave("brixa_release");
    return;
  }
  bool registered = registry.open && handle != nullptr && registry.clients.contains(handle);
  if (registered) registry.clients.remove(handle);
  registry.lock.unlock_write();
  if (registered) end_client(ClientRef::adopt(handle));
  trace::leave("brixa_release");
}

}  // namespace brixa
