// Recordings against the device simulator through a real tunnel, all in this process on
// loopback: record pages and month flags of configured recordings, a playback into a window
// with its controls and skips, and a backup into a file with its callbacks.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "brixa/api/brixa.h"
#include "brixa/live/channel_capture.h"
#include "brixa/record/date_time.h"
#include "brixa/record/playback.h"
#include "brixa/record/record_fixture.h"
#include "platform/window/window.h"
#include "sim/device/device.h"
#include "sim/tunnel/tunnel_service.h"

namespace brixa::record::testing {
namespace {

using namespace std::chrono_literals;
using sim::device::Device;
using sim::device::RecordSpan;
using sim::device::Settings;

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit = 10000ms) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

int64_t epoch_of(const char* text) {
  NET_TIME t = parse_time(text);
  struct tm fields {};
  fields.tm_year = static_cast<int>(t.year) - 1900;
  fields.tm_mon = static_cast<int>(t.month) - 1;
  fields.tm_mday = static_cast<int>(t.day);
  fields.tm_hour = static_cast<int>(t.hour);
  fields.tm_min = static_cast<int>(t.minute);
  fields.tm_sec = static_cast<int>(t.second);
  fields.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&fields));
}

// One channel-0 span of one-minute files.
RecordSpan minutes_from(const char* start, int files) {
  RecordSpan span;
  span.channel = 0;
  span.start = epoch_of(start);
  span.end = span.start + 60 * files;
  span.file_seconds = 60;
  return span;
}

class RecordingsSim : public ::testing::Test {
 protected:
  void SetUp() override {
    signal(SIGPIPE, SIG_IGN);  // a tunnel relay may write into a socket its peer just closed
    ASSERT_TRUE(service_.start());
    reset_playback_state_for_testing();
    brixa_init("127.0.0.1", service_.port(), "key");
    client_ = brixa_create();
    ASSERT_EQ(brixa_cli_attach_callback(client_, record_delivery, reinterpret_cast<intptr_t>(&deliveries_)), 0);
    window_ = platform::create_window(
        platform::WindowSpec{nullptr, platform::Rect{0, 0, 352, 288}, platform::WS_VISIBLE, "pane", nullptr, nullptr});
    ASSERT_NE(window_, nullptr);

    Settings s;
    s.dev_id = "KVR-REC";
    s.channels = 2;
    s.users = {{"admin", "admin-pass"}};
    s.tunnel.service_port = service_.port();
    // 250 files on 10 January, 100 on 11 January, one file on the 1st and one on the 31st.
    s.recordings = std::vector<RecordSpan>{minutes_from("20240101120000", 1), minutes_from("20240110000000", 250),
                                           minutes_from("20240111000000", 100), minutes_from("20240131120000", 1)};
    device_ = std::make_unique<Device>(std::move(s));
    ASSERT_TRUE(device_->start());
    ASSERT_TRUE(device_->wait_tunnel_registered(5000));
    brixa_connection c = brixa_create_connect(client_, "KVR-REC", device_->tunnel_port(), 0);
    ASSERT_NE(c, nullptr);
    int32_t port = brixa_connnect_get_mapped_port(client_, c);
    ASSERT_GT(port, 0);
    ASSERT_EQ(brixa_login(client_, "KVR-REC", static_cast<uint16_t>(port), "admin", "admin-pass"), 0);
  }
  void TearDown() override {
    brixa_cli_detach_callback(client_);
    brixa_release(client_);
    brixa_uninit();
    device_.reset();
    service_.stop();
    platform::destroy_window(window_);
    reset_playback_state_for_testing();
  }

  // The tags of the deliveries from `from` on.
  std::vector<std::pair<intptr_t, int32_t>> tags(size_t from = 0) {
    std::vector<std::pair<intptr_t, int32_t>> out;
    auto seen = deliveries_.seen();
    for (size_t i = from; i < seen.size(); ++i) out.emplace_back(seen[i].tag1, seen[i].tag2);
    return out;
  }

  sim::tunnel::TunnelService service_;
  std::unique_ptr<Device> device_;
  brixa_handle client_ = nullptr;
  platform::HWND window_ = nullptr;
  Deliveries deliveries_;
};

