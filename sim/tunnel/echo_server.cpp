#include "sim/tunnel/echo_server.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <vector>

#include "platform/net/socket_io.h"

namespace sim::tunnel {

namespace wire = t2u::wire;

EchoServer::~EchoServer() { stop(); }

bool EchoServer::start() {
  listener_ = platform::net::listen_loopback(0, &port_);
  if (!listener_.valid()) return false;
  acceptor_ = std::thread(&EchoServer::accept_loop, this);
  return true;
}

void EchoServer::stop() {
  stop_.set();
  if (acceptor_.joinable()) acceptor_.join();
  for (auto& c : connections_) {
    if (c->thread.joinable()) c->thread.join();
  }
  connections_.clear();
  listener_.reset();
}

void EchoServer::accept_loop() {
  for (;;) {
    if (platform::net::wait_for(listener_.get(), POLLIN, stop_.fd(), -1) != platform::net::Wait::ready) return;
    platform::net::UniqueFd fd = platform::net::accept_connection(listener_.get());
    if (!fd.valid()) continue;
    accepted_.fetch_add(1);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->done.load()) {
        (*it)->thread.join();
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
    auto c = std::make_unique<Connection>();
    Connection* raw = c.get();
    c->thread = std::thread([this, raw, conn = fd.release()] {
      echo(platform::net::UniqueFd(conn));
      raw->done.store(true);
    });
    connections_.push_back(std::move(c));
  }
}

void EchoServer::echo(platform::net::UniqueFd fd) {
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    ssize_t n = ::recv(fd.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (n == 0) return;
    if (n < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return;
      if (platform::net::wait_for(fd.get(), POLLIN, stop_.fd(), -1) != platform::net::Wait::ready) return;
      continue;
    }
    if (!platform::net::send_all(fd.get(), std::string_view(buffer.data(), static_cast<size_t>(n)), stop_.fd(), -1)) return;
  }
}

}  // namespace sim::tunnel
