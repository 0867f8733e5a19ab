#include "brixa/cloud/http_exchange.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "brixa/cloud/reply_reader.h"
#include "trace/trace.h"

namespace brixa::cloud {
namespace {

constexpr const char* kTraceName = "http_post";

// Closes the session's socket when the exchange ends, whichever way it ends.
class SocketCloser {
 public:
  explicit SocketCloser(CloudSession& session) : session_(session) {}
  ~SocketCloser() {
    if (session_.socket >= 0) ::close(session_.socket);
    session_.socket = -1;
  }
  SocketCloser(const SocketCloser&) = delete;
  SocketCloser& operator=(const SocketCloser&) = delete;

 private:
  CloudSession& session_;
};

int32_t fail(int32_t code, int line, const char* message) {
  trace::error(kTraceName, line, message);
  return code;
}

// The first IPv4 address of the host: the socket is an IPv4 one, so an IPv6 address listed
// first (as "localhost" often resolves) is passed over.
bool resolve(const char* host, uint16_t port, sockaddr_storage& address, socklen_t& length) {
  char service[8];
  std::snprintf(service, sizeof service, "%u", static_cast<unsigned>(port));
  addrinfo hints{};
  hints.ai_flags = AI_CANONNAME;
  hints.ai_family = AF_UNSPEC;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, service, &hints, &found) != 0) {
    found = nullptr;
    hints = addrinfo{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    if (getaddrinfo(host, service, &hints, &found) != 0) return false;
  }
  bool ok = false;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET && a->ai_addrlen <= sizeof address) {
      std::memcpy(&address, a->ai_addr, a->ai_addrlen);
      length = a->ai_addrlen;
      ok = true;
      break;
    }
  }
  freeaddrinfo(found);
  return ok;
}

bool set_blocking(int fd, bool blocking) {
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return fcntl(fd, F_SETFL, flags) == 0;
}

bool connect_within(int fd, const sockaddr_storage& address, socklen_t length, int timeout_ms) {
  if (!set_blocking(fd, false)) return false;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    if (errno != EINPROGRESS) return false;
    pollfd p{fd, POLLOUT, 0};
    int r;
    do {
      r = ::poll(&p, 1, timeout_ms);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) return false;
    int pending = 0;
    socklen_t size = sizeof pending;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &size) != 0 || pending != 0) return false;
  }
  return set_blocking(fd, true);
}

bool send_all(int fd, const char* data, size_t len) {
  while (len > 0) {
    ssize_t n = ::send(fd, data, len, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

// Waits up to `ms` for bytes to read: 1 ready, 0 time-out, -1 error.
int wait_readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  int r;
  do {
    r = ::poll(&p, 1, ms);
  } while (r < 0 && errno == EINTR);
  return r < 0 ? -1 : (r == 0 ? 0 : 1);
}

ssize_t receive(int fd, char* into, size_t len) {
  ssize_t n;
  do {
    n = ::recv(fd, into, len, 0);
  } while (n < 0 && errno == EINTR);
  return n;
}

}  // namespace

int32_t exchange(CloudSession& s, const char* body, size_t len) {
  SocketCloser closer(s);
  s.content_length = 0;
  s.received = 0;
  s.body[0] = 0;

  s.socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (s.socket < 0) return fail(kErrTransport, 101, "Cannot create socket");

  sockaddr_storage address{};
  socklen_t address_len = 0;
  if (!resolve(s.host, s.port, address, address_len)) return fail(kErrTransport, 105, "Cannot resolve host");
  if (!connect_within(s.socket, address, address_len, s.timing.connect_timeout_ms))
    return fail(kErrTransport, 108, "Cannot connect");

  char request_header[512];
  int header_len = std::snprintf(request_header, sizeof request_header,
                                 "POST %s HTTP/1.1\r\nHost: %s\r\n"
                                 "Content-Type: application/json;charset=utf-8\r\n"
                                 "Content-Length:%d\r\n\r\n",
                                 s.path, s.host, static_cast<int>(len));
  if (header_len < 0 || static_cast<size_t>(header_len) >= sizeof request_header)
    return fail(kErrTransport, 117, "Request header too long");
  if (!send_all(s.socket, request_header, static_cast<size_t>(header_len)) ||
      (len > 0 && !send_all(s.socket, body, len)))
    return fail(kErrTransport, 120, "Cannot send request");

  // The reply header, into the 1024-byte buffer: a first answer may take long, each further
  // piece of the header has its own allowance.
  ReplyReader reply(s);
  int empty_slices = 0;
  int allowed = s.timing.header_first_slices;
  while (reply.in_header()) {
    if (reply.header_full()) return fail(kErrTransport, 130, "Reply header too long");
    int ready = wait_readable(s.socket, s.timing.header_slice_ms);
    if (ready < 0) return fail(kErrTransport, 132, "Cannot wait for the reply");
    if (ready == 0) {
      if (++empty_slices >= allowed) return fail(kErrNoHeader, 134, "No reply header");
      continue;
    }
    ssize_t n = receive(s.socket, reply.space(), reply.room());
    if (n <= 0) return fail(kErrTransport, 138, "Cannot read the reply header");
    empty_slices = 0;
    allowed = s.timing.header_next_slices;
    if (int32_t rc = reply.take(static_cast<size_t>(n)); rc != 0) return rc;
  }

  // The body: a peer that falls silent for long ends it, and what has arrived is kept.
  empty_slices = 0;
  while (!reply.body_complete()) {
    int ready = wait_readable(s.socket, s.timing.body_slice_ms);
    if (ready < 0) return fail(kErrBody, 166, "Cannot wait for the body");
    if (ready == 0) {
      if (++empty_slices >= s.timing.body_slices) break;
      continue;
    }
    ssize_t n = receive(s.socket, reply.space(), reply.room());
    if (n <= 0) return fail(kErrBody, 172, "Body cut short");
    reply.take(static_cast<size_t>(n));
    empty_slices = 0;
  }
  reply.finish();
  return 0;
}

size_t body_text_length(const CloudSession& s) { return std::strlen(s.body.data()); }

}  // namespace brixa::cloud