using Tags = std::vector<std::pair<intptr_t, int32_t>>;

TEST_F(RecordingsSim, RecordedFilesArriveInPages) {
  struct Case {
    const char* start;
    const char* end;
    Tags pages;
  } cases[] = {
      {"20240110000000", "20240111000000", {{1, 100}, {2, 100}, {3, 50}}},
      {"20240111000000", "20240112000000", {{1, 100}, {2, 0}}},
      {"20240120000000", "20240121000000", {{1, 0}}},
  };
  for (const auto& c : cases) {
    size_t before = deliveries_.seen().size();
    ASSERT_EQ(brixa_query_record_files(client_, "KVR-REC", 0, c.start, c.end), 0) << c.start;
    ASSERT_TRUE(deliveries_.wait_for(before + c.pages.size())) << c.start;
    EXPECT_EQ(tags(before), c.pages) << c.start;
  }
  std::string first_page = deliveries_.seen()[0].info;
  EXPECT_EQ(first_page.rfind("{\"dev_id\":\"KVR-REC\",\"chl_id\":0,\"start\":\"20240110000000\",\"end\":\"20240111000000\","
                             "\"records\":[{\"name\":",
                             0),
            0u)
      << first_page;
  EXPECT_NE(first_page.find("\"start\":\"20240110000000\",\"end\":\"20240110000100\""), std::string::npos);
}

TEST_F(RecordingsSim, TheMonthFlagsTheFirstAndTheLastDay) {
  ASSERT_EQ(brixa_query_record_status(client_, "KVR-REC", 0, "202401"), 0);
  ASSERT_TRUE(deliveries_.wait_for(1));
  Delivery d = deliveries_.seen()[0];
  EXPECT_EQ(d.id, BRIXA_CB_CALLBACK_QUERY_RECORD_STATUS);
  EXPECT_EQ(d.tag2, 0);
  EXPECT_EQ(d.info, "{\"dev_id\":\"KVR-REC\",\"chl_id\":0,\"month\":\"202401\",\"flag\":\"1000000001100000000000000000001\"}");
}

TEST_F(RecordingsSim, AQueryOfADeviceNotLoggedInIsRefused) {
  ASSERT_EQ(brixa_logout(client_, "KVR-REC"), 0);
  EXPECT_EQ(brixa_query_record_files(client_, "KVR-REC", 0, "20240110000000", "20240111000000"), BRIXA_ERR_NO_SESSION);
  EXPECT_EQ(brixa_query_record_status(client_, "KVR-REC", 0, "202401"), BRIXA_ERR_NO_SESSION);
  EXPECT_EQ(brixa_start_playback(client_, window_, "KVR-REC", 0, "20240110000000"), BRIXA_ERR_NO_SESSION);
}

TEST_F(RecordingsSim, APlaybackShowsItsTimeAndSkipsTenSeconds) {
  int32_t h = brixa_start_playback(client_, window_, "KVR-REC", 0, "20240110000000");
  ASSERT_GT(h, 0);
  ASSERT_TRUE(wait_until([] { return !unset(playback_snapshot().current_time); })) << "the on-screen time arrives";
  for (uint32_t command : {BRIXA_PLAYBACK_PAUSE, BRIXA_PLAYBACK_NORMAL, BRIXA_PLAYBACK_FAST, BRIXA_PLAYBACK_SLOW}) {
    EXPECT_EQ(brixa_control_playback(h, command), 0) << command;
  }
  NET_TIME before = playback_snapshot().current_time;
  int32_t skipped = brixa_control_playback(h, BRIXA_PLAYBACK_SKIP_FORWARD);
  ASSERT_GT(skipped, 0);
  EXPECT_NE(skipped, h);
  NET_TIME restart = playback_snapshot().current_time;
  int64_t moved = epoch_of(format_time(restart).c_str()) - epoch_of(format_time(before).c_str());
  EXPECT_GE(moved, 10) << format_time(before) << " -> " << format_time(restart);
  EXPECT_LE(moved, 12) << "a moment of playback may pass before the skip";
  EXPECT_EQ(live::find_capture_by_stream(h), nullptr);
  EXPECT_NE(live::find_capture_by_stream(skipped), nullptr);
  // The new playback reports its own time, from the restart on.
  ASSERT_TRUE(wait_until([&] {
    NET_TIME now = playback_snapshot().current_time;
    return epoch_of(format_time(now).c_str()) > epoch_of(format_time(restart).c_str());
  }));
  EXPECT_EQ(brixa_stop_playback(skipped), 0);
  EXPECT_EQ(brixa_stop_playback(skipped), -1);
  EXPECT_EQ(live::capture_count(), 0u);
}

