#include "t2u/wire/signal_fd.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <cstdint>
#include <stdexcept>

namespace t2u::wire {
namespace {

platform::net::UniqueFd make_eventfd() {
  int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) throw std::runtime_error("eventfd failed");
  return platform::net::UniqueFd(fd);
}

void bump(int fd) {
  uint64_t one = 1;
  // A full counter (2^64 - 2 notifications) is still readable, so a failed write loses nothing.
  [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

}  // namespace

StopSignal::StopSignal() : fd_(make_eventfd()) {}

void StopSignal::set() {
  set_.store(true, std::memory_order_release);
  bump(fd_.get());
}

bool StopSignal::sleep_ms(int ms) const {
  if (is_set()) return false;
  pollfd p{fd_.get(), POLLIN, 0};
  ::poll(&p, 1, ms);
  return !is_set();
}

Wakeup::Wakeup() : fd_(make_eventfd()) {}

void Wakeup::notify() { bump(fd_.get()); }

void Wakeup::clear() {
  uint64_t value;
  [[maybe_unused]] ssize_t n = ::read(fd_.get(), &value, sizeof value);
}

}  // namespace t2u::wire
