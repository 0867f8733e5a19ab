// A connection that carries text lines both ways after its opening exchange: the control
// connections of clients and agents with the tunnel service.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/net/socket_io.h"
#include "t2u/wire/signal_fd.h"

namespace t2u::wire {

// The lines in a stream of bytes: pieces go in as they arrive, whole lines come out. One thread.
class LineSplitter {
 public:
  enum class Result { more, refused, too_long };
  // Adds `piece` and hands each line it completes (without its '\n') to `on_line`, stopping at
  // the first line `on_line` refuses. A line longer than kMaxLine, complete or not, ends the
  // stream: too_long.
  Result feed(std::string_view piece, const std::function<bool(std::string_view line)>& on_line);

 private:
  std::string pending_;  // the start of a line whose end has not arrived
};

// run() belongs to one thread (the channel's owner); post() and close() may be called from any
// thread while run() is going on or before it starts.
class LineChannel {
 public:
  enum class End { closed, stopped, failed };

  explicit LineChannel(platform::net::UniqueFd fd);
  LineChannel(const LineChannel&) = delete;
  LineChannel& operator=(const LineChannel&) = delete;

  // Reads lines and hands each to `on_line` (without its '\n') until the peer closes, close()
  // is called, `stop_fd` fires, a line is too long (failed) or `on_line` returns false. Sends posted lines
  // in between.
  End run(const std::function<bool(std::string_view line)>& on_line, int stop_fd);

  // Queues one line ('\n' is added) for run() to send. A peer that stops reading while more
  // than a megabyte waits for it is dropped.
  void post(std::string_view line);
  // Makes run() return soon; later posts are ignored.
  void close();

 private:
  bool flush();  // run() thread; false on a socket error

  platform::net::UniqueFd fd_;
  Wakeup wake_;
  std::atomic<bool> closing_{false};
  std::mutex outbox_lock_;
  std::string outbox_;          // guarded by outbox_lock_
  bool outbox_overflow_ = false;  // guarded by outbox_lock_
  LineSplitter inbox_;          // run() thread only
};

}  // namespace t2u::wire