TEST_F(RecordingsSim, ABackupWritesTheFileAndReportsItsEnd) {
  std::filesystem::path file = std::filesystem::temp_directory_path() / ("brixa_backup_" + std::to_string(getpid()) + ".dav");
  std::filesystem::remove(file);
  int32_t b = brixa_start_backup(client_, 0, "KVR-REC", 0, "20240110000000", 5, file.string().c_str());
  ASSERT_GT(b, 0);
  ASSERT_TRUE(wait_until([&] {
    for (const auto& d : deliveries_.seen())
      if (d.id == BRIXA_CB_CALLBACK_BACKUP_COMPLETED) return true;
    return false;
  }));
  // Only the backup's own callbacks: a tunnel status report may come in between.
  std::vector<Delivery> seen;
  for (const auto& d : deliveries_.seen()) {
    if (d.id == BRIXA_CB_CALLBACK_BACKUP_PROGRESS || d.id == BRIXA_CB_CALLBACK_BACKUP_COMPLETED) seen.push_back(d);
  }
  ASSERT_GE(seen.size(), 2u);
  const Delivery& last = seen[seen.size() - 1];
  const Delivery& finished = seen[seen.size() - 2];
  EXPECT_EQ(last.id, BRIXA_CB_CALLBACK_BACKUP_COMPLETED);
  EXPECT_EQ(last.tag2, -1);
  EXPECT_EQ(finished.id, BRIXA_CB_CALLBACK_BACKUP_PROGRESS);
  EXPECT_EQ(finished.tag2, -1);
  EXPECT_EQ(finished.tag1, last.tag1);
  EXPECT_GT(last.tag1, 0);
  for (size_t i = 0; i + 2 < seen.size(); ++i) {
    EXPECT_EQ(seen[i].id, BRIXA_CB_CALLBACK_BACKUP_PROGRESS);
    EXPECT_GE(seen[i].tag2, 0);
  }
  EXPECT_GT(std::filesystem::file_size(file), 0u);
  EXPECT_TRUE(playback_snapshot().backup_active);
  EXPECT_EQ(brixa_stop_backup(), 0);
  EXPECT_EQ(brixa_stop_backup(), -1);
  std::filesystem::remove(file);
}

TEST_F(RecordingsSim, AnUntimedBackupStartsFifteenSecondsBeforeThePlaybackPicture) {
  int32_t h = brixa_start_playback(client_, window_, "KVR-REC", 0, "20240110000100");
  ASSERT_GT(h, 0);
  ASSERT_TRUE(wait_until([] { return !unset(playback_snapshot().current_time); }));
  std::filesystem::path file = std::filesystem::temp_directory_path() / ("brixa_untimed_" + std::to_string(getpid()) + ".dav");
  int32_t b = brixa_start_backup(client_, 0, "KVR-REC", 0, "", 3, file.string().c_str());
  ASSERT_GT(b, 0);
  EXPECT_FALSE(playback_snapshot().playback_active) << "the playback was stopped";
  EXPECT_EQ(live::find_capture_by_stream(h), nullptr);
  EXPECT_EQ(brixa_stop_playback(h), -1) << "already stopped by the backup";
  ASSERT_TRUE(wait_until([&] {
    for (const auto& d : deliveries_.seen())
      if (d.id == BRIXA_CB_CALLBACK_BACKUP_COMPLETED) return true;
    return false;
  }));
  EXPECT_EQ(brixa_stop_backup(), 0);
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace brixa::record::testing
