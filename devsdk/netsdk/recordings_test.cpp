// Recordings through the NetSDK against the device simulator on a loopback port: record queries
// paged as the brixa library pages them, month status, playback by time (on-screen time, pause,
// speed, restart elsewhere) and download into a DAV file with its progress.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/netsdk_testing.h"
#include "devsdk/proto/media_block.h"
#include "platform/window/surface.h"
#include "platform/window/window.h"
#include "sim/device/device.h"
#include "sim/device/video/time_code.h"

namespace {

using sim::device::Device;
using sim::device::RecordSpan;
using sim::device::Settings;
using Clock = std::chrono::steady_clock;

constexpr uint32_t err(uint32_t number) { return NET_ERROR_BASE | number; }

bool eventually(const std::function<bool()>& done, int ms = 10000) {
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

int64_t epoch_ms(const NET_TIME& t) { return epoch(t) * 1000; }

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
  // A device that refuses them.
  device->set_fault({sim::device::FaultKind::refuse, static_cast<uint16_t>(proto::Type::record_query)});
  EXPECT_EQ(NET_QueryRecordFile(login_id, 0, 0, &from, &to, nullptr, files, sizeof files, &count, 2000, 1), 0);
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_NOT_SUPPORTED));
  device->set_fault({sim::device::FaultKind::refuse, static_cast<uint16_t>(proto::Type::record_month)});
  EXPECT_EQ(NET_QueryRecordStatus(login_id, 0, 0, &from, nullptr, &status, 2000), 0);
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_NOT_SUPPORTED));
  device->set_fault({});
  EXPECT_EQ(NET_QueryRecordStatus(login_id, 0, 0, &from, nullptr, &status, 2000), 1);
}

// What a playback's callbacks saw. SDK thread writes; the test reads under the lock.
struct PlaybackSeen {
  std::mutex lock;
  proto::MediaBlockReader reader;
  std::vector<uint64_t> times;      // capture times of the video blocks
  std::vector<uint8_t> kinds;       // their kinds
  std::vector<uint32_t> positions;  // played KiB of each position call
  uint32_t total = 0;
  int32_t handle = 0;
  bool malformed = false;
  size_t count() {
    std::lock_guard<std::mutex> hold(lock);
    return times.size();
  }
};

int32_t on_play_data(int32_t handle, uint32_t type, const uint8_t* data, uint32_t size, intptr_t user) {
  auto* seen = reinterpret_cast<PlaybackSeen*>(user);
  std::lock_guard<std::mutex> hold(seen->lock);
  EXPECT_EQ(type, NET_DATA_RAW);
  seen->handle = handle;
  seen->reader.feed(data, size);
  proto::MediaBlock block;
  for (;;) {
    auto r = seen->reader.next(block);
    if (r == proto::MediaBlockReader::Result::need_more) break;
    if (r == proto::MediaBlockReader::Result::malformed) {
      seen->malformed = true;
      break;
    }
    if (block.kind == proto::kFrameVideoKey || block.kind == proto::kFrameVideoDelta) {
      seen->times.push_back(block.timestamp_ms);
      seen->kinds.push_back(block.kind);
    }
  }
  return 0;
}

void on_play_position(int32_t, uint32_t total, uint32_t played, intptr_t user) {
  auto* seen = reinterpret_cast<PlaybackSeen*>(user);
  std::lock_guard<std::mutex> hold(seen->lock);
  seen->total = total;
  seen->positions.push_back(played);
}

// The on-screen time in seconds since the epoch, or -1 before the first picture.
int64_t osd(int32_t handle) {
  NET_TIME shown{}, from{}, to{};
  if (NET_GetPlayBackOsdTime(handle, &shown, &from, &to) == 0) return -1;
  return epoch(shown);
}

// How far the on-screen time moves while `ms` of real time pass.
int64_t osd_advance_over(int32_t handle, int ms) {
  int64_t before = osd(handle);
  auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return osd(handle) - before;
}

