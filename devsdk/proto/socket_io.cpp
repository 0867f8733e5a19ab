#include "devsdk/proto/socket_io.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace proto::net {

void Socket::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

int64_t monotonic_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

Socket connect_tcp(const char* ip, uint16_t port, int timeout_ms, ConnectResult* result) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (ip == nullptr || inet_pton(AF_INET, ip, &addr.sin_addr) != 1 || port == 0) {
    *result = ConnectResult::bad_address;
    return Socket();
  }
  Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!s.valid()) {
    *result = ConnectResult::refused;
    return Socket();
  }
  int rc = ::connect(s.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  if (rc != 0 && errno != EINPROGRESS) {
    *result = ConnectResult::refused;
    return Socket();
  }
  if (rc != 0) {
    int64_t deadline = monotonic_ms() + (timeout_ms > 0 ? timeout_ms : 1);
    for (;;) {
      pollfd p{s.fd(), POLLOUT, 0};
      int64_t left = deadline - monotonic_ms();
      if (left <= 0) {
        *result = ConnectResult::timed_out;
        return Socket();
      }
      int n = ::poll(&p, 1, static_cast<int>(left));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        *result = n == 0 ? ConnectResult::timed_out : ConnectResult::refused;
        return Socket();
      }
      break;
    }
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(s.fd(), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
      *result = ConnectResult::refused;
      return Socket();
    }
  }
  int flags = ::fcntl(s.fd(), F_GETFL);
  ::fcntl(s.fd(), F_SETFL, flags & ~O_NONBLOCK);
  int one = 1;
  ::setsockopt(s.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  *result = ConnectResult::ok;
  return s;
}

Socket listen_loopback(uint16_t port, uint16_t* bound) {
  Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!s.valid()) return Socket();
  int one = 1;
  ::setsockopt(s.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(s.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return Socket();
  if (::listen(s.fd(), 64) != 0) return Socket();
  socklen_t len = sizeof addr;
  if (::getsockname(s.fd(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return Socket();
  if (bound != nullptr) *bound = ntohs(addr.sin_port);
  return s;
}

bool send_all(int fd, const uint8_t* data, size_t length, int timeout_ms) {
  int64_t deadline = monotonic_ms() + (timeout_ms > 0 ? timeout_ms : 1);
  size_t sent = 0;
  while (sent < length) {
    ssize_t n = ::send(fd, data + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      int64_t left = deadline - monotonic_ms();
      if (left <= 0) return false;
      pollfd p{fd, POLLOUT, 0};
      int r = ::poll(&p, 1, static_cast<int>(left));
      if (r < 0 && errno != EINTR) return false;
      if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return false;
      continue;
    }
    return false;
  }
  return true;
}

long receive_some(int fd, uint8_t* buffer, size_t capacity) {
  for (;;) {
    ssize_t n = ::recv(fd, buffer, capacity, 0);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

void shutdown_both(int fd) {
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

}  // namespace proto::net
