// Recordings through the NetSDK against the device simulator on a loopback port: record queries
// paged as the brixa library pages them, month status, playback by time (on-screen time, pause,
// speed, restart elsewhere) and download into a DAV file with its progress.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/netsdk_testing.h"
#include "devsdk/proto/media_block.h"
#include "platform/window/window.h"
#include "sim/device/device.h"

namespace {

using sim::device::Device;
using sim::device::RecordSpan;
using sim::device::Settings;
using Clock = std::chrono::steady_clock;

constexpr uint32_t err(uint32_t number) { return NET_ERROR_BASE | number; }

[[maybe_unused]] bool eventually(const std::function<bool()>& done, int ms = 10000) {
  auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

NET_TIME at(uint32_t y, uint32_t mo, uint32_t d, uint32_t h = 0, uint32_t mi = 0, uint32_t s = 0) {
  return NET_TIME{y, mo, d, h, mi, s};
}

int64_t epoch(const NET_TIME& t) {
  struct tm f {};
  f.tm_year = static_cast<int>(t.year) - 1900;
  f.tm_mon = static_cast<int>(t.month) - 1;
  f.tm_mday = static_cast<int>(t.day);
  f.tm_hour = static_cast<int>(t.hour);
  f.tm_min = static_cast<int>(t.minute);
  f.tm_sec = static_cast<int>(t.second);
  f.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&f));
}

RecordSpan span(int32_t channel, const NET_TIME& from, int64_t seconds, int32_t file_seconds) {
  return RecordSpan{channel, epoch(from), epoch(from) + seconds, file_seconds, 0};
}

// Channel 0: 250 files of a minute on 10 March 2024; channel 1: exactly 100; channel 2: the 1st
// and the 31st of January 2024 only; channel 3: 1 May 2024 10:00-10:10 and 10:20-10:30.
Settings recorder() {
  Settings s;
  s.dev_id = "KVR-REC";
  s.channels = 4;
  s.recordings = std::vector<RecordSpan>{
      span(0, at(2024, 3, 10, 8), 250 * 60, 60),
      span(1, at(2024, 3, 10, 8), 100 * 60, 60),
      span(2, at(2024, 1, 1, 10), 3600, 3600),
      span(2, at(2024, 1, 31, 23), 1800, 600),
      span(3, at(2024, 5, 1, 10), 600, 300),
      span(3, at(2024, 5, 1, 10, 20), 600, 300),
  };
  return s;
}

class NetSdkRecordingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    NET_TestReset();
    ASSERT_TRUE(NET_Init(nullptr, 0));
    NET_NetworkParams params{};
    params.wait_time_ms = 5000;
    params.connect_time_ms = 2000;
    NET_SetNetworkParam(&params);
    device = std::make_unique<Device>(recorder());
    ASSERT_TRUE(device->start());
    login_id = NET_Login("127.0.0.1", device->port(), "admin", "admin", NET_LOGIN_MODE_TCP, nullptr, nullptr, nullptr);
    ASSERT_GT(login_id, 0);
  }
  void TearDown() override {
    NET_Cleanup();
    device.reset();
  }

  // Pages through start..end as the brixa library does: 100 files a page, the next page from
  // the end of the 100th file. The count of each page.
  std::vector<int32_t> page_counts(int32_t channel, NET_TIME start, NET_TIME end,
                                   std::vector<NET_RECORDFILE_INFO>& all) {
    std::vector<int32_t> counts;
    NET_RECORDFILE_INFO page[100];
    for (int i = 0; i < 10; ++i) {
      int32_t count = -1;
      EXPECT_EQ(NET_QueryRecordFile(login_id, channel, 0, &start, &end, nullptr, page, sizeof page, &count, 2000, 1),
                1)
          << std::hex << NET_GetLastError();
      counts.push_back(count);
      all.insert(all.end(), page, page + (count > 0 ? count : 0));
      if (count < 100) break;
      start = page[99].end;
    }
    return counts;
  }

  std::unique_ptr<Device> device;
  int32_t login_id = 0;
};

TEST_F(NetSdkRecordingsTest, QueriesPageAHundredFilesAtATime) {
  struct Case {
    const char* what;
    int32_t channel;
    std::vector<int32_t> pages;
  };
  const Case cases[] = {
      {"250 files", 0, {100, 100, 50}},
      {"exactly 100 files", 1, {100, 0}},
      {"no recording in the range", 3, {0}},
  };
  for (const auto& c : cases) {
    std::vector<NET_RECORDFILE_INFO> all;
    NET_TIME from = c.channel == 3 ? at(2024, 5, 2) : at(2024, 3, 10);
    NET_TIME to = c.channel == 3 ? at(2024, 5, 2, 23, 59, 59) : at(2024, 3, 10, 23, 59, 59);
    EXPECT_EQ(page_counts(c.channel, from, to, all), c.pages) << c.what;
    // Every file once, in time order, one minute each, described at its offsets.
    for (size_t i = 0; i < all.size(); ++i) {
      EXPECT_EQ(epoch(all[i].start), epoch(at(2024, 3, 10, 8)) + static_cast<int64_t>(i) * 60) << c.what << " " << i;
      EXPECT_EQ(epoch(all[i].end) - epoch(all[i].start), 60) << c.what;
      EXPECT_EQ(all[i].channel, static_cast<uint32_t>(c.channel));
      EXPECT_EQ(all[i].size, 60u * 256u);
      EXPECT_EQ(all[i].record_type, 0);
      EXPECT_NE(std::string(all[i].file_name).find(".dav"), std::string::npos);
    }
  }
}

