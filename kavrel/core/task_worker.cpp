#include "kavrel/core/task_worker.h"

#include <chrono>

#include "trace/trace.h"

namespace kavrel {

// The task's side of the thread: the running flag and the wake-up signal. Co-owned by the
// thread, so an abandoned thread never reads freed memory through them.
struct TaskWorker::State {
  std::atomic<bool> running{false};
  std::mutex lock;
  std::condition_variable changed;
  bool woken = false;  // guarded by lock
};

bool TaskWorker::Context::running() const { return state_->running.load(); }

bool TaskWorker::Context::idle(uint32_t ms) {
  std::unique_lock<std::mutex> hold(state_->lock);
  state_->changed.wait_for(hold, std::chrono::milliseconds(ms),
                           [&] { return state_->woken || !state_->running.load(); });
  state_->woken = false;
  return state_->running.load();
}

TaskWorker::TaskWorker(const char* stop_name, int line, const char* timeout_text)
    : stop_name_(stop_name), line_(line), timeout_text_(timeout_text) {}

TaskWorker::~TaskWorker() { stop(); }

bool TaskWorker::start(std::function<void(Context&)> body, WaitStyle style) {
  stop(kThreadStopTimeoutMs, style);
  auto state = std::make_shared<State>();
  state->running.store(true);
  platform::Thread thread;
  try {
    thread = platform::Thread([state, body = std::move(body)] {
      Context context(state);
      try {
        body(context);
      } catch (const std::exception& e) {
        trace::exception("TaskWorker", e.what());
      } catch (...) {
        trace::exception("TaskWorker", "unknown exception");
      }
    });
  } catch (const std::system_error& e) {
    state->running.store(false);
    trace::exception(stop_name_, e.what());
    return false;
  }
  std::lock_guard<std::mutex> hold(lock_);
  state_ = std::move(state);
  thread_ = std::move(thread);
  return true;
}

bool TaskWorker::stop(uint32_t timeout_ms, WaitStyle style) {
  std::shared_ptr<State> state;
  platform::Thread thread;
  {
    std::lock_guard<std::mutex> hold(lock_);
    state = std::move(state_);
    thread = std::move(thread_);
  }
  if (state == nullptr) return true;
  {
    std::lock_guard<std::mutex> hold(state->lock);
    state->running.store(false);
  }
  state->changed.notify_all();
  if (style == WaitStyle::serve_messages && thread.joinable() && !thread.is_current()) {
    // The user-interface thread keeps serving its messages while the task winds down; asked to
    // end meanwhile, it gives the task the rest of its bound without serving them.
    auto started = std::chrono::steady_clock::now();
    WaitEnd end = wait_until(style, [&] { return thread.finished(); }, std::chrono::milliseconds(timeout_ms));
    auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    timeout_ms = end == WaitEnd::quit && spent.count() < timeout_ms ? timeout_ms - static_cast<uint32_t>(spent.count())
                                                                     : 0;
  }
  // A task stopping itself cannot wait for its own end: it ends when its body returns, and the
  // abandoned-thread list joins it then.
  if (thread.join_within(timeout_ms) != platform::Thread::End::abandoned) return true;
  trace::error(stop_name_, line_, timeout_text_);
  return false;
}

void TaskWorker::wake() {
  std::shared_ptr<State> state;
  {
    std::lock_guard<std::mutex> hold(lock_);
    state = state_;
  }
  if (state == nullptr) return;
  {
    std::lock_guard<std::mutex> hold(state->lock);
    state->woken = true;
  }
  state->changed.notify_all();
}

bool TaskWorker::running() const {
  std::lock_guard<std::mutex> hold(lock_);
  return state_ != nullptr && state_->running.load();
}

bool TaskWorker::has_thread() const {
  std::lock_guard<std::mutex> hold(lock_);
  return thread_.joinable();
}

std::thread::id TaskWorker::thread_id() const {
  std::lock_guard<std::mutex> hold(lock_);
  return thread_.id();
}

}  // namespace kavrel
