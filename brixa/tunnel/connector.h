// The tunnel connector: one per device connection. It asks the tunnel library to map a TCP port
// of the device onto a port on 127.0.0.1, and carries the tunnel state the check thread follows.
#pragma once

#include <atomic>
#include <cstdint>

#include "brixa/api/brixa.h"

namespace brixa::tunnel {

// The port key every tunnel is opened with.
inline constexpr const char* kPortKey = "vakP60372";
// A connect waits this many polls of this many milliseconds for the tunnel library.
inline constexpr int kReadyPolls = 50;
inline constexpr int kReadyPollMs = 100;

struct ConnectorOps {
  int32_t (*init)(brixa_connector* self);
  int32_t (*uninit)(brixa_connector* self);
  int32_t (*connect)(brixa_connector* self);
  int32_t (*disconnect)(brixa_connector* self);
  int32_t (*is_connected)(brixa_connector* self);
  uint16_t (*get_port)(brixa_connector* self);
};

using StatusCallback = void (*)(brixa_connector* self, int32_t status);

// The step text traced for a tunnel status, or null for a code outside the table.
const char* status_text(int32_t status);

}  // namespace brixa::tunnel

// Created by brixa_create_connect, owned by its device session, freed by the release of that
// session. Immutable after creation unless marked otherwise. The atomics are written by the
// creating thread, the check thread and the releasing thread and read by any of them.
struct brixa_connector {
  brixa_client* client = nullptr;
  char address[64] = {};  // the device-side address of the tunnel: always "127.0.0.1"
  uint16_t peer_port = 0;
  char id[64] = {};       // the device identifier
  uint16_t local_port = 0;
  uint64_t serial = 0;    // tells this connector from a later one at the same address

  std::atomic<int32_t> mapped_port{0};  // 0 after creation, -1 after the port was removed
  std::atomic<int32_t> last_status{0};  // the check thread's; 0 after a connect
  std::atomic<int32_t> disconnected{0};
  std::atomic<int32_t> suspended{0};    // makes a connect still waiting give up
  // Statistics of the tunnel library, traced only.
  std::atomic<int32_t> usingRelay{0};
  std::atomic<int32_t> remoteNATType{0};
  std::atomic<int32_t> localNATType{0};
  std::atomic<int32_t> remoteVersion{0};
  std::atomic<float> relay_quality{0.0f};

  std::atomic<brixa::tunnel::StatusCallback> status_callback{nullptr};
  brixa::tunnel::ConnectorOps ops{};
};

namespace brixa::tunnel {

// A new connector with the tunnel-library operations, initialised (mapped port 0). Null when it
// cannot be allocated, or when the identifier does not fit the connector (a cut identifier
// would name another device).
brixa_connector* brixa_connector_new(uint16_t peer_port, const char* id, uint16_t local_port);
// Disconnects, uninitialises and frees the connector.
void brixa_connector_delete(brixa_connector* self);
// Frees a connector whose port belonged to a tunnel library that has been shut down since (its
// port number may name a new mapping now): only the socket map forgets it.
void brixa_connector_forget(brixa_connector* self);
void brixa_connector_set_callback(brixa_connector* self, StatusCallback callback);
int32_t brixa_connector_init(brixa_connector* self);
int32_t brixa_connector_uninit(brixa_connector* self);

// The tunnel-library operations.
int32_t brixa_connector_init_t2u(brixa_connector* self);
int32_t brixa_connector_uninit_t2u(brixa_connector* self);
// 0 when the port is mapped (the tunnel itself may still be coming up); -1 when the tunnel
// library is not initialised, never becomes ready, or the connector is suspended while
// waiting; -2 when the port cannot be mapped.
int32_t brixa_connector_connect_t2u(brixa_connector* self);
int32_t brixa_connector_disconnect_t2u(brixa_connector* self);
int32_t brixa_connector_is_connected_t2u(brixa_connector* self);
uint16_t brixa_connector_get_port_t2u(brixa_connector* self);

}  // namespace brixa::tunnel
