#include "platform/threads/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/sync/event.h"

namespace {

using namespace std::chrono_literals;
using platform::Thread;

template <class Fn>
bool eventually(Fn done, std::chrono::milliseconds limit = 10s) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

TEST(Thread, AThreadThatEndsInTimeIsJoined) {
  size_t before = platform::live_threads();
  std::atomic<bool> ran{false};
  Thread thread([&] { ran = true; });
  EXPECT_EQ(platform::live_threads(), before + 1);
  EXPECT_EQ(thread.join_within(5000), Thread::End::joined);
  EXPECT_TRUE(ran.load());
  EXPECT_FALSE(thread.joinable());
  EXPECT_EQ(platform::live_threads(), before);
  EXPECT_EQ(thread.join_within(5000), Thread::End::none);
}

TEST(Thread, AThreadDeafToItsStopIsAbandonedAtTheBoundAndJoinedOnceItEnds) {
  size_t before = platform::live_threads();
  platform::Event release(platform::Event::Reset::manual, false);
  Thread thread([&] { release.wait(10000); });
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(thread.join_within(50), Thread::End::abandoned);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << "the owner waited past its bound";
  EXPECT_FALSE(thread.joinable()) << "the owner is free to start another";
  EXPECT_EQ(platform::abandoned_threads::reap(), 1u);
  EXPECT_EQ(platform::live_threads(), before + 1) << "an abandoned thread is still counted";
  release.set();
  EXPECT_TRUE(eventually([] { return platform::abandoned_threads::reap() == 0; }));
  EXPECT_EQ(platform::live_threads(), before);
}

TEST(Thread, AThreadEndingItselfIsHandedOverAndJoinedLater) {
  size_t before = platform::live_threads();
  Thread thread;
  std::atomic<int> end{-1};
  platform::Event started(platform::Event::Reset::manual, false);
  thread = Thread([&] {
    started.wait(10000);
    end = static_cast<int>(thread.join_within(5000));
  });
  started.set();
  ASSERT_TRUE(eventually([&] { return end.load() != -1; }));
  EXPECT_EQ(end.load(), static_cast<int>(Thread::End::own_thread));
  EXPECT_EQ(platform::abandoned_threads::join_within(5000), 0u);
  EXPECT_EQ(platform::live_threads(), before);
}

TEST(Thread, JoinWithinWaitsForAllAbandonedThreadsUpToItsBound) {
  platform::Event release(platform::Event::Reset::manual, false);
  Thread a([&] { release.wait(10000); });
  Thread b([&] { release.wait(10000); });
  EXPECT_EQ(a.join_within(0), Thread::End::abandoned);
  EXPECT_EQ(b.join_within(0), Thread::End::abandoned);
  EXPECT_EQ(platform::abandoned_threads::join_within(20), 2u);
  std::thread releaser([&] {
    std::this_thread::sleep_for(20ms);
    release.set();
  });
  EXPECT_EQ(platform::abandoned_threads::join_within(10000), 0u);
  releaser.join();
}

}  // namespace
