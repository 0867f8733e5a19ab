#include "sim/tunnel/testing/tunnel_world.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/net/socket_io.h"

namespace sim::tunnel::testing {

namespace wire = t2u::wire;

namespace {

ServiceOptions with_defaults(ServiceOptions options) {
  options.client_nat_type = kServiceNatType;
  return options;
}

// FNV-1a over a byte range, continued from `hash`.
uint64_t fnv1a(uint64_t hash, const char* data, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    hash ^= static_cast<unsigned char>(data[i]);
    hash *= 0x100000001B3ull;
  }
  return hash;
}

}  // namespace

EchoWorld::EchoWorld(ServiceOptions options)
    : service_(std::make_unique<TunnelService>(with_defaults(std::move(options)))) {}

EchoWorld::~EchoWorld() {
  if (agent_) agent_->stop();
  echo_.stop();
  service_->stop();
}

AgentOptions EchoWorld::agent_options() const {
  AgentOptions options;
  options.service_port = service_->port();
  options.device_id = kEchoDevice;
  options.port_key = kPortKey;
  options.port_map = {{kEchoDevicePort, echo_.port()}};
  options.nat_type = kAgentNatType;
  options.version = kAgentVersion;
  return options;
}

bool EchoWorld::start() { return service_->start() && echo_.start() && start_agent(); }

void EchoWorld::stop_agent() {
  if (agent_) agent_->stop();
  agent_.reset();
}

bool EchoWorld::start_agent() {
  agent_ = std::make_unique<DeviceAgent>(agent_options());
  agent_->start();
  return agent_->wait_registered(5000) && service_->wait_device_registered(kEchoDevice, 5000);
}

bool wait_until(const std::function<bool()>& done, int timeout_ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int connect_local(uint16_t port) { return platform::net::connect_to("127.0.0.1", port, -1, 5000).release(); }

bool wait_for_end(int fd, int timeout_ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  char chunk[4096];
  for (;;) {
    ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n == 0) return true;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    if (n < 0) platform::net::wait_for(fd, POLLIN, -1, static_cast<int>(left));
  }
}

uint16_t free_port() {
  uint16_t port = 0;
  platform::net::listen_loopback(0, &port);
  return port;
}

bool echo_exchange(uint16_t port, size_t bytes, uint32_t seed) {
  platform::net::UniqueFd fd = platform::net::connect_to("127.0.0.1", port, -1, 5000);
  if (!fd.valid()) return false;
  // A cheap deterministic byte source; the same sequence is hashed on the way out.
  auto fill = [](std::vector<char>& block, uint32_t& state) {
    for (auto& c : block) {
      state = state * 1664525u + 1013904223u;
      c = static_cast<char>(state >> 24);
    }
  };
  uint64_t sent_hash = 0xCBF29CE484222325ull;
  bool sent_ok = true;
  std::thread sender([&] {
    std::vector<char> block(64 * 1024);
    uint32_t state = seed;
    size_t left = bytes;
    while (left > 0) {
      size_t n = left < block.size() ? left : block.size();
      block.resize(n);
      fill(block, state);
      sent_hash = fnv1a(sent_hash, block.data(), n);
      if (!platform::net::send_all(fd.get(), std::string_view(block.data(), n), -1, 30000)) {
        sent_ok = false;
        return;
      }
      left -= n;
    }
  });
  uint64_t received_hash = 0xCBF29CE484222325ull;
  size_t received = 0;
  std::vector<char> chunk(64 * 1024);
  while (received < bytes) {
    ssize_t n = ::recv(fd.get(), chunk.data(), chunk.size(), MSG_DONTWAIT);
    if (n > 0) {
      received_hash = fnv1a(received_hash, chunk.data(), static_cast<size_t>(n));
      received += static_cast<size_t>(n);
    } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      break;
    } else if (platform::net::wait_for(fd.get(), POLLIN, -1, 30000) != platform::net::Wait::ready) {
      break;
    }
  }
  ::shutdown(fd.get(), SHUT_RDWR);  // ends a sender stuck on a broken stream
  sender.join();
  return sent_ok && received == bytes && received_hash == sent_hash;
}

}  // namespace sim::tunnel::testing
