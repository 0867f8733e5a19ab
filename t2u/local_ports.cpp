#include "t2u/local_ports.h"

#include "platform/net/socket_io.h"

namespace t2u {

int LocalPorts::set_range(int first, int last) {
  std::lock_guard<std::mutex> hold(lock_);
  if (first == 0 && last == 0) {
    first_ = last_ = 0;
    return 0;
  }
  if (first < 1 || last > 65535 || first > last) return -1;
  first_ = static_cast<uint16_t>(first);
  last_ = static_cast<uint16_t>(last);
  cursor_ = 0;
  return 0;
}

platform::net::UniqueFd LocalPorts::listen(uint16_t requested, uint16_t* bound) {
  if (requested != 0) return platform::net::listen_loopback(requested, bound);
  std::lock_guard<std::mutex> hold(lock_);
  if (first_ == 0) return platform::net::listen_loopback(0, bound);
  // Round robin through the range, so a port just given up is not handed out again at once.
  uint32_t count = static_cast<uint32_t>(last_ - first_) + 1;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t slot = (cursor_ + i) % count;
    auto port = static_cast<uint16_t>(first_ + slot);
    platform::net::UniqueFd fd = platform::net::listen_loopback(port, bound);
    if (fd.valid()) {
      cursor_ = (slot + 1) % count;
      return fd;
    }
  }
  return {};
}

}  // namespace t2u