void on_draw(int32_t, int32_t stream_handle, void* dc, intptr_t user) {
  auto* last = reinterpret_cast<std::atomic<int32_t>*>(user);
  if (dc != nullptr) last->store(stream_handle);
}

TEST_F(NetSdkRecordingsTest, PlaybackShowsTheRecordingFromItsStartAndPausesAndChangesSpeed) {
  platform::HWND window =
      platform::create_window(platform::WindowSpec{nullptr, {0, 0, 352, 288}, platform::WS_VISIBLE, "playback"});
  ASSERT_NE(window, nullptr);
  std::atomic<int32_t> drawn{0};
  NET_RegisterDrawFun(on_draw, reinterpret_cast<intptr_t>(&drawn));
  PlaybackSeen seen;
  NET_TIME from = at(2024, 5, 1, 10, 2), to = at(2024, 5, 1, 11, 2);
  int32_t h = NET_PlayBackByTimeEx(login_id, 3, &from, &to, window, on_play_position, reinterpret_cast<intptr_t>(&seen),
                                   nullptr, 0);
  ASSERT_GT(h, 0) << std::hex << NET_GetLastError();
  ASSERT_TRUE(eventually([&] { return osd(h) >= 0; }));
  EXPECT_GE(osd(h), epoch(from));
  EXPECT_LE(osd(h), epoch(from) + 2);
  EXPECT_EQ(drawn.load(), h);  // the drawing callback names the playback
  // The picture itself carries the recording time in its time code.
  {
    platform::SurfaceAccess access(window);
    ASSERT_TRUE(access.valid());
    const auto& px = access.pixels();
    uint64_t capture = 0;
    ASSERT_TRUE(sim::device::video::read_time_code(px.data, px.stride, px.width, px.height, 704, 576,
                                                   static_cast<uint64_t>(epoch_ms(from)), &capture));
    EXPECT_GE(capture, static_cast<uint64_t>(epoch_ms(from)));
    EXPECT_LT(capture, static_cast<uint64_t>(epoch_ms(from) + 5000));
  }
  int64_t first = osd(h);
  ASSERT_TRUE(eventually([&] { return osd(h) >= first + 1; }, 5000));
  {
    std::lock_guard<std::mutex> hold(seen.lock);
    ASSERT_FALSE(seen.positions.empty());
    EXPECT_GT(seen.total, 0u);
    EXPECT_TRUE(std::is_sorted(seen.positions.begin(), seen.positions.end()));
    EXPECT_LE(seen.positions.back(), seen.total);
  }

  // Paused, the on-screen time settles and stays.
  ASSERT_EQ(NET_PausePlayBack(h, 1), 1);
  int64_t settled = -2;
  ASSERT_TRUE(eventually([&] {
    int64_t now = osd(h);
    bool same = now == settled;
    settled = now;
    return same && osd_advance_over(h, 300) == 0;
  }, 5000));
  EXPECT_EQ(osd_advance_over(h, 1000), 0);
  ASSERT_EQ(NET_PausePlayBack(h, 0), 1);
  ASSERT_TRUE(eventually([&] { return osd(h) > settled; }, 5000));

  // Four times as fast, then four times as slow.
  ASSERT_EQ(NET_FastPlayBack(h), 1);
  ASSERT_EQ(NET_FastPlayBack(h), 1);
  int64_t fast = osd_advance_over(h, 1500);
  ASSERT_EQ(NET_NormalPlayBack(h), 1);
  ASSERT_EQ(NET_SlowPlayBack(h), 1);
  ASSERT_EQ(NET_SlowPlayBack(h), 1);
  int64_t slow = osd_advance_over(h, 1500);
  // At normal speed 1.5 s shows 1 or 2 seconds; a busy machine may not decode every picture
  // at four times, so only the order is sure.
  EXPECT_GE(fast, 2);
  EXPECT_LE(slow, 1);
  EXPECT_GT(fast, slow);

  EXPECT_EQ(NET_StopPlayBack(h), 1);
  size_t positions;
  {
    std::lock_guard<std::mutex> hold(seen.lock);
    positions = seen.positions.size();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  {
    std::lock_guard<std::mutex> hold(seen.lock);
    EXPECT_EQ(seen.positions.size(), positions);  // no callback after the stop returned
  }
  EXPECT_TRUE(eventually([&] { return device->recording_streams() == 0; }, 3000));
  NET_RegisterDrawFun(nullptr, 0);
  platform::destroy_window(window);
}

TEST_F(NetSdkRecordingsTest, PlaybackSkipsGapsAndEndsWithTheRecordings) {
  struct Case {
    const char* what;
    NET_TIME from, to;
    std::vector<std::pair<NET_TIME, NET_TIME>> stretches;  // first and last frame's second
  };
  const Case cases[] = {
      {"across the gap", at(2024, 5, 1, 10, 9, 58), at(2024, 5, 1, 10, 20, 2),
       {{at(2024, 5, 1, 10, 9, 58), at(2024, 5, 1, 10, 9, 59)}, {at(2024, 5, 1, 10, 20), at(2024, 5, 1, 10, 20, 1)}}},
      {"past the last recording", at(2024, 5, 1, 10, 29, 57), at(2024, 5, 1, 11),
       {{at(2024, 5, 1, 10, 29, 57), at(2024, 5, 1, 10, 29, 59)}}},
      {"from a gap", at(2024, 5, 1, 10, 15), at(2024, 5, 1, 10, 20, 1),
       {{at(2024, 5, 1, 10, 20), at(2024, 5, 1, 10, 20)}}},
  };
  for (const auto& c : cases) {
    PlaybackSeen seen;
    int32_t h = NET_PlayBackByTimeEx(login_id, 3, &c.from, &c.to, nullptr, on_play_position,
                                     reinterpret_cast<intptr_t>(&seen), on_play_data, reinterpret_cast<intptr_t>(&seen));
    ASSERT_GT(h, 0) << c.what;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(NET_FastPlayBack(h), 1);  // 8 times: done in a moment
    ASSERT_TRUE(eventually([&] {
      std::lock_guard<std::mutex> hold(seen.lock);
      return !seen.positions.empty() && seen.positions.back() == seen.total;
    })) << c.what;
    std::lock_guard<std::mutex> hold(seen.lock);
    EXPECT_FALSE(seen.malformed);
    EXPECT_EQ(seen.handle, h);
    // Stretches of 25 frames a second, each from a key picture; gaps are skipped.
    std::vector<std::pair<uint64_t, uint64_t>> stretches;
    for (size_t i = 0; i < seen.times.size(); ++i) {
      if (i == 0 || seen.times[i] != seen.times[i - 1] + 40) {
        EXPECT_EQ(seen.kinds[i], proto::kFrameVideoKey) << c.what << " " << i;
        stretches.push_back({seen.times[i], seen.times[i]});
      }
      stretches.back().second = seen.times[i];
    }
    ASSERT_EQ(stretches.size(), c.stretches.size()) << c.what;
    for (size_t i = 0; i < stretches.size(); ++i) {
      EXPECT_EQ(stretches[i].first, static_cast<uint64_t>(epoch_ms(c.stretches[i].first))) << c.what;
      EXPECT_EQ(stretches[i].second / 1000, static_cast<uint64_t>(epoch(c.stretches[i].second))) << c.what;
      EXPECT_EQ(stretches[i].second % 1000, 960u) << c.what;
    }
    EXPECT_EQ(NET_StopPlayBack(h), 1);
  }
}

TEST_F(NetSdkRecordingsTest, ARestartElsewhereShowsItsOwnStart) {
  // What a skip does: stop, then play again from another time.
  NET_TIME from = at(2024, 5, 1, 10, 4), to = at(2024, 5, 1, 11, 4);
  int32_t h = NET_PlayBackByTimeEx(login_id, 3, &from, &to, nullptr, nullptr, 0, nullptr, 0);
  ASSERT_GT(h, 0);
  ASSERT_TRUE(eventually([&] { return osd(h) >= 0; }));
  ASSERT_EQ(NET_StopPlayBack(h), 1);
  NET_TIME later = at(2024, 5, 1, 10, 25, 10), end = at(2024, 5, 1, 11, 25, 10);
  int32_t again = NET_PlayBackByTimeEx(login_id, 3, &later, &end, nullptr, nullptr, 0, nullptr, 0);
  ASSERT_GT(again, 0);
  EXPECT_NE(again, h);
  EXPECT_EQ(osd(h), -1);
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_INVALID_HANDLE));
  ASSERT_TRUE(eventually([&] { return osd(again) >= 0; }));
  EXPECT_GE(osd(again), epoch(later));
  EXPECT_LE(osd(again), epoch(later) + 2);
  NET_TIME shown{}, span_start{}, span_end{};
  ASSERT_EQ(NET_GetPlayBackOsdTime(again, &shown, &span_start, &span_end), 1);
  EXPECT_EQ(epoch(span_start), epoch(later));
  EXPECT_EQ(epoch(span_end), epoch(end));
  EXPECT_EQ(NET_StopPlayBack(again), 1);
}

