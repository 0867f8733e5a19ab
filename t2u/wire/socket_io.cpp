#include "t2u/wire/socket_io.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace t2u::wire {
namespace {

using Clock = std::chrono::steady_clock;

// Remaining milliseconds of a deadline; -1 for none.
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

void tune(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace

Wait wait_for(int fd, short events, int stop_fd, int timeout_ms) {
  pollfd p[2] = {{fd, events, 0}, {stop_fd, POLLIN, 0}};
  nfds_t n = stop_fd >= 0 ? 2 : 1;
  for (;;) {
    int r = ::poll(p, n, timeout_ms);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return Wait::stopped;
    if (r == 0) return Wait::timeout;
    if (n == 2 && (p[1].revents & POLLIN)) return Wait::stopped;
    return Wait::ready;
  }
}

UniqueFd listen_loopback(uint16_t port, uint16_t* bound_port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
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
      tune(fd);
      return UniqueFd(fd);
    }
    if (errno == EINTR || errno == ECONNABORTED) continue;
    return {};
  }
}

UniqueFd connect_to(const std::string& host, uint16_t port, int stop_fd, int timeout_ms) {
  Deadline deadline(timeout_ms);
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr) return {};
  sockaddr_in addr{};
  std::memcpy(&addr, found->ai_addr, sizeof addr);
  ::freeaddrinfo(found);

  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return {};
  tune(fd.get());
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
  if (errno != EINPROGRESS) return {};
  if (wait_for(fd.get(), POLLOUT, stop_fd, deadline.remaining()) != Wait::ready) return {};
  int error = 0;
  socklen_t len = sizeof error;
  if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) return {};
  return fd;
}

bool send_all(int fd, std::string_view data, int stop_fd, int timeout_ms) {
  Deadline deadline(timeout_ms);
  while (!data.empty()) {
    ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      data.remove_prefix(static_cast<size_t>(n));
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

uint16_t local_port_of(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

}  // namespace t2u::wire
