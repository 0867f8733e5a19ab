// A small fork-join loop: runs body(i) for every i of [0, count) on a fixed set of worker
// threads plus the calling thread, and returns when every index is done.
//
// Threads: the owner of a ParallelLoop (one thread at a time) calls run(); the workers are
// started by the constructor and stopped and joined by the destructor. `lock_` guards the
// generation counter, the active count and the writing of the job description; the job is
// written only while no worker is active, and read by workers only while they count as active.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace brixa::live {

class ParallelLoop {
 public:
  // `threads` counts the calling thread: 1 runs everything on the caller. Values below 1 mean
  // the machine's hardware thread count.
  explicit ParallelLoop(int threads);
  ~ParallelLoop();
  ParallelLoop(const ParallelLoop&) = delete;
  ParallelLoop& operator=(const ParallelLoop&) = delete;

  int threads() const { return static_cast<int>(workers_.size()) + 1; }

  template <class Body>
  void run(int count, Body&& body) {
    run_job(count, [](void* context, int index) { (*static_cast<Body*>(context))(index); }, &body);
  }

 private:
  using Trampoline = void (*)(void* context, int index);

  void run_job(int count, Trampoline trampoline, void* context);
  void work_loop();
  // Takes indices of the current job until none is left; returns how many it ran.
  int take_indices();

  std::mutex lock_;
  std::condition_variable wake_;      // workers wait here for a new generation or the stop
  std::condition_variable finished_;  // the caller waits here for the last index
  uint64_t generation_ = 0;           // guarded by lock_
  bool stopping_ = false;             // guarded by lock_
  Trampoline trampoline_ = nullptr;   // guarded by lock_ while published
  void* context_ = nullptr;
  int count_ = 0;
  int active_ = 0;                    // guarded by lock_: workers inside take_indices()
  int done_ = 0;                      // guarded by lock_
  std::atomic<int> next_index_{0};
  std::vector<std::thread> workers_;
};

}  // namespace brixa::live
