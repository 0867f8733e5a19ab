#include "kavrel/core/task_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/testing/debug_capture.h"
#include "trace/trace.h"

namespace {

using namespace std::chrono_literals;
using kavrel::TaskWorker;

// Waits (bounded) until `done` holds.
template <class Fn>
bool eventually(Fn done, std::chrono::milliseconds limit = 10s) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

TEST(TaskWorker, AWorkerThatIgnoresItsStopIsAbandonedAfterTheBoundAndTraced) {
  trace::force_verbose_for_testing(true);
  platform::testing::DebugCapture capture;
  std::atomic<bool> finished{false};
  {
    TaskWorker worker("CkavrelCtrl::StopPlayThread", 4904, "StartPlayThread is not ending (4904)");
    ASSERT_TRUE(worker.start([&](TaskWorker::Context&) {
      std::this_thread::sleep_for(3s);  // deaf to its stop request
      finished = true;
    }));
    EXPECT_FALSE(worker.stop());
    EXPECT_FALSE(finished.load()) << "stop waited for the worker instead of giving up after its bound";
    EXPECT_FALSE(worker.has_thread()) << "the task is free to start again";
    EXPECT_TRUE(capture.contains("Error: CkavrelCtrl::StopPlayThread 4904 (StartPlayThread is not ending (4904))"));
    EXPECT_GE(platform::abandoned_threads::reap(), 1u);
  }
  ASSERT_TRUE(eventually([&] { return finished.load(); }));
  EXPECT_TRUE(eventually([] { return platform::abandoned_threads::reap() == 0; })) << "the ended thread is joined";
  trace::force_verbose_for_testing(false);
}

TEST(TaskWorker, StopWakesAnIdleBodyAtOnce) {
  TaskWorker worker("stop", 1, "not ending");
  std::atomic<int> passes{0};
  ASSERT_TRUE(worker.start([&](TaskWorker::Context& context) {
    while (context.running()) {
      ++passes;
      context.idle(60000);  // a stop must not wait for this
    }
  }));
  ASSERT_TRUE(eventually([&] { return passes.load() >= 1; }));
  EXPECT_TRUE(worker.stop()) << "the body slept through its stop request";
  EXPECT_FALSE(worker.running());
}

TEST(TaskWorker, WakeRunsAnotherPassAndStartStopsThePreviousThreadFirst) {
  TaskWorker worker("stop", 1, "not ending");
  std::atomic<int> passes{0};
  std::atomic<int> bodies_running{0};
  auto body = [&](TaskWorker::Context& context) {
    EXPECT_EQ(++bodies_running, 1) << "two threads of one task ran at once";
    while (context.running()) {
      ++passes;
      context.idle(60000);
    }
    --bodies_running;
  };
  ASSERT_TRUE(worker.start(body));
  ASSERT_TRUE(eventually([&] { return passes.load() == 1; }));
  worker.wake();
  ASSERT_TRUE(eventually([&] { return passes.load() == 2; }));
  ASSERT_TRUE(worker.start(body));
  ASSERT_TRUE(eventually([&] { return passes.load() == 3; })) << "the second thread did not start";
  EXPECT_TRUE(worker.running());
  EXPECT_TRUE(worker.stop());
}

}  // namespace
