#include "t2u/wire/relay.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/net/socket_io.h"

namespace t2u::wire {
namespace {

// A direction starts with the system's pipe size and grows its pipe once it has been filled,
// so bulk streams move large bites per system call while interactive ones keep small pipes
// (pipe space counts against a per-user allowance).
constexpr int kGrownPipeBytes = 1 << 20;
constexpr size_t kCopyBytes = 256 * 1024;
// Rounds of work between two looks at the stop signal while data keeps flowing.
constexpr int kRoundsBetweenStopChecks = 8;

enum class Step { progress, blocked, eof, failed };

bool would_block() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

// One direction of the pump: src -> (pipe or buffer) -> dst. `readable` and `writable` say
// whether src and dst may have room to act without blocking; they are cleared when a call
// would block and set again by poll.
class Direction {
 public:
  Direction(int src, int dst, PumpMode mode) : src_(src), dst_(dst) {
    int fds[2];
    if (mode == PumpMode::splice && ::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
      pipe_r_.reset(fds[0]);
      pipe_w_.reset(fds[1]);
      read_capacity();
    } else {
      use_copy();
    }
  }

  Step fill() {
    size_t room = capacity_ - pending_;
    ssize_t n;
    if (buffer_) {
      if (start_ > 0) compact();
      n = ::recv(src_, buffer_.get() + pending_, room, MSG_DONTWAIT);
    } else {
      n = ::splice(src_, nullptr, pipe_w_.get(), nullptr, room, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
      if (n < 0 && errno == EINVAL && total_ == 0 && pending_ == 0) {
        use_copy();  // this pair of descriptors cannot splice
        return fill();
      }
    }
    if (n > 0) {
      pending_ += static_cast<size_t>(n);
      if (pending_ == capacity_) grow();
      return Step::progress;
    }
    if (n == 0) {
      src_eof_ = true;
      return Step::eof;
    }
    if (would_block()) {
      readable = false;
      return Step::blocked;
    }
    return Step::failed;
  }

  Step drain() {
    ssize_t n;
    if (buffer_) {
      n = ::send(dst_, buffer_.get() + start_, pending_, MSG_DONTWAIT | MSG_NOSIGNAL);
    } else {
      n = ::splice(pipe_r_.get(), nullptr, dst_, nullptr, pending_, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    }
    if (n > 0) {
      pending_ -= static_cast<size_t>(n);
      total_ += static_cast<uint64_t>(n);
      start_ = pending_ == 0 ? 0 : start_ + static_cast<size_t>(n);
      return Step::progress;
    }
    if (n < 0 && would_block()) {
      writable = false;
      return Step::blocked;
    }
    return Step::failed;
  }

  // Moves bytes until both ends would block or `budget` moves were made. False on failure.
  bool work(int budget, bool* progress) {
    for (int i = 0; i < budget; ++i) {
      bool moved = false;
      if (readable && wants_read()) {
        Step s = fill();
        if (s == Step::failed) return false;
        moved = s == Step::progress || s == Step::eof;
      }
      if (writable && wants_write()) {
        Step s = drain();
        if (s == Step::failed) return false;
        moved = moved || s == Step::progress;
      }
      if (!moved) break;
      *progress = true;
    }
    // Pass the end of the stream on once everything before it is delivered.
    if (src_eof_ && pending_ == 0 && !finished_) {
      ::shutdown(dst_, SHUT_WR);
      finished_ = true;
    }
    return true;
  }

  bool wants_read() const { return !src_eof_ && pending_ < capacity_; }
  bool wants_write() const { return pending_ > 0; }
  // True when work() could move something right now.
  bool ready() const { return (readable && wants_read()) || (writable && wants_write()); }
  bool finished() const { return finished_; }
  uint64_t total() const { return total_; }

  bool readable = true;
  bool writable = true;

 private:
  void read_capacity() {
    int size = ::fcntl(pipe_w_.get(), F_GETPIPE_SZ);
    capacity_ = size > 0 ? static_cast<size_t>(size) : 65536;
  }
  void grow() {
    if (grown_ || buffer_) return;
    grown_ = true;
    if (::fcntl(pipe_w_.get(), F_SETPIPE_SZ, kGrownPipeBytes) > 0) read_capacity();
  }
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
  platform::net::UniqueFd pipe_r_;
  platform::net::UniqueFd pipe_w_;
  std::unique_ptr<char[]> buffer_;  // copy mode only
  size_t start_ = 0;                // copy mode: first pending byte in buffer_
  size_t capacity_ = 0;
  size_t pending_ = 0;              // bytes taken from src_ not yet given to dst_
  uint64_t total_ = 0;              // bytes delivered to dst_
  bool grown_ = false;
  bool src_eof_ = false;
  bool finished_ = false;
};

// splice() into a socket whose peer has gone raises SIGPIPE, which would end the process, and
// unlike send() it takes no flag against it. The pumping thread keeps SIGPIPE blocked while it
// pumps; a SIGPIPE raised meanwhile stays pending on this thread and is taken off before the
// thread's own mask comes back.
class SigpipeBlocked {
 public:
  SigpipeBlocked() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~SigpipeBlocked() {
    if (!was_pending_) {
      sigset_t pending;
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE) == 1) {
        const timespec now{0, 0};
        while (sigtimedwait(&pipe_, nullptr, &now) == -1 && errno == EINTR) {
        }
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  SigpipeBlocked(const SigpipeBlocked&) = delete;
  SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;

 private:
  sigset_t pipe_;
  sigset_t old_;
  bool was_pending_ = false;
};

}  // namespace

PumpResult pump(int a, int b, int stop_fd, PumpMode mode) {
  SigpipeBlocked no_sigpipe;
  Direction forward(a, b, mode);
  Direction backward(b, a, mode);
  PumpResult result;
  int busy_rounds = 0;
  // A socket that reported a hang-up stays "ready" to poll for ever; it is left out of later
  // polls. Its remaining bytes are still read: its direction stays marked readable.
  bool hung_a = false;
  bool hung_b = false;

  while (!(forward.finished() && backward.finished())) {
    bool progress = false;
    if (!forward.work(16, &progress) || !backward.work(16, &progress)) {
      result.failed = true;
      break;
    }
    if (forward.finished() && backward.finished()) break;
    bool more = forward.ready() || backward.ready();
    if (more && ++busy_rounds < kRoundsBetweenStopChecks) continue;
    busy_rounds = 0;

    // Wait for what would let a blocked end move again (and, while busy, only look).
    short events_a = static_cast<short>((forward.wants_read() && !forward.readable ? POLLIN : 0) |
                                        (backward.wants_write() && !backward.writable ? POLLOUT : 0));
    short events_b = static_cast<short>((backward.wants_read() && !backward.readable ? POLLIN : 0) |
                                        (forward.wants_write() && !forward.writable ? POLLOUT : 0));
    pollfd p[3] = {{hung_a ? -1 : a, events_a, 0}, {hung_b ? -1 : b, events_b, 0}, {stop_fd, POLLIN, 0}};
    nfds_t n = stop_fd >= 0 ? 3 : 2;
    int r = ::poll(p, n, more ? 0 : -1);
    if (r < 0 && errno != EINTR) {
      result.failed = true;
      break;
    }
    if (n == 3 && (p[2].revents & POLLIN)) {
      result.stopped = true;
      break;
    }
    // An error or hang-up lets the next call report it (or read the last bytes and the end).
    short ra = p[0].revents;
    short rb = p[1].revents;
    if (ra & (POLLIN | POLLHUP | POLLERR)) forward.readable = true;
    if (ra & (POLLOUT | POLLHUP | POLLERR)) backward.writable = true;
    if (rb & (POLLIN | POLLHUP | POLLERR)) backward.readable = true;
    if (rb & (POLLOUT | POLLHUP | POLLERR)) forward.writable = true;
    if ((ra & (POLLHUP | POLLERR)) == POLLHUP) hung_a = true;
    if ((rb & (POLLHUP | POLLERR)) == POLLHUP) hung_b = true;
  }
  result.a_to_b = forward.total();
  result.b_to_a = backward.total();
  return result;
}

}  // namespace t2u::wire