TEST_F(NetSdkRecordingsTest, RefusedPlaybacksAndBadHandles) {
  NET_TIME from = at(2024, 5, 1, 10, 2), to = at(2024, 5, 1, 11, 2);
  NET_TIME gap = at(2024, 5, 1, 10, 12), gap_end = at(2024, 5, 1, 10, 18), bad = at(2024, 5, 32);
  struct Case {
    const char* what;
    int32_t login;
    int32_t channel;
    const NET_TIME* from;
    const NET_TIME* to;
    uint32_t error;
  };
  const Case cases[] = {
      {"unknown login", login_id + 99, 3, &from, &to, err(NET_ERR_INVALID_HANDLE)},
      {"nothing recorded in the span", login_id, 3, &gap, &gap_end, err(NET_ERR_NO_RECORD_FOUND)},
      {"channel beyond the device", login_id, 4, &from, &to, err(NET_ERR_OPEN_CHANNEL_ERROR)},
      {"end before start", login_id, 3, &to, &from, err(NET_ERR_OPEN_CHANNEL_ERROR)},
      {"day 32", login_id, 3, &bad, &to, err(NET_ERR_ILLEGAL_PARAM)},
      {"no end", login_id, 3, &from, nullptr, err(NET_ERR_ILLEGAL_PARAM)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NET_PlayBackByTimeEx(c.login, c.channel, c.from, c.to, nullptr, nullptr, 0, nullptr, 0), 0) << c.what;
    EXPECT_EQ(NET_GetLastError(), c.error) << c.what;
    EXPECT_EQ(NET_DownloadByTime(c.login, c.channel, 0, c.from, c.to, (testing::TempDir() + "refused.dav").c_str(),
                                 nullptr, 0),
              0)
        << c.what;
    EXPECT_EQ(NET_GetLastError(), c.error) << c.what;
    EXPECT_FALSE(std::ifstream(testing::TempDir() + "refused.dav").good()) << c.what;  // no file left
  }
  NET_TIME shown{};
  const std::function<NET_BOOL(int32_t)> calls[] = {
      [](int32_t h) { return NET_StopPlayBack(h); },    [](int32_t h) { return NET_PausePlayBack(h, 1); },
      [](int32_t h) { return NET_FastPlayBack(h); },    [](int32_t h) { return NET_SlowPlayBack(h); },
      [](int32_t h) { return NET_NormalPlayBack(h); },  [&](int32_t h) { return NET_GetPlayBackOsdTime(h, &shown, nullptr, nullptr); },
      [](int32_t h) { return NET_StopDownload(h); },
  };
  for (int32_t handle : {0, -1, 4242}) {
    for (const auto& call : calls) {
      EXPECT_EQ(call(handle), 0) << handle;
      EXPECT_EQ(NET_GetLastError(), err(NET_ERR_INVALID_HANDLE)) << handle;
    }
  }
}

