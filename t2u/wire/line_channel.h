// A connection that carries text lines both ways after its opening exchange: the control
// connections of clients and agents with the tunnel service.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "t2u/wire/signal_fd.h"
#include "t2u/wire/unique_fd.h"

namespace t2u::wire {

// run() belongs to one thread (the channel's owner); post() and close() may be called from any
// thread while run() is going on or before it starts.
class LineChannel {
 public:
  enum class End { closed, stopped, failed };

  explicit LineChannel(UniqueFd fd);
  LineChannel(const LineChannel&) = delete;
  LineChannel& operator=(const LineChannel&) = delete;

  // Reads lines and hands each to `on_line` (without its '\n') until the peer closes, close()
  // is called, `stop_fd` fires, a line is too long or `on_line` returns false. Sends posted lines
  // in between.
  End run(const std::function<bool(std::string_view line)>& on_line, int stop_fd);

  // Queues one line ('\n' is added) for run() to send. A peer that stops reading while more
  // than a megabyte waits for it is dropped.
  void post(std::string_view line);
  // Makes run() return soon; later posts are ignored.
  void close();

 private:
  bool flush();  // run() thread; false on a socket error

  UniqueFd fd_;
  Wakeup wake_;
  std::atomic<bool> closing_{false};
  std::mutex outbox_lock_;
  std::string outbox_;          // guarded by outbox_lock_
  bool outbox_overflow_ = false;  // guarded by outbox_lock_
  std::string inbox_;           // run() thread only
};

}  // namespace t2u::wire
