#include "kavrel/core/task_worker.h"

#include <chrono>
#include <vector>

#include "trace/trace.h"

namespace kavrel {

struct TaskWorker::State {
  std::atomic<bool> running{false};
  std::mutex lock;
  std::condition_variable changed;
  bool woken = false;    // guarded by lock
  bool finished = false; // guarded by lock; set by the thread as its last act
};

bool TaskWorker::Context::running() const { return state_->running.load(); }

bool TaskWorker::Context::idle(uint32_t ms) {
  std::unique_lock<std::mutex> hold(state_->lock);
  state_->changed.wait_for(hold, std::chrono::milliseconds(ms),
                           [&] { return state_->woken || !state_->running.load(); });
  state_->woken = false;
  return state_->running.load();
}

namespace {

struct Abandoned {
  std::thread thread;
  std::shared_ptr<TaskWorker::State> state;
};

bool wait_finished(TaskWorker::State& state, uint32_t ms);

// The module's abandoned threads. Touched by whichever thread stops a task and by the module's
// unload check; guarded by `lock`. When the module goes away the list waits for each thread a
// last time, so no thread outlives the code it runs.
struct AbandonedList {
  std::mutex lock;
  std::vector<Abandoned> threads;

  ~AbandonedList() {
    for (auto& a : threads) {
      if (a.thread.get_id() != std::this_thread::get_id() && wait_finished(*a.state, kThreadStopTimeoutMs)) {
        a.thread.join();
      } else {
        a.thread.detach();
      }
    }
  }
};

AbandonedList& abandoned_list() {
  static AbandonedList list;
  return list;
}

bool has_finished(TaskWorker::State& state) {
  std::lock_guard<std::mutex> hold(state.lock);
  return state.finished;
}

bool wait_finished(TaskWorker::State& state, uint32_t ms) {
  std::unique_lock<std::mutex> hold(state.lock);
  return state.changed.wait_for(hold, std::chrono::milliseconds(ms), [&] { return state.finished; });
}

}  // namespace

TaskWorker::TaskWorker(const char* stop_name, int line, const char* timeout_text)
    : stop_name_(stop_name), line_(line), timeout_text_(timeout_text) {}

TaskWorker::~TaskWorker() { stop(); }

bool TaskWorker::start(std::function<void(Context&)> body, WaitStyle style) {
  stop(kThreadStopTimeoutMs, style);
  auto state = std::make_shared<State>();
  state->running.store(true);
  std::thread thread;
  try {
    thread = std::thread([state, body = std::move(body)] {
      Context context(state);
      try {
        body(context);
      } catch (const std::exception& e) {
        trace::exception("TaskWorker", e.what());
      } catch (...) {
        trace::exception("TaskWorker", "unknown exception");
      }
      {
        std::lock_guard<std::mutex> hold(state->lock);
        state->finished = true;
      }
      state->changed.notify_all();
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
  std::thread thread;
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
  if (!thread.joinable()) return true;
  if (thread.get_id() == std::this_thread::get_id()) {
    // A task stopping itself cannot wait for its own end; it ends when its body returns.
    AbandonedList& list = abandoned_list();
    std::lock_guard<std::mutex> hold(list.lock);
    list.threads.push_back(Abandoned{std::move(thread), std::move(state)});
    return true;
  }
  bool ended = false;
  if (style == WaitStyle::serve_messages) {
    WaitEnd end = wait_until(style, [&] { return has_finished(*state); }, std::chrono::milliseconds(timeout_ms));
    // Asked to end meanwhile: the thread still gets its bound, without serving messages.
    ended = end == WaitEnd::met || (end == WaitEnd::quit && wait_finished(*state, timeout_ms));
  } else {
    ended = wait_finished(*state, timeout_ms);
  }
  if (ended) {
    thread.join();
    abandoned_threads::reap();
    return true;
  }
  trace::error(stop_name_, line_, timeout_text_);
  AbandonedList& list = abandoned_list();
  std::lock_guard<std::mutex> hold(list.lock);
  list.threads.push_back(Abandoned{std::move(thread), std::move(state)});
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
  return thread_.get_id();
}

namespace abandoned_threads {

size_t reap() {
  std::vector<Abandoned> ended;
  size_t still_running = 0;
  {
    AbandonedList& all = abandoned_list();
    std::lock_guard<std::mutex> hold(all.lock);
    auto& list = all.threads;
    for (auto it = list.begin(); it != list.end();) {
      if (has_finished(*it->state) && it->thread.get_id() != std::this_thread::get_id()) {
        ended.push_back(std::move(*it));
        it = list.erase(it);
      } else {
        ++it;
      }
    }
    still_running = list.size();
  }
  for (auto& a : ended) a.thread.join();  // they have finished: the joins return at once
  return still_running;
}

}  // namespace abandoned_threads
}  // namespace kavrel
