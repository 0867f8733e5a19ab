// A TCP echo server on 127.0.0.1, to stand behind a device agent in tests and demos.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <thread>

#include "platform/net/socket_io.h"
#include "t2u/wire/signal_fd.h"

namespace sim::tunnel {

// Threads: an accept thread and one thread per connection, all started by start() and joined
// by stop() (or the destructor). accepted() may be read from any thread.
class EchoServer {
 public:
  EchoServer() = default;
  ~EchoServer();
  EchoServer(const EchoServer&) = delete;
  EchoServer& operator=(const EchoServer&) = delete;

  bool start();  // on a free port
  void stop();
  uint16_t port() const { return port_; }
  uint32_t accepted() const { return accepted_.load(); }

 private:
  struct Connection {
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void accept_loop();
  void echo(platform::net::UniqueFd fd);

  platform::net::UniqueFd listener_;
  uint16_t port_ = 0;
  t2u::wire::StopSignal stop_;
  std::thread acceptor_;
  std::atomic<uint32_t> accepted_{0};
  // Touched by the accept thread, then by stop() after joining it.
  std::list<std::unique_ptr<Connection>> connections_;
};

}  // namespace sim::tunnel
