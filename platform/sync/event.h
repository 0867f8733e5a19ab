// Manual-reset and auto-reset events with timed waits.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/sync/wait.h"

namespace platform {

// A signalled/not-signalled flag threads can wait on. A manual-reset event stays signalled until
// reset and releases every waiter; an auto-reset event releases one waiter and resets itself.
// Any thread may call any operation; the state is guarded by the event's own mutex.
class Event {
 public:
  enum class Reset { manual, automatic };

  Event(Reset reset, bool initially_signalled);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set();
  void reset();
  // True when the event was signalled within `timeout_ms` (kInfinite waits without limit).
  bool wait(uint32_t timeout_ms = kInfinite);
  bool is_set() const;

 private:
  const Reset reset_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  bool signalled_;  // guarded by lock_
};

}  // namespace platform
