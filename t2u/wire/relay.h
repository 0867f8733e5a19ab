// The byte pump every hop of a tunnel runs: copies a TCP stream both ways between two sockets.
#pragma once

#include <cstdint>

namespace t2u::wire {

struct PumpResult {
  uint64_t a_to_b = 0;
  uint64_t b_to_a = 0;
  bool stopped = false;  // the stop signal ended it
  bool failed = false;   // a socket error (reset, broken pipe) ended it
};

// splice: through kernel pipes, falling back to copy where splice is refused. copy: through a
// user-space buffer (kept selectable so both paths are tested).
enum class PumpMode { splice, copy };

// Relays bytes between the non-blocking sockets `a` and `b` until both directions have ended,
// a socket fails, or `stop_fd` (-1 for none) becomes readable. The end of one direction is
// passed on as a half-close. Bytes move through kernel pipes with splice(), so they are not
// copied through user space; where splice is refused it copies through a buffer instead.
// The caller keeps ownership of both sockets.
PumpResult pump(int a, int b, int stop_fd, PumpMode mode = PumpMode::splice);

}  // namespace t2u::wire
