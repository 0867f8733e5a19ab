// The tunnel connection exports.
#include <chrono>
#include <exception>
#include <new>
#include <thread>

#include "brixa/api/brixa.h"
#include "brixa/core/client_registry.h"
#include "brixa/tunnel/connector.h"
#include "brixa/tunnel/connectors.h"
#include "trace/trace.h"

namespace brixa::tunnel {
namespace {

// A release tries the client's device list lock for up to 200 ms before it gives up.
constexpr int kReleaseListLockTries = 20;
constexpr int kReleaseListLockRetryMs = 10;

device_session* session_with(brixa_client* client, const brixa_connector* connector) {
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

brixa_connection create_connect(brixa_handle client, const char* dev_id, uint16_t dev_port, uint16_t local_port) {
  constexpr const char* kName = "brixa_create_connect";
  PointerMap* registry = client_registry();
  if (registry == nullptr) {
    trace::error(kName, 119, "null client map");
    return nullptr;
  }
  ReadLock hold(registry->lock);
  if (client == nullptr || !registry->contains(client)) return nullptr;

  brixa_connector* connector = brixa_connector_new(dev_port, dev_id, local_port);
  if (connector == nullptr) {
    trace::error(kName, 131, "No connector instance (126)");
    return nullptr;
  }
  connector->client = client;

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
  session->client = client;
  session->connector = connector;
  copy_text(session->dev_id, dev_id);
  session->dev_port = dev_port;
  session->local_port = local_port;
  session->mapped_port = static_cast<uint16_t>(connector->mapped_port.load());
  brixa_connector_set_callback(connector, post_status);
  {
    std::lock_guard<platform::CriticalSection> list(client->device_list_lock);
    client->devices.push_front(&session->link);
  }
  return connector;
}

int32_t get_mapped_port(brixa_handle client, brixa_connection connection) {
  constexpr const char* kName = "brixa_connnect_get_mapped_port";
  if (!arguments_present(kName, client, connection, 195, 201)) return BRIXA_ERR_FAILED;
  if (client_registry() == nullptr) {
    trace::error(kName, 210, "null client map");
    return BRIXA_ERR_NOT_INITIALISED;
  }
  try {
    return with_device_list(client, [&](brixa_client* c) -> int32_t {
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
  if (client_registry() == nullptr) {
    trace::error(kName, 276, "null client map");
    return;
  }
  // Under the client's locks: the session list may change under another thread.
  with_device_list(client, [&](brixa_client* c) -> int32_t {
    if (device_session* session = session_with(c, connection)) session->connector->suspended.store(1);
    return 0;
  });
}

int32_t release_connect(brixa_handle client, brixa_connection connection) {
  constexpr const char* kName = "brixa_release_connect";
  if (!arguments_present(kName, client, connection, 315, 321)) return BRIXA_ERR_FAILED;
  PointerMap* registry = client_registry();
  if (registry == nullptr) {
    trace::error(kName, 330, "null client map");
    return BRIXA_ERR_NOT_INITIALISED;
  }
  if (!registry->lock.try_lock_read_timed()) {
    trace::error(kName, 393, "cannot access Client map critical section");
    return BRIXA_ERR_FAILED;
  }
  if (registry->contains(client)) {
    bool entered = false;
    for (int i = 0; i < kReleaseListLockTries && !entered; ++i) {
      entered = client->device_list_lock.try_enter();
      if (!entered) std::this_thread::sleep_for(std::chrono::milliseconds(kReleaseListLockRetryMs));
    }
    if (!entered) {
      trace::error(kName, 387, "cannot access critical section");
    } else {
      if (device_session* session = session_with(client, connection)) release_session_locked(client, session);
      client->device_list_lock.leave();
    }
  }
  registry->lock.unlock_read();
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
