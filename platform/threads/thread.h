// Threads with one owner and a bounded end.
//
// A Thread is started with its body and ended by its owner with join_within(): the owner waits
// at most the given time for the body to return and joins it. A thread that does not end in time
// (or that is asked to end itself) is not detached: it is handed to the module's list of
// abandoned threads, which joins it once it has ended (reap()), waits for the rest a last time
// when the module goes away, and counts whatever still runs then. So every thread is either
// joined or accounted for, and no owner ever waits without limit.
//
// Each module that links this code (the library, the control) has its own list.
//
// Threads: a Thread object belongs to its owner (one thread at a time); finished(), id() and
// is_current() may be read by the owner at any time. The abandoned-thread functions may be called
// from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace platform {

// The bound an owner gives a thread it stops when it has no bound of its own.
inline constexpr uint32_t kThreadStopBoundMs = 2000;

class Thread {
 public:
  // How join_within() ended the thread.
  enum class End {
    none,        // there was no thread
    joined,      // it ended within the bound and was joined
    own_thread,  // called on the thread itself: handed to the abandoned list, it ends right after
    abandoned,   // still running at the bound: handed to the abandoned list
  };

  Thread() = default;
  // Starts `body` on a new thread. Throws std::system_error when no thread can be started.
  explicit Thread(std::function<void()> body);
  // A thread still owned is ended as join_within(kThreadStopBoundMs) ends it.
  ~Thread();
  Thread(Thread&& other) noexcept;
  Thread& operator=(Thread&& other) noexcept;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  bool joinable() const { return thread_.joinable(); }
  // True once the body has returned (or there is no thread).
  bool finished() const;
  bool is_current() const { return thread_.joinable() && thread_.get_id() == std::this_thread::get_id(); }
  std::thread::id id() const { return thread_.get_id(); }

  // Waits up to `timeout_ms` for the body to return. Leaves this object without a thread.
  End join_within(uint32_t timeout_ms);

  struct State;  // shared with the running thread and, once abandoned, with the list

 private:
  std::shared_ptr<State> state_;
  std::thread thread_;
};

// Threads started through Thread and not yet joined, abandoned ones included.
size_t live_threads();

namespace abandoned_threads {
// Joins the abandoned threads that have ended; returns how many still run.
size_t reap();
// Waits up to `timeout_ms` in all for the abandoned threads to end and joins those that did;
// returns how many still run.
size_t join_within(uint32_t timeout_ms);
}  // namespace abandoned_threads

}  // namespace platform
