#include "brixa/tunnel/connector.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "brixa/core/client_registry.h"
#include "brixa/sdk/sdk.h"
#include "brixa/tunnel/socket_map.h"
#include "trace/trace.h"

namespace brixa::tunnel {
namespace {

std::atomic<uint64_t> next_serial{1};

constexpr ConnectorOps kT2uOps = {
    brixa_connector_init_t2u,       brixa_connector_uninit_t2u,       brixa_connector_connect_t2u,
    brixa_connector_disconnect_t2u, brixa_connector_is_connected_t2u, brixa_connector_get_port_t2u,
};

void copy_statistics(brixa_connector* self, const t2u_port_stats& stats) {
  self->usingRelay.store(stats.usingRelay);
  self->relay_quality.store(stats.relay_quality);
  self->remoteNATType.store(stats.remoteNATType);
  self->localNATType.store(stats.localNATType);
  self->remoteVersion.store(stats.remoteVersion);
}

}  // namespace

const char* status_text(int32_t status) {
  switch (status) {
    case 0: return " Trying to establish P2P connection";
    case 1: return " P2P connection established";
    case -1: return " Port tunnel not found";
    case -2: return " P2P connection failed";
    case -3: return " P2P connection interruped";
    case -4: return " P2P device is not online";
    case -5: return " Password authentication failed";
    default: return nullptr;
  }
}

brixa_connector* brixa_connector_new(uint16_t peer_port, const char* id, uint16_t local_port) {
  trace::enter("brixa_connector_new");
  trace::value("addr", "127.0.0.1");
  trace::value("port", peer_port);
  trace::value("uuid", id);
  trace::value("local_port", local_port);
  if (id != nullptr && strnlen(id, sizeof brixa_connector::id) >= sizeof brixa_connector::id) {
    trace::error("brixa_connector_new", 20, "device identifier too long");
    trace::leave("brixa_connector_new");
    return nullptr;
  }
  auto* self = new (std::nothrow) brixa_connector();
  if (self == nullptr) {
    trace::error("brixa_connector_new", 20, "cannot allocate connector");
    trace::leave("brixa_connector_new");
    return nullptr;
  }
  self->ops = kT2uOps;
  self->serial = next_serial.fetch_add(1);
  copy_text(self->address, "127.0.0.1");
  self->peer_port = peer_port;
  self->local_port = local_port;
  if (id != nullptr && id[0] != 0) copy_text(self->id, id);
  brixa_connector_init(self);
  trace::connector(self->address, self->peer_port, self->local_port, self->id);
  trace::leave("brixa_connector_new");
  return self;
}

void brixa_connector_delete(brixa_connector* self) {
  if (self == nullptr) return;
  trace::connector(self->address, self->peer_port, self->local_port, self->id);
  self->ops.disconnect(self);
  brixa_connector_uninit(self);
  delete self;
}

void brixa_connector_forget(brixa_connector* self) {
  if (self == nullptr) return;
  {
    SocketMap& map = socket_map();
    WriteLock hold(map.lock);
    map.connectors.remove(self);
  }
  delete self;
}

void brixa_connector_set_callback(brixa_connector* self, StatusCallback callback) {
  self->status_callback.store(callback);
}

int32_t brixa_connector_init(brixa_connector* self) { return self->ops.init(self); }

int32_t brixa_connector_uninit(brixa_connector* self) { return self->ops.uninit(self); }

int32_t brixa_connector_init_t2u(brixa_connector* self) {
  self->mapped_port.store(0);
  return 0;
}

int32_t brixa_connector_uninit_t2u(brixa_connector* self) {
  int32_t port = self->mapped_port.load();
  if (port > 0) {
    t2u_del_port(static_cast<uint16_t>(port));
    self->mapped_port.store(-1);
  }
  return 0;
}

int32_t brixa_connector_connect_t2u(brixa_connector* self) {
  trace::enter("brixa_connector_connect_t2u");
  trace::ExitGuard exit("brixa_connector_connect_t2u");

  // Wait for the tunnel library to be accepted by the tunnel service.
  for (int polls = 0;;) {
    int status = t2u_status();
    if (status == 1) break;
    if (status == -1 || self->suspended.load() != 0) return -1;
    if (++polls >= kReadyPolls) {
      trace::error("brixa_connector_connect_t2u", 337, "T2U is not ready (234)");
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kReadyPollMs));
  }

  SocketMap& map = socket_map();
  {
    ReadLock hold(map.lock);
    if (!map.open) return -1;  // the library is not initialised: nobody would follow the port
  }

  trace::step("Adding T2U port (289)");
  int32_t mapped = t2u_add_port_v3(self->id, kPortKey, self->address, self->peer_port, self->local_port);
  self->mapped_port.store(mapped);
  if (mapped == -1) {
    trace::error("brixa_connector_connect_t2u", 347, "Add port failed (276)");
    return -2;
  }

  self->disconnected.store(0);
  self->last_status.store(0);
  {
    WriteLock hold(map.lock);
    if (map.open) map.connectors.insert(self, self);
  }

  trace::step("Checking T2U connection stats (312)");
  t2u_port_stats stats{};
  int status = t2u_port_status(static_cast<uint16_t>(mapped), &stats);
  if (status == 1) {
    copy_statistics(self, stats);
    trace::value("self->usingRelay", self->usingRelay.load());
    trace::value("self->localNATType", self->localNATType.load());
    trace::value("self->remoteNATType", self->remoteNATType.load());
    trace::value("self->remoteVersion", self->remoteVersion.load());
  } else {
    trace::step("Cannot get T2U connection stats (325)");
    if (const char* text = status_text(status)) trace::step(text);
  }
  return 0;
}

int32_t brixa_connector_disconnect_t2u(brixa_connector* self) {
  self->disconnected.store(1);
  SocketMap& map = socket_map();
  WriteLock hold(map.lock);
  map.connectors.remove(self);
  // A port that was never mapped (-1) or already removed is not handed to the tunnel library:
  // as a 16-bit port it would name somebody else's mapping.
  int32_t port = self->mapped_port.load();
  if (port > 0) t2u_del_port(static_cast<uint16_t>(port));
  self->mapped_port.store(-1);
  return 0;
}

int32_t brixa_connector_is_connected_t2u(brixa_connector* self) {
  int32_t port = self->mapped_port.load();
  return port > 0 && t2u_port_status(static_cast<uint16_t>(port), nullptr) == 1 ? 1 : 0;
}

uint16_t brixa_connector_get_port_t2u(brixa_connector* self) {
  return static_cast<uint16_t>(self->mapped_port.load());
}

}  // namespace brixa::tunnel
