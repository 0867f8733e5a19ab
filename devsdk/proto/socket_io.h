// Blocking TCP helpers shared by the SDK's connections and the device simulator. Every call
// that can wait takes a time limit; a thread blocked reading a socket is woken by shutting the
// socket down from another thread (shutdown_both).
#pragma once

#include <cstddef>
#include <cstdint>

namespace proto::net {

// An owned socket descriptor, closed when destroyed.
class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() { reset(); }
  Socket(Socket&& other) noexcept : fd_(other.release()) {}
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  int fd() const { return fd_; }
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

enum class ConnectResult { ok, bad_address, refused, timed_out };

// Connects to an IPv4 address within `timeout_ms` (above 0). The socket is blocking.
Socket connect_tcp(const char* ip, uint16_t port, int timeout_ms, ConnectResult* result);

// Listens on 127.0.0.1 at `port` (0: the system chooses); `bound` receives the port.
Socket listen_loopback(uint16_t port, uint16_t* bound);

// Sends every byte before `timeout_ms` passes. False on a closed or failed socket, or when the
// peer does not take the bytes in time (the stream is then broken and must be closed).
bool send_all(int fd, const uint8_t* data, size_t length, int timeout_ms);

// Reads what is there, waiting without limit: bytes read, 0 at the end of the stream or after a
// shutdown, -1 on an error.
long receive_some(int fd, uint8_t* buffer, size_t capacity);

// Wakes a thread blocked in receive_some or accept on `fd`; the descriptor stays open.
void shutdown_both(int fd);

// Milliseconds on a monotonic clock.
int64_t monotonic_ms();

}  // namespace proto::net
