// TCP on 127.0.0.1 and the waits around it, shared by everything that opens a socket: the tunnel
// library and its service, the device SDK and the device simulator, the cloud client, the
// control's port probe and the tests.
//
// Sockets are close-on-exec; connected ones have Nagle's delay off. A wait takes a time limit in
// milliseconds (-1: none) and may take a stop descriptor (-1: none) that ends it when it becomes
// readable. A thread blocked on a blocking socket is woken by shutting the socket down from
// another thread (shutdown_both).
#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform::net {

// An owned descriptor, closed when the owner goes away.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

enum class Blocking { no, yes };

enum class Wait { ready, timeout, stopped };
// Waits until `fd` reports one of `events` (or an error or hang-up). `stopped` also when the
// wait itself fails.
Wait wait_for(int fd, short events, int stop_fd, int timeout_ms);

// A listening socket on 127.0.0.1:port (0: the system chooses); `bound_port` receives the port.
// Invalid when the port cannot be bound.
UniqueFd listen_loopback(uint16_t port, uint16_t* bound_port, Blocking blocking = Blocking::no);
// One pending connection of a non-blocking listener, itself non-blocking; invalid when none is
// waiting.
UniqueFd accept_connection(int listener);

enum class ConnectResult { ok, bad_address, refused, timed_out, stopped };
// Connects to host:port (an IPv4 address or a name; port 0 is a bad address) within the limit.
// `result`, when given, tells why it failed.
UniqueFd connect_to(const std::string& host, uint16_t port, int stop_fd, int timeout_ms,
                    ConnectResult* result = nullptr, Blocking blocking = Blocking::no);
// Connects a socket of the caller's within the limit and leaves it blocking.
bool connect_socket(int fd, const sockaddr* address, socklen_t length, int timeout_ms);

// Sends every byte before the limit passes, on blocking and non-blocking sockets alike. False on
// a closed or failed socket, a stop, or a peer that does not take the bytes in time (the stream
// is then broken and must be closed).
bool send_all(int fd, const void* data, size_t length, int stop_fd, int timeout_ms);
inline bool send_all(int fd, std::string_view data, int stop_fd, int timeout_ms) {
  return send_all(fd, data.data(), data.size(), stop_fd, timeout_ms);
}

// Reads what is there: bytes read, 0 at the end of the stream or after a shutdown, -1 on an
// error (also EAGAIN on a non-blocking socket with nothing to read).
long receive_some(int fd, void* buffer, size_t capacity);

enum class LineRead { ok, closed, timeout, stopped, too_long, error };
// Reads one line (without its '\n') and nothing after it, so the socket can be handed on.
LineRead read_line(int fd, std::string* line, size_t max_bytes, int stop_fd, int timeout_ms);

// Wakes a thread blocked in receive_some or accept on `fd`; the descriptor stays open.
void shutdown_both(int fd);

// The local port of a bound socket, or 0.
uint16_t local_port_of(int fd);

// True when something accepts connections on 127.0.0.1:port.
bool loopback_port_in_use(uint16_t port);

}  // namespace platform::net
