#include "t2u/wire/relay.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "t2u/wire/unique_fd.h"

namespace t2u::wire {
namespace {

// Large enough that one splice moves many segments; small enough that a tunnel with many
// streams stays well inside the per-user pipe allowance.
constexpr int kPipeBytes = 256 * 1024;
constexpr size_t kCopyBytes = 128 * 1024;

enum class Step { progress, idle, eof, failed };

// One direction of the pump: src -> (pipe or buffer) -> dst.
class Direction {
 public:
  Direction(int src, int dst, PumpMode mode) : src_(src), dst_(dst) {
    int fds[2];
    if (mode == PumpMode::splice && ::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
      pipe_r_.reset(fds[0]);
      pipe_w_.reset(fds[1]);
      ::fcntl(pipe_w_.get(), F_SETPIPE_SZ, kPipeBytes);
      int size = ::fcntl(pipe_w_.get(), F_GETPIPE_SZ);
      capacity_ = size > 0 ? static_cast<size_t>(size) : 65536;
    } else {
      use_copy();
    }
  }

  // Moves what it can without blocking: into the pipe, then out of it.
  Step fill() {
    if (src_eof_ || pending_ >= capacity_) return Step::idle;
    size_t room = capacity_ - pending_;
    ssize_t n;
    if (buffer_) {
      // Copy mode keeps the buffered bytes contiguous from `start_`.
      if (start_ > 0 && start_ + pending_ == kCopyBytes) compact();
      n = ::recv(src_, buffer_.get() + start_ + pending_, kCopyBytes - start_ - pending_, MSG_DONTWAIT);
    } else {
      n = ::splice(src_, nullptr, pipe_w_.get(), nullptr, room, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
      if (n < 0 && errno == EINVAL && total_ == 0 && pending_ == 0) {
        use_copy();
        return fill();
      }
    }
    if (n > 0) {
      pending_ += static_cast<size_t>(n);
      return Step::progress;
    }
    if (n == 0) {
      src_eof_ = true;
      return Step::eof;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return Step::idle;
    return Step::failed;
  }

  Step drain() {
    if (pending_ == 0) return Step::idle;
    ssize_t n;
    if (buffer_) {
      n = ::send(dst_, buffer_.get() + start_, pending_, MSG_DONTWAIT | MSG_NOSIGNAL);
    } else {
      n = ::splice(pipe_r_.get(), nullptr, dst_, nullptr, pending_, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    }
    if (n > 0) {
      pending_ -= static_cast<size_t>(n);
      total_ += static_cast<uint64_t>(n);
      if (buffer_) start_ = pending_ == 0 ? 0 : start_ + static_cast<size_t>(n);
      return Step::progress;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return Step::idle;
    return Step::failed;
  }

  // Passes the end of the stream on once everything before it is delivered.
  void finish_if_drained() {
    if (src_eof_ && pending_ == 0 && !finished_) {
      ::shutdown(dst_, SHUT_WR);
      finished_ = true;
    }
  }

  bool wants_read() const { return !src_eof_ && pending_ < capacity_; }
  bool wants_write() const { return pending_ > 0; }
  bool finished() const { return finished_; }
  uint64_t total() const { return total_; }

 private:
  void use_copy() {
    pipe_r_.reset();
    pipe_w_.reset();
    buffer_ = std::make_unique<char[]>(kCopyBytes);
    capacity_ = kCopyBytes;
  }
  void compact() {
    for (size_t i = 0; i < pending_; ++i) buffer_[i] = buffer_[start_ + i];
    start_ = 0;
  }

  int src_;
  int dst_;
  UniqueFd pipe_r_;
  UniqueFd pipe_w_;
  std::unique_ptr<char[]> buffer_;  // copy mode only
  size_t start_ = 0;                // copy mode: first pending byte in buffer_
  size_t capacity_ = 0;
  size_t pending_ = 0;              // bytes taken from src_ not yet given to dst_
  uint64_t total_ = 0;              // bytes delivered to dst_
  bool src_eof_ = false;
  bool finished_ = false;
};

}  // namespace

PumpResult pump(int a, int b, int stop_fd, PumpMode mode) {
  Direction forward(a, b, mode);
  Direction backward(b, a, mode);
  PumpResult result;
  int busy_rounds = 0;
  // A socket that reported a hang-up stays readable to poll for ever; it is left out of later
  // polls (its remaining bytes are still read, since every round tries every direction).
  bool hung_a = false;
  bool hung_b = false;

  while (!(forward.finished() && backward.finished())) {
    bool progress = false;
    for (Direction* d : {&forward, &backward}) {
      // Fill and drain alternately until the direction stalls, so a busy stream moves in
      // pipe-sized bites without a poll between them.
      for (int i = 0; i < 4; ++i) {
        Step in = d->fill();
        Step out = d->drain();
        if (in == Step::failed || out == Step::failed) {
          result.failed = true;
          goto done;
        }
        if (in == Step::progress || out == Step::progress || in == Step::eof) {
          progress = true;
        } else {
          break;
        }
      }
      d->finish_if_drained();
    }

    if (progress && ++busy_rounds < 16) continue;
    busy_rounds = 0;

    pollfd p[3] = {
        {hung_a ? -1 : a, static_cast<short>((forward.wants_read() ? POLLIN : 0) | (backward.wants_write() ? POLLOUT : 0)), 0},
        {hung_b ? -1 : b, static_cast<short>((backward.wants_read() ? POLLIN : 0) | (forward.wants_write() ? POLLOUT : 0)), 0},
        {stop_fd, POLLIN, 0},
    };
    nfds_t n = stop_fd >= 0 ? 3 : 2;
    int r = ::poll(p, n, progress ? 0 : -1);
    if (r < 0 && errno != EINTR) {
      result.failed = true;
      break;
    }
    if (n == 3 && (p[2].revents & POLLIN)) {
      result.stopped = true;
      break;
    }
    if ((p[0].revents & (POLLHUP | POLLERR)) == POLLHUP) hung_a = true;
    if ((p[1].revents & (POLLHUP | POLLERR)) == POLLHUP) hung_b = true;
  }
done:
  result.a_to_b = forward.total();
  result.b_to_a = backward.total();
  return result;
}

}  // namespace t2u::wire
