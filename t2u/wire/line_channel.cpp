#include "t2u/wire/line_channel.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "t2u/wire/protocol.h"

namespace t2u::wire {
namespace {
constexpr size_t kMaxOutbox = 1 << 20;
}

LineSplitter::Result LineSplitter::feed(std::string_view piece,
                                        const std::function<bool(std::string_view)>& on_line) {
  pending_.append(piece);
  size_t start = 0;
  for (;;) {
    size_t newline = pending_.find('\n', start);
    if (newline == std::string::npos) break;
    if (newline - start > kMaxLine) return Result::too_long;
    if (!on_line(std::string_view(pending_.data() + start, newline - start))) return Result::refused;
    start = newline + 1;
  }
  pending_.erase(0, start);
  return pending_.size() > kMaxLine ? Result::too_long : Result::more;
}

LineChannel::LineChannel(platform::net::UniqueFd fd) : fd_(std::move(fd)) {}

void LineChannel::post(std::string_view line) {
  if (closing_.load()) return;
  {
    std::lock_guard<std::mutex> hold(outbox_lock_);
    if (outbox_.size() + line.size() + 1 > kMaxOutbox) {
      outbox_overflow_ = true;
    } else {
      outbox_.append(line);
      outbox_.push_back('\n');
    }
  }
  wake_.notify();
}

void LineChannel::close() {
  closing_.store(true);
  wake_.notify();
}

bool LineChannel::flush() {
  std::lock_guard<std::mutex> hold(outbox_lock_);
  if (outbox_overflow_) return false;
  while (!outbox_.empty()) {
    ssize_t n = ::send(fd_.get(), outbox_.data(), outbox_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      outbox_.erase(0, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
  return true;
}

LineChannel::End LineChannel::run(const std::function<bool(std::string_view)>& on_line, int stop_fd) {
  char chunk[4096];
  for (;;) {
    if (closing_.load()) return End::stopped;
    if (!flush()) return End::failed;
    bool want_out;
    {
      std::lock_guard<std::mutex> hold(outbox_lock_);
      want_out = !outbox_.empty();
    }
    pollfd p[3] = {{fd_.get(), static_cast<short>(POLLIN | (want_out ? POLLOUT : 0)), 0},
                   {wake_.fd(), POLLIN, 0},
                   {stop_fd, POLLIN, 0}};
    int r = ::poll(p, stop_fd >= 0 ? 3 : 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      return End::failed;
    }
    if (stop_fd >= 0 && (p[2].revents & POLLIN)) return End::stopped;
    if (p[1].revents & POLLIN) wake_.clear();
    if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t n = ::recv(fd_.get(), chunk, sizeof chunk, MSG_DONTWAIT);
      if (n == 0) return End::closed;
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
        return End::failed;
      }
      switch (inbox_.feed(std::string_view(chunk, static_cast<size_t>(n)), on_line)) {
        case LineSplitter::Result::more:
          break;
        case LineSplitter::Result::refused:
          return End::stopped;
        case LineSplitter::Result::too_long:
          return End::failed;
      }
    }
  }
}

}  // namespace t2u::wire