TEST_F(NetSdkRecordingsTest, QueryReturnsTheFilesOverlappingTheRangeAsManyAsFit) {
  // 10:03 to 10:24 touches the file 10:00-10:05 and 10:20-10:25 and everything between.
  NET_TIME from = at(2024, 5, 1, 10, 3), to = at(2024, 5, 1, 10, 24);
  NET_RECORDFILE_INFO files[3];
  int32_t count = 0;
  ASSERT_EQ(NET_QueryRecordFile(login_id, 3, 0, &from, &to, nullptr, files, sizeof files, &count, 2000, 1), 1);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(files[0].start.minute, 0u);
  EXPECT_EQ(files[1].start.minute, 5u);
  EXPECT_EQ(files[2].start.minute, 20u);
  EXPECT_EQ(files[2].end.minute, 25u);
  // A buffer with room for one description and a bit gets one.
  ASSERT_EQ(NET_QueryRecordFile(login_id, 3, 0, &from, &to, nullptr, files, sizeof files[0] + 100, &count, 2000, 1), 1);
  EXPECT_EQ(count, 1);
}

TEST_F(NetSdkRecordingsTest, MonthStatusFlagsTheDaysWithRecordings) {
  struct Case {
    int32_t channel;
    NET_TIME month;
    std::string flags;
  };
  const Case cases[] = {
      {2, at(2024, 1, 15, 12), "1000000000000000000000000000001"},
      {2, at(2024, 2, 1), std::string(31, '0')},
      {3, at(2024, 5, 1), "1" + std::string(30, '0')},
  };
  for (const auto& c : cases) {
    NET_RECORD_STATUS status;
    memset(&status, 0xEE, sizeof status);
    ASSERT_EQ(NET_QueryRecordStatus(login_id, c.channel, 0, &c.month, nullptr, &status, 2000), 1);
    std::string flags;
    for (int i = 0; i < 31; ++i) flags += status.day_flags[i] != 0 ? '1' : '0';
    EXPECT_EQ(flags, c.flags) << c.channel << " " << c.month.month;
    EXPECT_EQ(status.day_flags[31], 0);
  }
}

TEST_F(NetSdkRecordingsTest, RefusedQueries) {
  NET_TIME from = at(2024, 3, 10), to = at(2024, 3, 11), bad = at(2024, 13, 1);
  NET_RECORDFILE_INFO files[4];
  NET_RECORD_STATUS status;
  int32_t count = 0;
  struct Case {
    const char* what;
    std::function<NET_BOOL()> call;
    uint32_t error;
  };
  const Case cases[] = {
      {"unknown login", [&] { return NET_QueryRecordFile(login_id + 99, 0, 0, &from, &to, nullptr, files, sizeof files, &count, 2000, 1); },
       err(NET_ERR_INVALID_HANDLE)},
      {"channel beyond the device", [&] { return NET_QueryRecordFile(login_id, 4, 0, &from, &to, nullptr, files, sizeof files, &count, 2000, 1); },
       err(NET_ERR_ILLEGAL_PARAM)},
      {"month 13", [&] { return NET_QueryRecordFile(login_id, 0, 0, &bad, &to, nullptr, files, sizeof files, &count, 2000, 1); },
       err(NET_ERR_ILLEGAL_PARAM)},
      {"a card number", [&] { return NET_QueryRecordFile(login_id, 0, 0, &from, &to, "1", files, sizeof files, &count, 2000, 1); },
       err(NET_ERR_ILLEGAL_PARAM)},
      {"not by time", [&] { return NET_QueryRecordFile(login_id, 0, 0, &from, &to, nullptr, files, sizeof files, &count, 2000, 0); },
       err(NET_ERR_ILLEGAL_PARAM)},
      {"no room for one file", [&] { return NET_QueryRecordFile(login_id, 0, 0, &from, &to, nullptr, files, 195, &count, 2000, 1); },
       err(NET_ERR_INSUFFICIENT_BUFFER)},
      {"status of an unknown login", [&] { return NET_QueryRecordStatus(login_id + 99, 0, 0, &from, nullptr, &status, 2000); },
       err(NET_ERR_INVALID_HANDLE)},
      {"status of month 13", [&] { return NET_QueryRecordStatus(login_id, 0, 0, &bad, nullptr, &status, 2000); },
       err(NET_ERR_ILLEGAL_PARAM)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.call(), 0) << c.what;
    EXPECT_EQ(NET_GetLastError(), c.error) << c.what;
  }
}

}  // namespace
