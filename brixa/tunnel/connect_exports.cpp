// The tunnel connection exports.
#include <exception>
#include <new>

#include "brixa/api/brixa.h"
#include "brixa/core/bounds.h"
#include "brixa/core/client_registry.h"
#include "brixa/tunnel/connector.h"
#include "brixa/tunnel/connectors.h"
#include "trace/trace.h"

namespace brixa::tunnel {
namespace {

device_session* session_with(brixa_client* client, const brixa_connector* connector)
    REQUIRES(client->device_list_lock) {
  for (ListLink* l = client->devices.first(); l != client->devices.end(); l = l->next) {
    device_session* s = device_session::from_link(l);
    if (s->connector == connector) return s;
  }
  return nullptr;
}

// The null checks every connection export starts with; false (and the error line) on failure.
bool arguments_present(const char* function, brixa_handle client, brixa_connection connection, int client_line,
                       int connection_line) {
  if (client == nullptr) {
    trace::error(function, client_line, "null handle");
    return false;
  }
  if (connection == nullptr) {
    trace::error(function, connection_line, "null connector");
    return false;
  }
  return true;
}

brixa_connection create_connect(brixa_handle handle, const char* dev_id, uint16_t dev_port, uint16_t local_port) {
  constexpr const char* kName = "brixa_create_connect";
  int32_t found = 0;
  // A reference, not the registry's lock: the connect below may wait about 5 s for the tunnel
  // library, and a release of the client must not wait behind it.
  ClientRef client = find_client(handle, &found);
  if (found == BRIXA_ERR_NOT_INITIALISED) {
    trace::error(kName, 119, "null client map");
    return nullptr;
  }
  if (!client) return nullptr;

  brixa_connector* connector = brixa_connector_new(dev_port, dev_id, local_port);
  if (connector == nullptr) {
    trace::error(kName, 131, "No connector instance (126)");
    return nullptr;
  }
  connector->client = client.get();

  trace::step("- attempting connection (137)");
  if (connector->ops.connect(connector) != 0) {
    trace::error(kName, 175, "Cannot connect (173)");
    brixa_connector_delete(connector);
    return nullptr;
  }

  auto* session = new (std::nothrow) device_session();
  if (session == nullptr) {
    trace::error(kName, 146, "Cannot alloc device info instance (141)");
    brixa_connector_delete(connector);
    return nullptr;
  }
  session->client = client.get();
  session->connector = connector;
  copy_text(session->dev_id, dev_id);
  session->dev_port = dev_port;
  session->local_port = local_port;
  session->mapped_port = static_cast<uint16_t>(connector->mapped_port.load());
  brixa_connector_set_callback(connector, post_status);
  {
    DeviceListLock list(client->device_list_lock);
    if (!client->closed) {
      client->devices.push_front(&session->link);
      return connector;
    }
  }
  // The client was released while the tunnel came up: nobody would ever release this one.
  trace::error(kName, 160, "Client released while connecting (160)");
  brixa_connector_delete(connector);
  delete session;
  return nullptr;
}

int32_t get_mapped_port(brixa_handle client, brixa_connection connection) {
  constexpr const char* kName = "brixa_connnect_get_mapped_port";
  if (!arguments_present(kName, client, connection, 195, 201)) return BRIXA_ERR_FAILED;
  if (!registry_open()) {
    trace::error(kName, 210, "null client map");
    return BRIXA_ERR_NOT_INITIALISED;
  }
  try {
    return with_client(client, [&](brixa_client* c) -> int32_t {
      DeviceListLock list(c->device_list_lock);
      device_session* session = session_with(c, connection);
      return session != nullptr ? session->mapped_port : BRIXA_ERR_FAILED;
    });
  } catch (const std::exception& e) {
    trace::error(kName, 241, e.what());
  } catch (...) {
    trace::error(kName, 247, "unknown exception");
  }
  return BRIXA_ERR_FAILED;
}

void suspend_connect(brixa_handle client, brixa_connection connection) {
  constexpr const char* kName = "brixa_suspend_connect";
  if (!arguments_present(kName, client, connection, 260, 266)) return;
  if (!registry_open()) {
    trace::error(kName, 276, "null client map");
    return;
  }
  // Under the client's locks: the session list may change under another thread.
  with_client(client, [&](brixa_client* c) -> int32_t {
    DeviceListLock list(c->device_list_lock);
    if (device_session* session = session_with(c, connection)) session->connector->suspended.store(1);
    return 0;
  });
}

int32_t release_connect(brixa_handle handle, brixa_connection connection) {
  constexpr const char* kName = "brixa_release_connect";
  if (!arguments_present(kName, handle, connection, 315, 321)) return BRIXA_ERR_FAILED;
  int32_t found = 0;
  ClientRef client = find_client(handle, &found);
  if (found == BRIXA_ERR_NOT_INITIALISED) {
    trace::error(kName, 330, "null client map");
    return BRIXA_ERR_NOT_INITIALISED;
  }
  if (!client) return BRIXA_ERR_FAILED;
  if (client->device_list_lock.try_enter_for(kDeviceListMs)) {
    if (device_session* session = session_with(client.get(), connection)) {
      release_session_locked(client.get(), session);
    }
    client->device_list_lock.leave();
  } else {
    // The caller has already let go of the handle: the release must still happen, so the check
    // thread finishes it as soon as the list is free.
    trace::error(kName, 387, "cannot access critical section, release deferred");
    defer_release(std::move(client), connection);
  }
  return BRIXA_ERR_FAILED;  // whatever happened: the callers rely on nothing else
}

}  // namespace
}  // namespace brixa::tunnel

extern "C" {

brixa_connection brixa_create_connect(brixa_handle client, const char* dev_id, uint16_t dev_port,
                                      uint16_t local_port) {
  trace::enter("brixa_create_connect");
  trace::value("handle", static_cast<int>(reinterpret_cast<intptr_t>(client)));
  trace::value("dev_id", dev_id);
  trace::value("dev_port", dev_port);
  trace::value("local_port", local_port);
  brixa_connection result = brixa::tunnel::create_connect(client, dev_id, dev_port, local_port);
  trace::leave("brixa_create_connect");
  return result;
}

int32_t brixa_connnect_get_mapped_port(brixa_handle client, brixa_connection connection) {
  trace::enter("brixa_connnect_get_mapped_port");
  int32_t result = brixa::tunnel::get_mapped_port(client, connection);
  trace::leave("brixa_connnect_get_mapped_port");
  return result;
}

void brixa_suspend_connect(brixa_handle client, brixa_connection connection) {
  trace::enter("brixa_suspend_connect");
  brixa::tunnel::suspend_connect(client, connection);
  trace::leave("brixa_suspend_connect");
}

int32_t brixa_release_connect(brixa_handle client, brixa_connection connection) {
  trace::enter("brixa_release_connect");
  int32_t result = brixa::tunnel::release_connect(client, connection);
  trace::leave("brixa_release_connect");
  return result;
}

}  // extern "C"
