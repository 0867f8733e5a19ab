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

// The value of the first header line that begins exactly with "Content-Length:"; 0 without
// one. Case matters: "content-length:" is not read.
long long content_length_of(const char* header) {
  const char* line = header;
  while (line != nullptr && *line != 0) {
    if (std::strncmp(line, "Content-Length:", 15) == 0) {
      long long value = 0;
      if (std::sscanf(line, "Content-Length: %lld", &value) != 1) return 0;
      return value;
    }
    const char* next = std::strstr(line, "\r\n");
    line = next != nullptr ? next + 2 : nullptr;
  }
  return 0;
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
  if (!connect_within(fd, address, address_len, s.timing.connect_timeout_ms))
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
  if (!send_all(fd, request_header, static_cast<size_t>(header_len)) ||
      (len > 0 && !send_all(fd, body, len)))
    return fail(kErrTransport, 120, "Cannot send request");

  // The reply header, into the 1024-byte buffer.
  size_t got = 0;
  s.header[0] = 0;
  int empty_slices = 0;
  int allowed = s.timing.header_first_slices;
  const char* blank_line = nullptr;
  while (blank_line == nullptr) {
    if (got >= sizeof s.header - 1) return fail(kErrTransport, 130, "Reply header too long");
    int ready = wait_readable(fd, s.timing.header_slice_ms);
    if (ready < 0) return fail(kErrTransport, 132, "Cannot wait for the reply");
    if (ready == 0) {
      if (++empty_slices >= allowed) return fail(kErrNoHeader, 134, "No reply header");
      if (s.cancelled()) return fail(kErrTransport, 135, "Session released");
      continue;
    }
    ssize_t n = receive(fd, s.header + got, sizeof s.header - 1 - got);
    if (n <= 0) return fail(kErrTransport, 138, "Cannot read the reply header");
    got += static_cast<size_t>(n);
    s.header[got] = 0;
    empty_slices = 0;
    allowed = s.timing.header_next_slices;
    blank_line = static_cast<const char*>(memmem(s.header, got, "\r\n\r\n", 4));
  }
  size_t header_end = static_cast<size_t>(blank_line - s.header) + 4;
  size_t early = got - header_end;  // body bytes that came with the header
  std::memcpy(s.body.data(), s.header + header_end, early);
  s.body[early] = 0;
  s.received = static_cast<uint32_t>(early);
  s.header[header_end] = 0;

  unsigned status = 0;
  if (std::sscanf(s.header, "HTTP/%*s%u", &status) != 1) {
    s.status = -1;
    return fail(kErrStatusLine, 152, "Cannot read the status line");
  }
  s.status = static_cast<int32_t>(status);

  long long announced = content_length_of(s.header);
  if (announced < 0 || announced > static_cast<long long>(kMaxReplyBody))
    return fail(kErrBody, 158, "Unusable Content-Length");
  s.content_length = static_cast<uint32_t>(announced);
  if (s.body.size() < s.content_length + 1) s.body.resize(s.content_length + 4);

  if (s.content_length != 0) {
    empty_slices = 0;
    while (s.received < s.content_length) {
      int ready = wait_readable(fd, s.timing.body_slice_ms);
      if (ready < 0) return fail(kErrBody, 166, "Cannot wait for the body");
      if (ready == 0) {
        if (++empty_slices >= s.timing.body_slices) break;  // keep what has arrived
        continue;
      }
      ssize_t n = receive(fd, s.body.data() + s.received, s.content_length - s.received);
      if (n <= 0) return fail(kErrBody, 172, "Body cut short");
      s.received += static_cast<uint32_t>(n);
      empty_slices = 0;
    }
    if (s.received > s.content_length) s.received = s.content_length;
    s.body[s.received] = 0;
  }
  return 0;
}

size_t body_text_length(const CloudSession& s) { return std::strlen(s.body.data()); }

}  // namespace brixa::cloud