// What a download's progress callback saw.
struct Progress {
  std::mutex lock;
  std::vector<std::pair<uint32_t, uint32_t>> calls;  // total, downloaded
  int32_t handle = 0;
  bool finished() {
    std::lock_guard<std::mutex> hold(lock);
    return !calls.empty() && calls.back().second == 0xFFFFFFFFu;
  }
  size_t count() {
    std::lock_guard<std::mutex> hold(lock);
    return calls.size();
  }
};

void on_progress(int32_t handle, uint32_t total, uint32_t downloaded, int32_t, const NET_RECORDFILE_INFO*,
                 intptr_t user) {
  auto* p = reinterpret_cast<Progress*>(user);
  std::lock_guard<std::mutex> hold(p->lock);
  p->handle = handle;
  p->calls.push_back({total, downloaded});
}

std::vector<proto::MediaBlock> read_dav(const std::string& path, bool& malformed) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  proto::MediaBlockReader reader;
  reader.feed(bytes.data(), bytes.size());
  std::vector<proto::MediaBlock> blocks;
  proto::MediaBlock block;
  malformed = false;
  for (;;) {
    auto r = reader.next(block);
    if (r != proto::MediaBlockReader::Result::block) {
      malformed = r == proto::MediaBlockReader::Result::malformed || reader.buffered() != 0;
      break;
    }
    blocks.push_back(std::move(block));
  }
  return blocks;
}

