#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/sync/critical_section.h"
#include "platform/sync/event.h"
#include "platform/sync/semaphore.h"
#include "platform/tick_count.h"

// These tests take and release the lock primitives in ways the thread-safety analysis cannot
// follow (re-entrantly, and on one thread for another), on purpose.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wthread-safety-analysis"
#endif

namespace {

using platform::Event;
using Clock = std::chrono::steady_clock;

TEST(Event, ManualResetReleasesEveryWaiterAndStaysSet) {
  Event ev(Event::Reset::manual, false);
  std::atomic<int> woken{0};
  std::thread a([&] { if (ev.wait(5000)) ++woken; });
  std::thread b([&] { if (ev.wait(5000)) ++woken; });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ev.set();
  a.join();
  b.join();
  EXPECT_EQ(woken.load(), 2);
  EXPECT_TRUE(ev.wait(0));
  ev.reset();
  EXPECT_FALSE(ev.wait(0));
}

TEST(Event, AutoResetReleasesOneWaiterPerSet) {
  Event ev(Event::Reset::automatic, true);
  EXPECT_TRUE(ev.wait(0));
  EXPECT_FALSE(ev.wait(0)) << "an auto-reset event resets itself after one wait";
  ev.set();
  EXPECT_TRUE(ev.is_set());
  EXPECT_TRUE(ev.wait(0));
}

TEST(Event, TimedWaitGivesUpAfterItsTime) {
  Event ev(Event::Reset::manual, false);
  auto start = Clock::now();
  EXPECT_FALSE(ev.wait(100));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(95));
}

TEST(Semaphore, CountsAndRefusesToPassItsMaximum) {
  platform::Semaphore sem(0, 2);
  EXPECT_FALSE(sem.wait(0));
  EXPECT_TRUE(sem.release());
  EXPECT_TRUE(sem.release());
  EXPECT_FALSE(sem.release()) << "the maximum is 2";
  EXPECT_TRUE(sem.wait(0));
  EXPECT_TRUE(sem.wait(0));
  EXPECT_FALSE(sem.wait(10));
}

TEST(Semaphore, WaiterWakesOnRelease) {
  platform::Semaphore sem(0, 10);
  std::thread waiter([&] { EXPECT_TRUE(sem.wait(5000)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  sem.release();
  waiter.join();
}

TEST(CriticalSection, RecursiveForOwnerAndTryEnterFailsForOthers) {
  platform::CriticalSection cs;
  cs.enter();
  ASSERT_TRUE(cs.try_enter()) << "the owner may enter again";
  bool other_got_in = true;
  std::thread other([&] { other_got_in = cs.try_enter(); if (other_got_in) cs.leave(); });
  other.join();
  EXPECT_FALSE(other_got_in);
  cs.leave();
  cs.leave();
  std::thread later([&] { other_got_in = cs.try_enter(); if (other_got_in) cs.leave(); });
  later.join();
  EXPECT_TRUE(other_got_in);
}

TEST(TickCount, AdvancesInMilliseconds) {
  uint32_t before = platform::tick_count_ms();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  uint32_t elapsed = platform::tick_count_ms() - before;
  EXPECT_GE(elapsed, 49u);
  EXPECT_LT(elapsed, 5000u);
}

}  // namespace
