// One mapping: a listener on 127.0.0.1 whose accepted connections are relayed, each on a
// thread of its own, through the tunnel service to a port of the device.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <thread>

#include "platform/net/socket_io.h"
#include "t2u/wire/signal_fd.h"

namespace t2u {

class TunnelClient;

struct PortTarget {
  std::string device_id;
  std::string port_key;
  std::string peer_host;
  uint16_t peer_port = 0;
  uint64_t tag = 0;  // names the mapping towards the service
};

// Threads: the accept thread (started by start(), owner: whoever calls stop()) and one stream
// thread per accepted connection (owner: the accept thread until it has ended, then stop()).
class MappedPort {
 public:
  static constexpr size_t kMaxStreams = 256;

  MappedPort(TunnelClient& client, PortTarget target, platform::net::UniqueFd listener, uint16_t port);
  ~MappedPort();
  MappedPort(const MappedPort&) = delete;
  MappedPort& operator=(const MappedPort&) = delete;

  // False when the accept thread cannot be started (the port then relays nothing).
  bool start();
  // Closes the listener and every stream of the mapping and joins their threads. Idempotent.
  void stop();

  uint16_t port() const { return port_; }
  const PortTarget& target() const { return target_; }

 private:
  struct Stream {
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void accept_loop();
  void reap_finished_streams();  // accept thread
  void relay(platform::net::UniqueFd local);  // a stream thread

  TunnelClient& client_;
  const PortTarget target_;
  platform::net::UniqueFd listener_;
  const uint16_t port_;
  wire::StopSignal stop_;
  std::thread acceptor_;
  // Touched by the accept thread while it runs, then by stop() after joining it.
  std::list<std::unique_ptr<Stream>> streams_;
};

}  // namespace t2u
