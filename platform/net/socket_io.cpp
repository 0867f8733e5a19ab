#include "platform/net/socket_io.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace platform::net {
namespace {

using Clock = std::chrono::steady_clock;

// Remaining milliseconds of a limit; -1 for none.
class Deadline {
 public:
  explicit Deadline(int timeout_ms)
      : unlimited_(timeout_ms < 0), end_(Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms)) {}
  int remaining() const {
    if (unlimited_) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
  }

 private:
  bool unlimited_;
  Clock::time_point end_;
};

void no_delay(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool set_blocking(int fd, bool blocking) {
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return ::fcntl(fd, F_SETFL, flags) == 0;
}

// The first IPv4 address of host:port.
bool resolve(const std::string& host, uint16_t port, sockaddr_in* address) {
  if (port == 0) return false;
  if (::inet_pton(AF_INET, host.c_str(), &address->sin_addr) == 1) {
    address->sin_family = AF_INET;
    address->sin_port = htons(port);
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  if (host.empty() || ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr) {
    return false;
  }
  std::memcpy(address, found->ai_addr, sizeof *address);
  ::freeaddrinfo(found);
  return true;
}

// Finishes a non-blocking connect that is in progress.
ConnectResult finish_connect(int fd, int stop_fd, int timeout_ms) {
  switch (wait_for(fd, POLLOUT, stop_fd, timeout_ms)) {
    case Wait::ready:
      break;
    case Wait::timeout:
      return ConnectResult::timed_out;
    case Wait::stopped:
      return ConnectResult::stopped;
  }
  int error = 0;
  socklen_t len = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) return ConnectResult::refused;
  return ConnectResult::ok;
}

}  // namespace

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

Wait wait_for(int fd, short events, int stop_fd, int timeout_ms) {
  pollfd p[2] = {{fd, events, 0}, {stop_fd, POLLIN, 0}};
  nfds_t n = stop_fd >= 0 ? 2 : 1;
  Deadline deadline(timeout_ms);
  for (;;) {
    int r = ::poll(p, n, deadline.remaining());
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return Wait::stopped;
    if (r == 0) return Wait::timeout;
    if (n == 2 && (p[1].revents & POLLIN)) return Wait::stopped;
    return Wait::ready;
  }
}

UniqueFd listen_loopback(uint16_t port, uint16_t* bound_port, Blocking blocking) {
  int type = SOCK_STREAM | SOCK_CLOEXEC | (blocking == Blocking::no ? SOCK_NONBLOCK : 0);
  UniqueFd fd(::socket(AF_INET, type, 0));
  if (!fd.valid()) return {};
  int one = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return {};
  if (::listen(fd.get(), 128) != 0) return {};
  if (bound_port != nullptr) *bound_port = local_port_of(fd.get());
  return fd;
}

UniqueFd accept_connection(int listener) {
  for (;;) {
    int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      no_delay(fd);
      return UniqueFd(fd);
    }
    if (errno == EINTR || errno == ECONNABORTED) continue;
    return {};
  }
}

UniqueFd connect_to(const std::string& host, uint16_t port, int stop_fd, int timeout_ms, ConnectResult* result,
                    Blocking blocking) {
  ConnectResult ignored;
  ConnectResult& outcome = result != nullptr ? *result : ignored;
  Deadline deadline(timeout_ms);
  sockaddr_in addr{};
  if (!resolve(host, port, &addr)) {
    outcome = ConnectResult::bad_address;
    return {};
  }
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    outcome = ConnectResult::refused;
    return {};
  }
  no_delay(fd.get());
  outcome = ConnectResult::ok;
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    outcome = errno == EINPROGRESS ? finish_connect(fd.get(), stop_fd, deadline.remaining()) : ConnectResult::refused;
  }
  if (outcome != ConnectResult::ok) return {};
  if (blocking == Blocking::yes && !set_blocking(fd.get(), true)) {
    outcome = ConnectResult::refused;
    return {};
  }
  return fd;
}

bool connect_socket(int fd, const sockaddr* address, socklen_t length, int timeout_ms) {
  if (!set_blocking(fd, false)) return false;
  if (::connect(fd, address, length) != 0) {
    if (errno != EINPROGRESS || finish_connect(fd, -1, timeout_ms) != ConnectResult::ok) return false;
  }
  no_delay(fd);
  return set_blocking(fd, true);
}

bool send_all(int fd, const void* data, size_t length, int stop_fd, int timeout_ms) {
  Deadline deadline(timeout_ms);
  const char* at = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t n = ::send(fd, at, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      at += n;
      length -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (wait_for(fd, POLLOUT, stop_fd, deadline.remaining()) != Wait::ready) return false;
      continue;
    }
    return false;
  }
  return true;
}

long receive_some(int fd, void* buffer, size_t capacity) {
  for (;;) {
    ssize_t n = ::recv(fd, buffer, capacity, 0);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

LineRead read_line(int fd, std::string* line, size_t max_bytes, int stop_fd, int timeout_ms) {
  Deadline deadline(timeout_ms);
  line->clear();
  char chunk[512];
  for (;;) {
    size_t room = max_bytes + 1 - line->size();  // one more than allowed, to see an over-long line
    size_t want = room < sizeof chunk ? room : sizeof chunk;
    ssize_t n = ::recv(fd, chunk, want, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0) return LineRead::closed;
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return LineRead::error;
      Wait w = wait_for(fd, POLLIN, stop_fd, deadline.remaining());
      if (w == Wait::timeout) return LineRead::timeout;
      if (w == Wait::stopped) return LineRead::stopped;
      continue;
    }
    // Consume exactly up to the newline when there is one, else everything peeked (it all belongs
    // to the line), so the next poll waits for new bytes instead of spinning.
    const char* newline = static_cast<const char*>(std::memchr(chunk, '\n', static_cast<size_t>(n)));
    size_t take = newline != nullptr ? static_cast<size_t>(newline - chunk) + 1 : static_cast<size_t>(n);
    ssize_t got = ::recv(fd, chunk, take, MSG_DONTWAIT);
    if (got != static_cast<ssize_t>(take)) return LineRead::error;
    line->append(chunk, newline != nullptr ? take - 1 : take);
    if (line->size() > max_bytes) return LineRead::too_long;
    if (newline != nullptr) return LineRead::ok;
  }
}

void shutdown_both(int fd) {
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

uint16_t local_port_of(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

bool loopback_port_in_use(uint16_t port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

}  // namespace platform::net
