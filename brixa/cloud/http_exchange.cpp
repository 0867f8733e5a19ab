#include "brixa/cloud/http_exchange.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "brixa/cloud/reply_reader.h"
#include "platform/net/socket_io.h"
#include "trace/trace.h"

namespace brixa::cloud {
namespace {

constexpr const char* kTraceName = "http_post";

// Closes the session's socket when the exchange ends, whichever way it ends.
class SocketCloser {
 public:
  explicit SocketCloser(CloudSession& session) : session_(session) {}
  ~SocketCloser() { session_.close_socket(); }
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

// Waits up to `ms` for bytes to read: 1 ready, 0 time-out, -1 error.
int wait_readable(int fd, int ms) {
  switch (platform::net::wait_for(fd, POLLIN, -1, ms)) {
    case platform::net::Wait::ready:
      return 1;
    case platform::net::Wait::timeout:
      return 0;
    case platform::net::Wait::stopped:
      break;
  }
  return -1;
}

}  // namespace

int32_t exchange(CloudSession& s, const char* body, size_t len) {
  SocketCloser closer(s);
  s.content_length = 0;
  s.received = 0;
  s.body[0] = 0;

  if (s.cancelled()) return fail(kErrTransport, 99, "Session released");
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return fail(kErrTransport, 101, "Cannot create socket");
  if (!s.adopt_socket(fd)) return fail(kErrTransport, 103, "Session released");

  sockaddr_storage address{};
  socklen_t address_len = 0;
  if (!resolve(s.host, s.port, address, address_len)) return fail(kErrTransport, 105, "Cannot resolve host");
  if (!platform::net::connect_socket(fd, reinterpret_cast<const sockaddr*>(&address), address_len,
                                     s.timing.connect_timeout_ms))
    return fail(kErrTransport, 108, "Cannot connect");
  // A cancel while the socket was still connecting could not shut it down.
  if (s.cancelled()) return fail(kErrTransport, 110, "Session released");

  char request_header[512];
  int header_len = std::snprintf(request_header, sizeof request_header,
                                 "POST %s HTTP/1.1\r\nHost: %s\r\n"
                                 "Content-Type: application/json;charset=utf-8\r\n"
                                 "Content-Length:%d\r\n\r\n",
                                 s.path, s.host, static_cast<int>(len));
  if (header_len < 0 || static_cast<size_t>(header_len) >= sizeof request_header)
    return fail(kErrTransport, 117, "Request header too long");
  if (!platform::net::send_all(fd, request_header, static_cast<size_t>(header_len), -1, -1) ||
      (len > 0 && !platform::net::send_all(fd, body, len, -1, -1)))
    return fail(kErrTransport, 120, "Cannot send request");

  // The reply header, into the 1024-byte buffer: a first answer may take long, each further
  // piece of the header has its own allowance.
  ReplyReader reply(s);
  int empty_slices = 0;
  int allowed = s.timing.header_first_slices;
  while (reply.in_header()) {
    if (reply.header_full()) return fail(kErrTransport, 130, "Reply header too long");
    int ready = wait_readable(fd, s.timing.header_slice_ms);
    if (ready < 0) return fail(kErrTransport, 132, "Cannot wait for the reply");
    if (ready == 0) {
      if (++empty_slices >= allowed) return fail(kErrNoHeader, 134, "No reply header");
      if (s.cancelled()) return fail(kErrTransport, 135, "Session released");
      continue;
    }
    long n = platform::net::receive_some(fd, reply.space(), reply.room());
    if (n <= 0) return fail(kErrTransport, 138, "Cannot read the reply header");
    empty_slices = 0;
    allowed = s.timing.header_next_slices;
    if (int32_t rc = reply.take(static_cast<size_t>(n)); rc != 0) return rc;
  }

  // The body: a peer that falls silent for long ends it, and what has arrived is kept.
  empty_slices = 0;
  while (!reply.body_complete()) {
    int ready = wait_readable(fd, s.timing.body_slice_ms);
    if (ready < 0) return fail(kErrBody, 166, "Cannot wait for the body");
    if (ready == 0) {
      if (++empty_slices >= s.timing.body_slices) break;
      continue;
    }
    long n = platform::net::receive_some(fd, reply.space(), reply.room());
    if (n <= 0) return fail(kErrBody, 172, "Body cut short");
    reply.take(static_cast<size_t>(n));
    empty_slices = 0;
  }
  reply.finish();
  return 0;
}

size_t body_text_length(const CloudSession& s) { return std::strlen(s.body.data()); }

}  // namespace brixa::cloud