TEST_F(NetSdkRecordingsTest, DownloadWritesTheSpanAsMediaBlocksAndReportsProgress) {
  std::string path = testing::TempDir() + "download_60s.dav";
  NET_TIME from = at(2024, 5, 1, 10, 1), to = at(2024, 5, 1, 10, 2);
  Progress progress;
  int32_t h = NET_DownloadByTime(login_id, 3, 0, &from, &to, path.c_str(), on_progress,
                                 reinterpret_cast<intptr_t>(&progress));
  ASSERT_GT(h, 0) << std::hex << NET_GetLastError();
  ASSERT_TRUE(eventually([&] { return progress.finished(); }, 30000));
  {
    std::lock_guard<std::mutex> hold(progress.lock);
    EXPECT_EQ(progress.handle, h);
    ASSERT_GE(progress.calls.size(), 3u);
    uint32_t total = progress.calls.front().first;
    EXPECT_GT(total, 0u);
    for (size_t i = 1; i + 1 < progress.calls.size(); ++i)
      EXPECT_GT(progress.calls[i].second, progress.calls[i - 1].second) << i;
    EXPECT_EQ(progress.calls.back().second, 0xFFFFFFFFu);
  }
  bool malformed = true;
  auto blocks = read_dav(path, malformed);
  EXPECT_FALSE(malformed);
  ASSERT_FALSE(blocks.empty());
  EXPECT_EQ(blocks.front().kind, proto::kFrameVideoKey);
  EXPECT_EQ(blocks.front().timestamp_ms, static_cast<uint64_t>(epoch_ms(from)));
  int64_t span = static_cast<int64_t>(blocks.back().timestamp_ms - blocks.front().timestamp_ms);
  EXPECT_GE(span, 60000 - 40);
  EXPECT_LE(span, 60000 + 40);
  EXPECT_EQ(blocks.size(), 1500u);
  {
    // The last downloaded size before completion is the file's size in KiB.
    std::lock_guard<std::mutex> hold(progress.lock);
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    EXPECT_EQ(progress.calls[progress.calls.size() - 2].second, static_cast<uint32_t>(in.tellg() / 1024));
  }
  EXPECT_EQ(NET_StopDownload(h), 1);
  EXPECT_EQ(NET_StopDownload(h), 0);
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_INVALID_HANDLE));
  std::remove(path.c_str());
}

