// Record queries against a scripted device: paging, empty and failed answers, a newer query
// stopping an older one, the month's day flags, and the refusals of the exports.
#include "brixa/record/record_queries.h"

#include <gtest/gtest.h>

#include <cjson/cJSON.h>

#include <string>
#include <thread>
#include <vector>

#include "brixa/core/callback_dispatch.h"
#include "brixa/record/date_time.h"
#include "brixa/record/record_fixture.h"

namespace brixa::record::testing {
namespace {

using namespace std::chrono_literals;

// `count` one-minute files back to back from 2024-01-31 00:00:00.
std::vector<NET_RECORDFILE_INFO> minute_files(int count) {
  std::vector<NET_RECORDFILE_INFO> files(static_cast<size_t>(count));
  NET_TIME t = parse_time("20240131000000");
  for (int i = 0; i < count; ++i) {
    NET_RECORDFILE_INFO& f = files[static_cast<size_t>(i)];
    snprintf(f.file_name, sizeof f.file_name, "/rec/%04d.dav", i);
    f.start = t;
    t = add_seconds(t, 60);
    f.end = t;
    f.size = static_cast<uint32_t>(1000 + i);
    f.record_type = static_cast<uint8_t>(i % 3);
  }
  return files;
}

// The names in a page's "records", or "-" when it has none.
std::vector<std::string> names_of(const std::string& json) {
  std::vector<std::string> names;
  cJSON* root = cJSON_Parse(json.c_str());
  cJSON* records = cJSON_GetObjectItemCaseSensitive(root, "records");
  if (records == nullptr) names.push_back("-");
  cJSON* item = nullptr;
  cJSON_ArrayForEach(item, records) { names.push_back(cJSON_GetObjectItemCaseSensitive(item, "name")->valuestring); }
  cJSON_Delete(root);
  return names;
}

class RecordQueries : public RecordFixture {
 protected:
  void SetUp() override {
    RecordFixture::SetUp();
    add_session("KVR-1", 7);
  }
  int32_t query(const char* start = "20240131000000", const char* end = "20240201000000") {
    return brixa_query_record_files(client_, "KVR-1", 3, start, end);
  }
  // The query thread is gone (joined by the dispatcher before the final page was delivered).
  bool worker_slot_empty() {
    return with_client(client_, [](brixa_client* c) {
             platform::MutexLock hold(c->workers_lock);
             return c->record_query_thread.joinable() ? 0 : 1;
           }) == 1;
  }
};

TEST_F(RecordQueries, FilesArriveInPagesOfAHundredUntilAShortPage) {
  struct Case {
    int files;
    bool boundary_inclusive;  // the device also lists a file that ends where the page starts
    std::vector<int32_t> pages;
  } cases[] = {
      {250, false, {100, 100, 50}},
      {250, true, {100, 100, 52}},
      {100, false, {100, 0}},
      {0, false, {0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.files) + (c.boundary_inclusive ? " inclusive" : ""));
    fake_->set_files(minute_files(c.files), c.boundary_inclusive);
    size_t before = deliveries_.seen().size();
    ASSERT_EQ(query(), 0);
    ASSERT_TRUE(deliveries_.wait_for(before + c.pages.size()));
    // The final page was delivered after its worker had been joined: nothing more can come.
    ASSERT_TRUE(worker_slot_empty());
    auto seen = deliveries_.seen();
    ASSERT_EQ(seen.size(), before + c.pages.size());
    for (size_t i = 0; i < c.pages.size(); ++i) {
      const Delivery& d = seen[before + i];
      EXPECT_EQ(d.id, BRIXA_CB_CALLBACK_QUERY_RECORD);
      EXPECT_EQ(d.tag1, static_cast<intptr_t>(i + 1));
      EXPECT_EQ(d.tag2, c.pages[i]);
      EXPECT_EQ(names_of(d.info).size(), static_cast<size_t>(c.pages[i]));
      cJSON* root = cJSON_Parse(d.info.c_str());
      EXPECT_STREQ(cJSON_GetObjectItemCaseSensitive(root, "start")->valuestring, "20240131000000")
          << "every page repeats the request";
      cJSON_Delete(root);
    }
    if (c.files == 250 && !c.boundary_inclusive) {
      EXPECT_EQ(names_of(seen[before + 1].info).front(), "/rec/0100.dav");
      EXPECT_EQ(names_of(seen[before + 2].info).back(), "/rec/0249.dav");
    }
    if (c.boundary_inclusive) {
      EXPECT_EQ(names_of(seen[before + 1].info).front(), "/rec/0099.dav") << "the boundary file is passed on again";
    }
  }
  auto calls = fake_->calls();
  EXPECT_EQ(calls[1], "query 2024-01-31 01:40:00 2024-02-01 00:00:00") << "page 2 starts where file 100 ends";
}

TEST_F(RecordQueries, AFailedQueryRepeatsTheRequestWithoutRecords) {
  fake_->fail_queries(true);
  ASSERT_EQ(query("20240131000000", "20240131120000"), 0);
  ASSERT_TRUE(deliveries_.wait_for(1));
  Delivery d = deliveries_.seen()[0];
  EXPECT_EQ(d.tag1, 0);
  EXPECT_EQ(d.tag2, -1);
  EXPECT_EQ(d.info, "{\"dev_id\":\"KVR-1\",\"chl_id\":3,\"start\":\"20240131000000\",\"end\":\"20240131120000\"}");
  EXPECT_TRUE(worker_slot_empty());
}

TEST_F(RecordQueries, ANewerQueryStopsTheOlderAfterItsPageInProgress) {
  fake_->set_files(minute_files(250), false);
  fake_->hold_query(2);  // the first query's second page waits in the device
  ASSERT_EQ(query(), 0);
  ASSERT_TRUE(fake_->wait_query_held());
  int32_t second_result = 1;
  std::thread second([&] { second_result = query("20250101000000", "20250102000000"); });
  // The older worker is told to stop; then its page in progress comes back.
  auto deadline = std::chrono::steady_clock::now() + 5s;
  while (with_client(client_, [](brixa_client* c) { return c->record_query_running.load(); }) != 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  fake_->release_query();
  second.join();
  EXPECT_EQ(second_result, 0);
  ASSERT_TRUE(deliveries_.wait_for(3));
  ASSERT_TRUE(worker_slot_empty());
  auto seen = deliveries_.seen();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].tag1, 1);
  EXPECT_EQ(seen[0].tag2, 100);
  EXPECT_EQ(seen[1].tag1, 2) << "the page in progress";
  EXPECT_EQ(seen[1].tag2, 100);
  EXPECT_EQ(seen[2].tag1, 1) << "the newer query's only page";
  EXPECT_EQ(seen[2].tag2, 0);
  EXPECT_NE(seen[2].info.find("20250101000000"), std::string::npos);
  EXPECT_EQ(fake_->calls().size(), 3u) << "no third page of the older query";
}

// The older query's last page is still queued when a newer query starts: delivering it must not
// stop the newer query, whose pages all arrive.
TEST_F(RecordQueries, AQueuedLastPageOfAnOlderQueryDoesNotStopTheNewerOne) {
  fake_->set_files(minute_files(30), false);
  deliveries_.hold_deliveries_of(998);
  brixa::post(client_, 998, 0, 0, nullptr, 0);  // keeps the dispatcher busy
  ASSERT_TRUE(deliveries_.wait_for(1));
  ASSERT_EQ(query("20240131000000", "20240131003000"), 0);  // one page of 30, queued behind 998
  ASSERT_TRUE(fake_->wait_for_call_count(1));
  fake_->set_files(minute_files(250), false);
  fake_->hold_query(3);  // the newer query's second page waits in the device
  ASSERT_EQ(query(), 0);
  ASSERT_TRUE(fake_->wait_query_held());
  deliveries_.let_go();  // the older last page is delivered now, while the newer query runs
  ASSERT_TRUE(deliveries_.wait_for(3));  // 998, the older last page, the newer first page
  fake_->release_query();
  ASSERT_TRUE(deliveries_.wait_for(5));
  ASSERT_TRUE(worker_slot_empty());
  auto seen = deliveries_.seen();
  ASSERT_EQ(seen.size(), 5u);
  std::vector<std::pair<intptr_t, int32_t>> pages;
  for (size_t i = 1; i < seen.size(); ++i) pages.emplace_back(seen[i].tag1, seen[i].tag2);
  EXPECT_EQ(pages, (std::vector<std::pair<intptr_t, int32_t>>{{1, 30}, {1, 100}, {2, 100}, {3, 50}}));
}

TEST_F(RecordQueries, TheMonthAnswerFlagsTheDaysWithRecordings) {
  fake_->set_day_flags({1, 31});
  ASSERT_EQ(brixa_query_record_status(client_, "KVR-1", 2, "202401"), 0);
  ASSERT_TRUE(deliveries_.wait_for(1));
  Delivery d = deliveries_.seen()[0];
  EXPECT_EQ(d.id, BRIXA_CB_CALLBACK_QUERY_RECORD_STATUS);
  EXPECT_EQ(d.tag1, 0);
  EXPECT_EQ(d.tag2, 0);
  EXPECT_EQ(d.info, "{\"dev_id\":\"KVR-1\",\"chl_id\":2,\"month\":\"202401\",\"flag\":\"1" + std::string(29, '0') + "1\"}");
  EXPECT_EQ(fake_->calls(), (std::vector<std::string>{"status 2024-01"}));

  fake_->fail_queries(true);
  ASSERT_EQ(brixa_query_record_status(client_, "KVR-1", 2, "202402"), 0);
  ASSERT_TRUE(deliveries_.wait_for(2));
  d = deliveries_.seen()[1];
  EXPECT_EQ(d.tag2, -1);
  EXPECT_EQ(d.info, "{\"dev_id\":\"KVR-1\",\"chl_id\":2,\"month\":\"202402\"}");
}

TEST_F(RecordQueries, RefusedQueriesFireNothing) {
  add_session("KVR-OFF", 0);
  EXPECT_EQ(brixa_query_record_files(client_, "KVR-OFF", 0, "20240101000000", "20240102000000"), BRIXA_ERR_NO_SESSION);
  EXPECT_EQ(brixa_query_record_status(client_, "KVR-OFF", 0, "202401"), BRIXA_ERR_NO_SESSION);
  EXPECT_EQ(brixa_query_record_files(client_, "nobody", 0, "20240101000000", "20240102000000"), BRIXA_ERR_NO_SESSION);
  int stranger = 0;
  auto* unknown = reinterpret_cast<brixa_handle>(&stranger);
  EXPECT_EQ(brixa_query_record_files(unknown, "KVR-1", 0, "20240101000000", "20240102000000"), BRIXA_ERR_FAILED);
  EXPECT_EQ(brixa_query_record_status(unknown, "KVR-1", 0, "202401"), BRIXA_ERR_FAILED);
  EXPECT_EQ(brixa_query_record_files(nullptr, "KVR-1", 0, "20240101000000", "20240102000000"), BRIXA_ERR_FAILED);
  EXPECT_TRUE(fake_->calls().empty());
  brixa::post(client_, 999, 0, 0, nullptr, 0);  // a marker: whatever was fired comes before it
  ASSERT_TRUE(deliveries_.wait_for(1));
  EXPECT_EQ(deliveries_.seen()[0].id, 999);

  brixa_handle keep = client_;
  brixa_uninit();
  EXPECT_EQ(brixa_query_record_files(keep, "KVR-1", 0, "20240101000000", "20240102000000"), BRIXA_ERR_NOT_INITIALISED);
  EXPECT_EQ(brixa_query_record_status(keep, "KVR-1", 0, "202401"), BRIXA_ERR_NOT_INITIALISED);
  EXPECT_EQ(brixa_start_playback(keep, nullptr, "KVR-1", 0, "20240101000000"), BRIXA_ERR_NOT_INITIALISED);
  brixa_init("127.0.0.1", 9, "key");
  client_ = brixa_create();
  ASSERT_EQ(brixa_cli_attach_callback(client_, record_delivery, reinterpret_cast<intptr_t>(&deliveries_)), 0);
}

}  // namespace
}  // namespace brixa::record::testing
