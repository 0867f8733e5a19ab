#include "platform/threads/thread.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/debug_channel.h"
#include "platform/sync/mutex.h"

namespace platform {

// What the running thread shares with its owner: the end of its body. The thread sets
// `finished` as its last act; owners and the abandoned list wait for it.
struct Thread::State {
  Mutex lock;
  CondVar changed;
  bool finished GUARDED_BY(lock) = false;

  bool is_finished() {
    MutexLock hold(lock);
    return finished;
  }
  // True when the body returned before `deadline`.
  bool wait_finished(std::chrono::steady_clock::time_point deadline) {
    MutexLock hold(lock);
    while (!finished) {
      if (!changed.wait_until(lock, deadline)) return finished;
    }
    return true;
  }
};

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<size_t> unjoined{0};

struct Abandoned {
  std::thread thread;
  std::shared_ptr<Thread::State> state;
};

// The module's abandoned threads. Touched by any thread that ends a Thread and by whoever asks
// for a reap; guarded by `lock`.
struct AbandonedList {
  Mutex lock;
  std::vector<Abandoned> threads GUARDED_BY(lock);
};

// Owns the list for as long as the module is loaded. A module is unloaded only once its list is
// empty (every abandoned thread joined), and then the list goes with it; a list that still holds
// a thread at the process's end is kept, since nothing may detach that thread and no thread may
// be joined while the module's destructors run. Constant-initialized, so it is usable before
// any dynamic initialization, and defined before `final_wait` below, so it is destroyed after it.
struct AbandonedListOwner {
  AbandonedList* list = nullptr;
  ~AbandonedListOwner() {
    if (list == nullptr) return;
    {
      MutexLock hold(list->lock);
      if (!list->threads.empty()) return;
    }
    delete list;
    list = nullptr;
  }
};
constinit AbandonedListOwner list_owner;
std::mutex list_creation;

AbandonedList& abandoned_list() {
  std::lock_guard<std::mutex> hold(list_creation);
  // Also after the owner let go of an empty list (a destructor that runs later still finds one).
  if (list_owner.list == nullptr) list_owner.list = new AbandonedList;
  return *list_owner.list;
}

void adopt(std::thread thread, std::shared_ptr<Thread::State> state) {
  AbandonedList& list = abandoned_list();
  MutexLock hold(list.lock);
  list.threads.push_back(Abandoned{std::move(thread), std::move(state)});
}

void join_counted(std::thread& thread) {
  thread.join();
  unjoined.fetch_sub(1);
}

// Takes the entries that have ended (never the calling thread's own) out of the list.
std::vector<Abandoned> take_ended(size_t& still_running) {
  std::vector<Abandoned> ended;
  AbandonedList& list = abandoned_list();
  MutexLock hold(list.lock);
  auto& threads = list.threads;
  for (auto it = threads.begin(); it != threads.end();) {
    if (it->thread.get_id() != std::this_thread::get_id() && it->state->is_finished()) {
      ended.push_back(std::move(*it));
      it = threads.erase(it);
    } else {
      ++it;
    }
  }
  still_running = threads.size();
  return ended;
}

// When the module goes away: one last bounded wait, and a line for what still runs.
struct FinalWait {
  ~FinalWait() {
    size_t left = abandoned_threads::join_within(kThreadStopBoundMs);
    if (left != 0) {
      char line[96];
      std::snprintf(line, sizeof line, "%zu abandoned thread(s) still running at exit", left);
      debug_output(line);
    }
  }
};
FinalWait final_wait;

}  // namespace

Thread::Thread(std::function<void()> body) {
  auto state = std::make_shared<State>();
  thread_ = std::thread([state, body = std::move(body)] {
    body();
    {
      MutexLock hold(state->lock);
      state->finished = true;
    }
    state->changed.notify_all();
  });
  state_ = std::move(state);
  unjoined.fetch_add(1);
}

Thread::~Thread() {
  if (joinable()) join_within(kThreadStopBoundMs);
}

Thread::Thread(Thread&& other) noexcept : state_(std::move(other.state_)), thread_(std::move(other.thread_)) {}

Thread& Thread::operator=(Thread&& other) noexcept {
  if (this != &other) {
    if (joinable()) join_within(kThreadStopBoundMs);
    state_ = std::move(other.state_);
    thread_ = std::move(other.thread_);
  }
  return *this;
}

bool Thread::finished() const { return state_ == nullptr || state_->is_finished(); }

Thread::End Thread::join_within(uint32_t timeout_ms) {
  if (!thread_.joinable()) {
    state_.reset();
    return End::none;
  }
  std::shared_ptr<State> state = std::move(state_);
  if (thread_.get_id() == std::this_thread::get_id()) {
    adopt(std::move(thread_), std::move(state));
    return End::own_thread;
  }
  if (state->wait_finished(Clock::now() + std::chrono::milliseconds(timeout_ms))) {
    join_counted(thread_);
    abandoned_threads::reap();
    return End::joined;
  }
  adopt(std::move(thread_), std::move(state));
  return End::abandoned;
}

size_t live_threads() { return unjoined.load(); }

namespace abandoned_threads {

size_t reap() {
  size_t still_running = 0;
  std::vector<Abandoned> ended = take_ended(still_running);
  for (auto& a : ended) join_counted(a.thread);  // they have finished: the joins return at once
  return still_running;
}

size_t join_within(uint32_t timeout_ms) {
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::vector<std::shared_ptr<Thread::State>> waiting;
  {
    AbandonedList& list = abandoned_list();
    MutexLock hold(list.lock);
    for (auto& a : list.threads)
      if (a.thread.get_id() != std::this_thread::get_id()) waiting.push_back(a.state);
  }
  for (auto& state : waiting) state->wait_finished(deadline);
  return reap();
}

}  // namespace abandoned_threads
}  // namespace platform