TEST_F(NetSdkRecordingsTest, StoppedDownloadKeepsWhatItWroteAndCallsNoMore) {
  std::string path = testing::TempDir() + "download_stopped.dav";
  NET_TIME from = at(2024, 5, 1, 10), to = at(2024, 5, 1, 10, 30);
  Progress progress;
  int32_t h = NET_DownloadByTime(login_id, 3, 0, &from, &to, path.c_str(), on_progress,
                                 reinterpret_cast<intptr_t>(&progress));
  ASSERT_GT(h, 0);
  ASSERT_TRUE(eventually([&] { return progress.count() >= 1; }));
  EXPECT_EQ(NET_StopDownload(h), 1);
  size_t calls = progress.count();
  EXPECT_FALSE(progress.finished());
  EXPECT_TRUE(eventually([&] { return device->recording_streams() == 0; }, 3000));
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  EXPECT_EQ(progress.count(), calls);
  bool malformed = true;
  auto blocks = read_dav(path, malformed);
  EXPECT_FALSE(blocks.empty());
  EXPECT_FALSE(malformed);  // whole blocks only
  EXPECT_EQ(NET_StopDownload(h), 0);
  std::remove(path.c_str());
}

TEST_F(NetSdkRecordingsTest, DownloadIntoAFileThatCannotBeOpenedStartsNothing) {
  int accepted = device->connections_accepted();
  NET_TIME from = at(2024, 5, 1, 10, 1), to = at(2024, 5, 1, 10, 2);
  Progress progress;
  EXPECT_EQ(NET_DownloadByTime(login_id, 3, 0, &from, &to, "/nonexistent-folder/x.dav", on_progress,
                               reinterpret_cast<intptr_t>(&progress)),
            0);
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_SYSTEM_ERROR));
  EXPECT_EQ(device->connections_accepted(), accepted);  // never reached the device
  EXPECT_EQ(progress.count(), 0u);
}

TEST_F(NetSdkRecordingsTest, PlaybackHasSnapshotsAndLocalRecordingsAsLiveStreamsHave) {
  platform::HWND window =
      platform::create_window(platform::WindowSpec{nullptr, {0, 0, 352, 288}, platform::WS_VISIBLE, "playback"});
  NET_TIME from = at(2024, 5, 1, 10, 1), to = at(2024, 5, 1, 11, 1);
  int32_t h = NET_PlayBackByTimeEx(login_id, 3, &from, &to, window, nullptr, 0, nullptr, 0);
  ASSERT_GT(h, 0);
  const std::string shot = testing::TempDir() + "playback_shot.bmp";
  const std::string dav = testing::TempDir() + "playback_local.dav";
  ASSERT_TRUE(eventually([&] { return NET_CapturePicture(h, shot.c_str()) == 1; }));
  std::ifstream bmp(shot, std::ios::binary);
  std::vector<uint8_t> head((std::istreambuf_iterator<char>(bmp)), std::istreambuf_iterator<char>());
  ASSERT_GT(head.size(), 54u);
  EXPECT_EQ(head[0], 'B');
  EXPECT_EQ(head[28], 24) << "24 bits a pixel";
  ASSERT_EQ(NET_SaveRealData(h, dav.c_str()), 1);
  ASSERT_TRUE(eventually([&] {
    std::ifstream f(dav, std::ios::binary | std::ios::ate);
    return f && f.tellg() > 20000;
  }));
  ASSERT_EQ(NET_StopSaveRealData(h), 1);
  EXPECT_EQ(NET_StopSaveRealData(h), 0);
  std::ifstream f(dav, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  proto::MediaBlockReader reader;
  reader.feed(bytes.data(), bytes.size());
  proto::MediaBlock block;
  ASSERT_EQ(reader.next(block), proto::MediaBlockReader::Result::block);
  EXPECT_EQ(block.kind, proto::kFrameVideoKey);
  EXPECT_EQ(NET_StopPlayBack(h), 1);
  EXPECT_EQ(NET_CapturePicture(h, shot.c_str()), 0);
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_INVALID_HANDLE));
  std::remove(shot.c_str());
  std::remove(dav.c_str());
  platform::destroy_window(window);
}

}  // namespace
