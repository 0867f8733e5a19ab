// The C interface of the tunnel library over TunnelClient.
#include <cstddef>
#include <cstring>
#include <memory>
#include <shared_mutex>

#include "t2u/local_ports.h"
#include "t2u/t2u.h"
#include "t2u/tunnel_client.h"
#include "t2u/wire/protocol.h"

static_assert(sizeof(t2u_port_stats) == 88, "the port status record is 88 bytes");
static_assert(offsetof(t2u_port_stats, usingRelay) == 24);
static_assert(offsetof(t2u_port_stats, relay_quality) == 28);
static_assert(offsetof(t2u_port_stats, remoteNATType) == 36);
static_assert(offsetof(t2u_port_stats, localNATType) == 40);
static_assert(offsetof(t2u_port_stats, remoteVersion) == 84);

namespace {

// `client` exists between t2u_init and t2u_exit. init and exit hold `lifecycle` exclusively;
// every other operation holds it shared, so it never sees a client being torn down.
std::shared_mutex lifecycle;
std::unique_ptr<t2u::TunnelClient> client;  // guarded by lifecycle
t2u::LocalPorts local_ports;                 // outlives init/exit: the range is set before init

bool valid_text(const char* text, bool may_be_empty) {
  if (text == nullptr) return false;
  size_t n = strnlen(text, t2u::wire::kMaxText + 1);
  return n <= t2u::wire::kMaxText && (may_be_empty || n > 0);
}

}  // namespace

extern "C" {

int t2u_status(void) {
  std::shared_lock<std::shared_mutex> hold(lifecycle);
  return client ? client->status() : -1;
}

void t2u_init(const char* server, uint16_t port, const char* key) {
  std::unique_lock<std::shared_mutex> hold(lifecycle);
  if (client) return;  // already running: a second init changes nothing
  client = std::make_unique<t2u::TunnelClient>(server != nullptr ? server : "", port, key != nullptr ? key : "");
  if (!client->start()) client.reset();  // no control thread: the library stays uninitialised
}

void t2u_exit(void) {
  std::unique_lock<std::shared_mutex> hold(lifecycle);
  if (!client) return;
  client->stop();
  client.reset();
}

int t2u_set_port_range(int first_port, int last_port) { return local_ports.set_range(first_port, last_port); }

int t2u_add_port_v3(const char* device_id, const char* port_key, const char* address, uint16_t peer_port,
                    uint16_t local_port) {
  if (!valid_text(device_id, false) || !valid_text(port_key, true) || peer_port == 0) return -1;
  if (address != nullptr && !valid_text(address, true)) return -1;
  std::shared_lock<std::shared_mutex> hold(lifecycle);
  if (!client) return -1;
  uint16_t bound = 0;
  platform::net::UniqueFd listener = local_ports.listen(local_port, &bound);
  if (!listener.valid()) return -1;
  t2u::PortTarget target;
  target.device_id = device_id;
  target.port_key = port_key;
  target.peer_host = address != nullptr && address[0] != 0 ? address : "127.0.0.1";
  target.peer_port = peer_port;
  return client->add_port(std::move(target), std::move(listener), bound);
}

void t2u_del_port(uint16_t mapped_port) {
  std::shared_lock<std::shared_mutex> hold(lifecycle);
  if (client) client->del_port(mapped_port);
}

int t2u_port_status(uint16_t mapped_port, t2u_port_stats* stats) {
  std::shared_lock<std::shared_mutex> hold(lifecycle);
  return client ? client->port_status(mapped_port, stats) : -1;
}

}  // extern "C"
