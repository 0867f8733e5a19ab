// Delivery of callback messages: order, payloads, detach, and the pre-dispatch worker joins.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "brixa/api/brixa.h"
#include "brixa/core/callback_dispatch.h"
#include "brixa/core/callback_queue.h"
#include "brixa/core/client.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Delivery {
  brixa_handle client;
  int32_t id;
  intptr_t param1;
  int32_t param2;
  bool has_info;
  std::string info;
  bool nul_after_info;
};

// Collects deliveries; tests wait for a count with a bounded time.
class Recorder {
 public:
  void add(Delivery d) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      seen_.push_back(std::move(d));
    }
    changed_.notify_all();
  }
  bool wait_for(size_t count, std::chrono::milliseconds limit = 5000ms) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, limit, [&] { return seen_.size() >= count; });
  }
  std::vector<Delivery> seen() {
    std::lock_guard<std::mutex> hold(lock_);
    return seen_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<Delivery> seen_;  // guarded by lock_; appended on the dispatcher thread
};

Recorder* recorder = nullptr;
// Optional extra step run inside the callback, on the dispatcher thread.
std::function<void(brixa_handle, int32_t, intptr_t, int32_t)> inside_callback;

int record(intptr_t user, brixa_handle client, int32_t id, intptr_t param1, int32_t param2, const char* info,
           int32_t info_len) {
  EXPECT_EQ(user, 77);
  if (inside_callback) inside_callback(client, id, param1, param2);
  Delivery d{client, id, param1, param2, info != nullptr, {}, false};
  if (info != nullptr) {
    d.info.assign(info, static_cast<size_t>(info_len));
    d.nul_after_info = info[info_len] == '\0';
  }
  recorder->add(std::move(d));
  return 0;
}

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    recorder = &recorder_;
    brixa_init("127.0.0.1", 8000, "key");
    client_ = brixa_create();
    ASSERT_EQ(brixa_cli_attach_callback(client_, record, 77), BRIXA_OK);
  }
  void TearDown() override {
    brixa_cli_detach_callback(client_);
    brixa_release(client_);
    brixa_uninit();
    inside_callback = nullptr;
    recorder = nullptr;
  }
  Recorder recorder_;
  brixa_handle client_ = nullptr;
};

TEST_F(Dispatch, PayloadsArriveWithTheirNulAndEmptyPayloadsWithoutPointer) {
  const char json[] = "{\"dev_id\":\"A1\"}";
  brixa::post(client_, 257, 0, 0, json, static_cast<int32_t>(strlen(json)));
  brixa::post(client_, 255, 0x1234, -3, nullptr, 0);
  brixa::post(client_, 514, 0, -1, "", 0);
  ASSERT_TRUE(recorder_.wait_for(3));
  auto seen = recorder_.seen();
  EXPECT_EQ(seen[0].info, json);
  EXPECT_TRUE(seen[0].nul_after_info);
  EXPECT_EQ(seen[1].param1, 0x1234);
  EXPECT_EQ(seen[1].param2, -3);
  EXPECT_FALSE(seen[1].has_info);
  EXPECT_FALSE(seen[2].has_info);
}

TEST_F(Dispatch, MessagesFromManyThreadsArriveInTheOrderTheyEnteredTheQueue) {
  // Entry order is fixed by posting under one lock that also hands out the sequence numbers.
  std::mutex entry;
  int32_t next = 0;
  constexpr int kThreads = 4, kEach = 500;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        std::lock_guard<std::mutex> hold(entry);
        std::string text = std::to_string(t);
        brixa::post(client_, 259, next++, 1000, text.data(), static_cast<int32_t>(text.size()));
      }
    });
  }
  for (auto& p : posters) p.join();
  ASSERT_TRUE(recorder_.wait_for(kThreads * kEach));
  auto seen = recorder_.seen();
  ASSERT_EQ(seen.size(), static_cast<size_t>(kThreads * kEach));
  for (size_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i].param1, static_cast<intptr_t>(i));
}

TEST_F(Dispatch, TooLargePayloadIsDroppedAndLaterMessagesArrive) {
  std::string huge(brixa::CallbackQueue::kRingBytes - 8, 'h');
  brixa::post(client_, 514, 1, 0, huge.data(), static_cast<int32_t>(huge.size()));
  brixa::post(client_, 515, 2, 0, "ok", 2);
  brixa::post(client_, 516, 3, 0, nullptr, 0);  // delivered in order: nothing comes after it
  ASSERT_TRUE(recorder_.wait_for(2));
  auto seen = recorder_.seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].id, 515);
  EXPECT_EQ(seen[1].id, 516);
}

TEST_F(Dispatch, MessagesOfDetachedOrUnregisteredClientsAreDropped) {
  brixa_handle other = brixa_create();
  brixa::post(other, 513, 1, 0, nullptr, 0);  // never attached
  brixa::post(client_, 513, 2, 0, nullptr, 0);
  ASSERT_TRUE(recorder_.wait_for(1));

  // Hold the dispatcher inside a callback of another client so messages queue up, then detach
  // before they go out (a detach waits only for a running callback of its own client).
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  inside_callback = [released](brixa_handle, int32_t id, intptr_t, int32_t) {
    if (id == 600) released.wait_for(10s);
  };
  brixa_handle third = brixa_create();
  ASSERT_EQ(brixa_cli_attach_callback(third, record, 77), BRIXA_OK);
  brixa::post(third, 600, 3, 0, nullptr, 0);
  brixa::post(client_, 513, 4, 0, nullptr, 0);
  brixa::post(third, 513, 5, 0, nullptr, 0);
  brixa_cli_detach_callback(client_);
  release.set_value();
  brixa::post(client_, 513, 6, 0, nullptr, 0);
  brixa::post(third, 513, 7, 0, nullptr, 0);
  brixa::post(third, 513, 8, 0, nullptr, 0);  // delivered in order: nothing comes after it
  ASSERT_TRUE(recorder_.wait_for(5));
  std::vector<intptr_t> params;
  for (const auto& d : recorder_.seen()) params.push_back(d.param1);
  EXPECT_EQ(params, (std::vector<intptr_t>{2, 3, 5, 7, 8}));
  brixa_cli_detach_callback(third);
  brixa_release(third);
  brixa_release(other);
}

