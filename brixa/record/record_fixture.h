// A started library with one client whose callbacks are recorded, logged-in device sessions put
// straight into its list, and the scripted device in place of the NetSDK's recording operations.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "brixa/api/brixa.h"
#include "brixa/core/client_registry.h"
#include "brixa/record/fake_record_sdk.h"
#include "brixa/record/playback.h"

namespace brixa::record::testing {

struct Delivery {
  int32_t id;
  intptr_t tag1;
  int32_t tag2;
  std::string info;
  bool has_info;
};

class Deliveries {
 public:
  void add(Delivery d) {
    {
      std::unique_lock<std::mutex> hold(lock_);
      seen_.push_back(std::move(d));
      changed_.notify_all();
      // A held delivery keeps the dispatcher here, so later messages queue up behind it.
      if (seen_.back().id == held_id_) changed_.wait_for(hold, std::chrono::seconds(10), [&] { return held_id_ == 0; });
    }
  }
  void hold_deliveries_of(int32_t id) {
    std::lock_guard<std::mutex> hold(lock_);
    held_id_ = id;
  }
  void let_go() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      held_id_ = 0;
    }
    changed_.notify_all();
  }
  bool wait_for(size_t count, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
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
  std::vector<Delivery> seen_;  // appended on the dispatcher thread
  int32_t held_id_ = 0;
};

// The client's callback: the user value is the Deliveries that records it.
inline int record_delivery(intptr_t user, brixa_handle, int32_t id, intptr_t p1, int32_t p2, const char* info,
                           int32_t len) {
  // Tunnel status reports come on their own schedule; the recordings' tests look at the rest.
  if (id == BRIXA_CB_CALLBACK_P2P_MAPPED) return 0;
  reinterpret_cast<Deliveries*>(user)->add(
      Delivery{id, p1, p2, info != nullptr ? std::string(info, static_cast<size_t>(len)) : "", info != nullptr});
  return 0;
}

class RecordFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_ = std::make_unique<FakeRecordSdk>();
    reset_playback_state_for_testing();
    brixa_init("127.0.0.1", 9, "key");
    client_ = brixa_create();
    ASSERT_NE(client_, nullptr);
    ASSERT_EQ(brixa_cli_attach_callback(client_, record_delivery, reinterpret_cast<intptr_t>(&deliveries_)),
              BRIXA_OK);
  }
  void TearDown() override {
    brixa_cli_detach_callback(client_);
    brixa_release(client_);
    brixa_uninit();
    reset_playback_state_for_testing();
    fake_.reset();
  }

  // A session of the client as a login leaves it (no tunnel behind it).
  void add_session(const char* dev_id, int32_t login_handle) {
    with_client(client_, [&](brixa_client* c) {
      DeviceListLock list(c->device_list_lock);
      auto* s = new device_session();
      s->client = c;
      copy_text(s->dev_id, dev_id);
      s->login_handle = login_handle;
      s->login_count = login_handle > 0 ? 1 : 0;
      s->channel_count = 4;
      c->devices.push_front(&s->link);
      return 0;
    });
  }

  // A field of the first session with that identifier.
  template <class Fn>
  auto session_field(const char* dev_id, Fn fn) {
    decltype(fn(static_cast<device_session*>(nullptr))) value{};
    with_client(client_, [&](brixa_client* c) {
      DeviceListLock list(c->device_list_lock);
      if (device_session* s = find_session(c, dev_id)) value = fn(s);
      return 0;
    });
    return value;
  }

  std::unique_ptr<FakeRecordSdk> fake_;
  Deliveries deliveries_;
  brixa_handle client_ = nullptr;
};

}  // namespace brixa::record::testing
