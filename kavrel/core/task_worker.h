// The thread of one task, and the start/stop pattern every task of the control shares: the
// long-lived DoCallbackThread and CmdThread as much as the short-lived per-device, per-camera and
// per-pane workers.
//
// - start() stops a previous thread of the same task first, sets the running flag and starts the
//   body with a Context through which it reads the flag and waits.
// - stop() clears the flag, wakes the body's waits and waits at most 2000 ms for the thread to
//   end (blocking, or serving the caller's messages when it is a user-interface thread). On
//   time-out it traces the task's error text and abandons the thread: the thread is handed to
//   the module's list of abandoned threads (platform/threads), which joins it once it ends, and
//   the task is free to start again at once.
// - The running flag and the wake-up signal live in a state block the thread co-owns, so an
//   abandoned thread never reads freed memory through them. Whatever else the body touches it
//   must reach safely on its own (the control's threads reach the control only as the current
//   control).
//
// Threads: start, stop and the destructor belong to the task's owner (the control's user-interface
// thread, or the thread that owns the task record); wake() and running() may be called from any
// thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "kavrel/core/ui_wait.h"
#include "platform/threads/thread.h"

namespace kavrel {

inline constexpr uint32_t kThreadStopTimeoutMs = 2000;

class TaskWorker {
 public:
  struct State;

  // What the body sees of its task.
  class Context {
   public:
    explicit Context(std::shared_ptr<State> state) : state_(std::move(state)) {}
    // False once stop() has been asked.
    bool running() const;
    // Waits up to `ms` for a stop request or a wake(); true while still running.
    bool idle(uint32_t ms);

   private:
    std::shared_ptr<State> state_;
  };

  // `stop_name` and `line` name the stop operation in the time-out trace, e.g.
  // ("CkavrelCtrl::StopCmdThread", 2189, "CmdThread is not ending (2189)").
  TaskWorker(const char* stop_name, int line, const char* timeout_text);
  ~TaskWorker();
  TaskWorker(const TaskWorker&) = delete;
  TaskWorker& operator=(const TaskWorker&) = delete;

  // False when the thread could not be started (the flag is then clear). `style` is how the
  // stop of a previous thread waits.
  bool start(std::function<void(Context&)> body, WaitStyle style = WaitStyle::block);
  // True when the thread ended within the bound (or there was none). On the control's
  // user-interface thread the wait serves the thread's messages (WaitStyle::serve_messages).
  bool stop(uint32_t timeout_ms = kThreadStopTimeoutMs, WaitStyle style = WaitStyle::block);
  // Wakes the body out of Context::idle without stopping it (work has arrived).
  void wake();
  bool running() const;
  bool has_thread() const;
  std::thread::id thread_id() const;

 private:
  const char* stop_name_;
  int line_;
  const char* timeout_text_;
  mutable std::mutex lock_;  // guards state_ and thread_ against wake() from other threads
  std::shared_ptr<State> state_;
  platform::Thread thread_;
};

}  // namespace kavrel