TEST_F(Dispatch, DetachWaitsForTheRunningCallbackOfThatClient) {
  std::atomic<bool> entered{false}, finished{false};
  inside_callback = [&](brixa_handle, int32_t id, intptr_t, int32_t) {
    if (id != 700) return;
    entered.store(true);
    std::this_thread::sleep_for(300ms);
    finished.store(true);
  };
  brixa::post(client_, 700, 0, 0, nullptr, 0);
  auto deadline = Clock::now() + 5s;
  while (!entered.load() && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(entered.load());
  brixa_cli_detach_callback(client_);
  EXPECT_TRUE(finished.load()) << "detach returned while the callback still ran";
}

TEST_F(Dispatch, CallbackMayCallExportsAndDetachItself) {
  inside_callback = [&](brixa_handle client, int32_t id, intptr_t, int32_t) {
    if (id != 800) return;
    brixa_handle fresh = brixa_create();
    EXPECT_NE(fresh, nullptr);
    brixa_release(fresh);
    EXPECT_EQ(brixa_cli_detach_callback(client), BRIXA_OK);  // from inside: must not wait for itself
  };
  brixa_handle witness = brixa_create();
  ASSERT_EQ(brixa_cli_attach_callback(witness, record, 77), BRIXA_OK);
  brixa::post(client_, 800, 0, 0, nullptr, 0);
  brixa::post(client_, 801, 0, 0, nullptr, 0);
  brixa::post(witness, 802, 0, 0, nullptr, 0);  // delivered in order: 801 has had its turn
  ASSERT_TRUE(recorder_.wait_for(2));
  std::vector<int32_t> ids;
  for (const auto& d : recorder_.seen()) ids.push_back(d.id);
  EXPECT_EQ(ids, (std::vector<int32_t>{800, 802})) << "after detaching itself the client gets nothing more";
  brixa_cli_detach_callback(witness);
  brixa_release(witness);
}

// A stand-in record-query worker: runs until its running flag is cleared.
platform::Thread start_test_worker(std::atomic<int32_t>& running, std::atomic<bool>& ended) {
  running.store(1);
  return platform::Thread([&running, &ended] {
    auto deadline = Clock::now() + 10s;
    while (running.load() != 0 && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms);  // a worker that takes a moment to wind down
    ended.store(true);
  });
}

TEST_F(Dispatch, FinalRecordQueryResultArrivesOnlyAfterTheWorkerEnded) {
  struct Case {
    int32_t param2;
    bool worker_joined;
  } cases[] = {{0, true}, {99, true}, {-1, true}, {100, false}, {250, false}};
  size_t delivered = 0;
  for (const auto& c : cases) {
    std::atomic<bool> ended{false};
    std::atomic<bool> ended_at_delivery{false};
    std::atomic<bool> slot_empty_at_delivery{false};
    {
      platform::MutexLock hold(client_->workers_lock);
      client_->record_query_thread = start_test_worker(client_->record_query_running, ended);
    }
    inside_callback = [&](brixa_handle client, int32_t, intptr_t, int32_t) {
      ended_at_delivery.store(ended.load());
      platform::MutexLock hold(client->workers_lock);
      slot_empty_at_delivery.store(!client->record_query_thread.joinable());
    };
    brixa::post(client_, BRIXA_CB_CALLBACK_QUERY_RECORD, 0, c.param2, nullptr, 0);
    ASSERT_TRUE(recorder_.wait_for(++delivered));
    EXPECT_EQ(ended_at_delivery.load(), c.worker_joined) << "param2 " << c.param2;
    EXPECT_EQ(slot_empty_at_delivery.load(), c.worker_joined) << "param2 " << c.param2;
    inside_callback = nullptr;
    if (!c.worker_joined) {
      client_->record_query_running.store(0);
      brixa::join_worker(client_, &brixa_client::record_query_thread);
    }
  }
}

TEST_F(Dispatch, RecordStatusResultJoinsTheRecordStatusWorker) {
  std::atomic<bool> ended{false}, ended_at_delivery{false};
  {
    platform::MutexLock hold(client_->workers_lock);
    client_->record_status_thread = start_test_worker(client_->record_status_running, ended);
  }
  inside_callback = [&](brixa_handle, int32_t, intptr_t, int32_t) { ended_at_delivery.store(ended.load()); };
  brixa::post(client_, BRIXA_CB_CALLBACK_QUERY_RECORD_STATUS, 0, 500, nullptr, 0);
  ASSERT_TRUE(recorder_.wait_for(1));
  EXPECT_TRUE(ended_at_delivery.load());
}

TEST_F(Dispatch, ReleaseJoinsWorkersStillRunning) {
  std::atomic<bool> query_ended{false}, status_ended{false};
  brixa_handle client = brixa_create();
  {
    platform::MutexLock hold(client->workers_lock);
    client->record_query_thread = start_test_worker(client->record_query_running, query_ended);
    client->record_status_thread = start_test_worker(client->record_status_running, status_ended);
  }
  brixa_release(client);
  EXPECT_TRUE(query_ended.load());
  EXPECT_TRUE(status_ended.load());
}

}  // namespace
