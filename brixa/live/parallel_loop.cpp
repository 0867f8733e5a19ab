#include "brixa/live/parallel_loop.h"

namespace brixa::live {

ParallelLoop::ParallelLoop(int threads) {
  if (threads < 1) threads = static_cast<int>(std::thread::hardware_concurrency());
  if (threads < 1) threads = 1;
  workers_.reserve(static_cast<size_t>(threads - 1));
  for (int i = 1; i < threads; ++i) workers_.emplace_back([this] { work_loop(); });
}

ParallelLoop::~ParallelLoop() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : workers_) t.join();
}

int ParallelLoop::take_indices() {
  int ran = 0;
  for (;;) {
    int i = next_index_.fetch_add(1, std::memory_order_relaxed);
    if (i >= count_) return ran;
    trampoline_(context_, i);
    ++ran;
  }
}

void ParallelLoop::run_job(int count, Trampoline trampoline, void* context) {
  if (count <= 0) return;
  if (workers_.empty() || count == 1) {
    for (int i = 0; i < count; ++i) trampoline(context, i);
    return;
  }
  {
    std::unique_lock<std::mutex> hold(lock_);
    // A worker that woke late for the previous job may still be looking at it.
    finished_.wait(hold, [&] { return active_ == 0; });
    trampoline_ = trampoline;
    context_ = context;
    count_ = count;
    done_ = 0;
    next_index_.store(0, std::memory_order_relaxed);
    ++generation_;
  }
  wake_.notify_all();
  int ran = take_indices();
  std::unique_lock<std::mutex> hold(lock_);
  done_ += ran;
  finished_.wait(hold, [&] { return done_ >= count_ && active_ == 0; });
}

void ParallelLoop::work_loop() {
  uint64_t seen = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(lock_);
      wake_.wait(hold, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
      ++active_;
    }
    int ran = take_indices();
    {
      std::lock_guard<std::mutex> hold(lock_);
      done_ += ran;
      --active_;
    }
    finished_.notify_all();
  }
}

}  // namespace brixa::live
