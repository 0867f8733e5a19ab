// Test helpers: a tunnel service with an echo "device" behind a device agent, all on loopback,
// and a checked echo exchange through a local port.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sim/tunnel/agent/device_agent.h"
#include "sim/tunnel/echo_server.h"
#include "sim/tunnel/tunnel_service.h"

namespace sim::tunnel::testing {

inline constexpr const char* kEchoDevice = "dev-echo";
inline constexpr const char* kPortKey = "vakP60372";
inline constexpr uint16_t kEchoDevicePort = 37777;  // the device port the agent offers
inline constexpr int32_t kAgentNatType = 3;
inline constexpr int32_t kAgentVersion = 7;
inline constexpr int32_t kServiceNatType = 2;

class EchoWorld {
 public:
  explicit EchoWorld(ServiceOptions options = {});
  ~EchoWorld();

  // Starts the service, the echo server and the agent, and waits for the registration.
  bool start();
  void stop_agent();
  bool start_agent();  // a new agent with the same options; waits for the registration

  TunnelService& service() { return *service_; }
  EchoServer& echo() { return echo_; }
  AgentOptions agent_options() const;

 private:
  std::unique_ptr<TunnelService> service_;
  EchoServer echo_;
  std::unique_ptr<DeviceAgent> agent_;
};

// Polls `done` every 10 ms for at most `timeout_ms`.
bool wait_until(const std::function<bool()>& done, int timeout_ms);

// Connects to 127.0.0.1:port, sends `bytes` pseudo-random bytes while reading the echo, and
// compares checksums. True when every byte came back in order.
bool echo_exchange(uint16_t port, size_t bytes, uint32_t seed = 1);

// A connected socket to 127.0.0.1:port (-1 on failure); the caller closes it.
int connect_local(uint16_t port);
// True when the peer ends the stream (or resets it) within `timeout_ms`; bytes before the end
// are read and dropped.
bool wait_for_end(int fd, int timeout_ms);
// A port on 127.0.0.1 that was free a moment ago.
uint16_t free_port();

}  // namespace sim::tunnel::testing
