// Playback and backup against a scripted device: starts and their retry, stops, the control
// commands and skips, the position notification's nudge and on-screen time, the backup's
// callbacks, playback and backup stopping each other, and the state forgetting a device that
// goes away.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "brixa/live/channel_capture.h"
#include "brixa/record/record_fixture.h"

namespace brixa::record::testing {
namespace {

using namespace std::chrono_literals;
using Calls = std::vector<std::string>;

void* const kWindow = reinterpret_cast<void*>(0x5000);

class Playback : public RecordFixture {
 protected:
  void SetUp() override {
    RecordFixture::SetUp();
    add_session("KVR-1", 7);
  }

  int32_t start(const char* time = "20240131235950") {
    return brixa_start_playback(client_, kWindow, "KVR-1", 2, time);
  }

  // The Device SDK reports a position of the playback (on the caller's thread, as its own thread would).
  void report_position(int32_t handle, uint32_t played) {
    NET_PlayPosCallback notify = fake_->position_callback();
    ASSERT_NE(notify, nullptr);
    notify(handle, 1000, played, 0);
  }
  // The playback shows `time` and says so at its next position report.
  void show(int32_t handle, const NET_TIME& time) {
    fake_->set_osd_time(handle, time);
    report_position(handle, 0);
  }
};

TEST_F(Playback, StartPlaysAnHourFromTheStartTimeAndRegistersAPlaybackCapture) {
  int32_t handle = start();
  ASSERT_GT(handle, 0);
  EXPECT_EQ(fake_->calls(), (Calls{"play 7 2 2024-01-31 23:59:50 2024-02-01 00:59:50"}));
  live::CapturePtr capture = live::find_capture_by_stream(handle);
  ASSERT_NE(capture, nullptr);
  EXPECT_EQ(capture->is_playback, 1);
  EXPECT_EQ(capture->window, kWindow);
  EXPECT_EQ(session_field("KVR-1", [](device_session* s) { return s->playback_handle; }), handle);
  PlaybackSnapshot st = playback_snapshot();
  EXPECT_TRUE(st.playback_active);
  EXPECT_TRUE(st.has_current_device);
  EXPECT_EQ(text_of(st.current_time), "0000-00-00 00:00:00") << "a start does not set the playback time";
}

TEST_F(Playback, StartRefusals) {
  add_session("KVR-OFF", 0);
  EXPECT_EQ(brixa_start_playback(client_, kWindow, "KVR-OFF", 0, "20240101000000"), BRIXA_ERR_NO_SESSION);
  EXPECT_EQ(brixa_start_playback(client_, kWindow, "nobody", 0, "20240101000000"), BRIXA_ERR_NO_SESSION);
  int stranger = 0;
  EXPECT_EQ(brixa_start_playback(reinterpret_cast<brixa_handle>(&stranger), kWindow, "KVR-1", 0, "20240101000000"),
            BRIXA_ERR_FAILED);
  EXPECT_TRUE(fake_->calls().empty());
  EXPECT_FALSE(playback_snapshot().playback_active);

  // Any refusal but the open-channel error is final.
  fake_->refuse_next_starts(1, NET_ERR_NETWORK_ERROR);
  EXPECT_EQ(start(), -4);
  EXPECT_EQ(fake_->calls().size(), 1u);
  EXPECT_EQ(live::capture_count(), 0u);
}

TEST_F(Playback, AnOpenChannelRefusalIsRetriedOnceHalfASecondLater) {
  fake_->refuse_next_starts(1, NET_ERR_OPEN_CHANNEL_ERROR);
  auto before = std::chrono::steady_clock::now();
  int32_t handle = start();
  EXPECT_GE(std::chrono::steady_clock::now() - before, 450ms);
  EXPECT_GT(handle, 0);
  EXPECT_EQ(fake_->calls().size(), 2u);

  ASSERT_EQ(brixa_stop_playback(handle), 0);
  fake_->clear_calls();
  fake_->refuse_next_starts(2, NET_ERR_OPEN_CHANNEL_ERROR);
  EXPECT_EQ(start(), -4);
  Calls calls = fake_->calls();
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](const std::string& c) { return c.rfind("play ", 0) == 0; }), 2)
      << "one retry only";
}

TEST_F(Playback, StopDeletesTheCaptureAndASecondStopFails) {
  int32_t handle = start();
  ASSERT_GT(handle, 0);
  EXPECT_EQ(brixa_stop_playback(handle), 0);
  EXPECT_EQ(live::find_capture_by_stream(handle), nullptr);
  EXPECT_FALSE(playback_snapshot().playback_active);
  EXPECT_EQ(brixa_stop_playback(handle), -1);
}

TEST_F(Playback, AStartOnTheSameDeviceStopsItsPlaybackFirst) {
  int32_t first = start();
  int32_t second = start("20240201120000");
  ASSERT_GT(second, 0);
  EXPECT_EQ(fake_->calls(), (Calls{"play 7 2 2024-01-31 23:59:50 2024-02-01 00:59:50", "stop " + std::to_string(first),
                                   "play 7 2 2024-02-01 12:00:00 2024-02-01 13:00:00"}));
  EXPECT_EQ(live::find_capture_by_stream(first), nullptr);
  EXPECT_NE(live::find_capture_by_stream(second), nullptr);
}

TEST_F(Playback, ControlCommandsCallTheDeviceInOrder) {
  int32_t h = start();
  std::string id = std::to_string(h);
  struct Case {
    uint32_t command;
    Calls calls;
  } cases[] = {
      {BRIXA_PLAYBACK_NORMAL, {"normal " + id, "pause " + id + " 0"}},
      {BRIXA_PLAYBACK_PAUSE, {"pause " + id + " 1"}},
      {BRIXA_PLAYBACK_FAST, {"fast " + id}},
      {BRIXA_PLAYBACK_SLOW, {"slow " + id}},
  };
  for (const auto& c : cases) {
    for (bool failing : {false, true}) {
      fake_->clear_calls();
      fake_->fail_controls(failing);
      EXPECT_EQ(brixa_control_playback(h, c.command), failing ? -1 : 0) << c.command;
      EXPECT_EQ(fake_->calls(), c.calls) << c.command;
    }
  }
  fake_->clear_calls();
  EXPECT_EQ(brixa_control_playback(h, 6), 0);
  EXPECT_EQ(brixa_control_playback(h, static_cast<uint32_t>(-1)), 0);
  EXPECT_TRUE(fake_->calls().empty());
}

// A frame still on its way when the user pauses must not resume the playback through the nudge.
TEST_F(Playback, ThePositionNotificationNeverResumesAPausedPlayback) {
  int32_t h = start();
  std::string id = std::to_string(h);
  ASSERT_EQ(brixa_control_playback(h, BRIXA_PLAYBACK_PAUSE), 0);
  fake_->clear_calls();
  report_position(h, 40);
  EXPECT_TRUE(fake_->calls().empty()) << "paused by the user: no nudge";

  ASSERT_EQ(brixa_control_playback(h, BRIXA_PLAYBACK_NORMAL), 0);
  fake_->clear_calls();
  report_position(h, 80);
  EXPECT_EQ(fake_->calls(), (Calls{"pause " + id + " 1", "pause " + id + " 0", "normal " + id}))
      << "playing again: the nudge is back";
}

TEST_F(Playback, ThePositionNotificationNudgesEvery10KiBAndKeepsAChosenSpeed) {
  int32_t h = start();
  std::string id = std::to_string(h);
  Calls nudge_at_normal = {"pause " + id + " 1", "pause " + id + " 0", "normal " + id};
  Calls nudge_keeping_speed = {"pause " + id + " 1", "pause " + id + " 0"};

  fake_->clear_calls();
  report_position(h, 10);
  EXPECT_TRUE(fake_->calls().empty()) << "10 KiB is not yet more than 10";
  report_position(h, 11);
  EXPECT_EQ(fake_->calls(), nudge_at_normal);

  ASSERT_EQ(brixa_control_playback(h, BRIXA_PLAYBACK_FAST), 0);
  fake_->clear_calls();
  report_position(h, 30);
  EXPECT_EQ(fake_->calls(), nudge_keeping_speed) << "the nudge must not undo the faster speed";

  // Faster then slower is normal speed again.
  ASSERT_EQ(brixa_control_playback(h, BRIXA_PLAYBACK_SLOW), 0);
  fake_->clear_calls();
  report_position(h, 50);
  EXPECT_EQ(fake_->calls(), nudge_at_normal);

  ASSERT_EQ(brixa_control_playback(h, BRIXA_PLAYBACK_SLOW), 0);
  ASSERT_EQ(brixa_control_playback(h, BRIXA_PLAYBACK_NORMAL), 0);
  fake_->clear_calls();
  report_position(h, 70);
  EXPECT_EQ(fake_->calls(), nudge_at_normal) << "command 0 restores normal speed";

  // Reports of a playback that is not the current one change nothing.
  fake_->clear_calls();
  fake_->set_osd_time(h + 50, NET_TIME{2030, 1, 1, 0, 0, 0});
  report_position(h + 50, 500);
  EXPECT_TRUE(fake_->calls().empty());
  EXPECT_EQ(playback_snapshot().current_time.year, 0u);
}

TEST_F(Playback, TheOnScreenTimeBecomesThePlaybackTimeOnceItHasAYear) {
  int32_t h = start();
  fake_->set_osd_time(h, NET_TIME{0, 1, 1, 0, 0, 0});
  report_position(h, 0);
  EXPECT_EQ(playback_snapshot().current_time.year, 0u);
  show(h, NET_TIME{2024, 1, 31, 23, 59, 55});
  EXPECT_EQ(text_of(playback_snapshot().current_time), "2024-01-31 23:59:55");
}

TEST_F(Playback, SkipsRestartTenSecondsFromTheOnScreenTimeAndTakeTheCaptureAlong) {
  int32_t h = start();
  live::CapturePtr capture = live::find_capture_by_stream(h);
  ASSERT_NE(capture, nullptr);
  capture->wdr_enabled.store(1);
  capture->history_interval.store(700);
  show(h, NET_TIME{2024, 1, 31, 23, 59, 55});
  fake_->clear_calls();

  int32_t forward = brixa_control_playback(h, BRIXA_PLAYBACK_SKIP_FORWARD);
  ASSERT_GT(forward, 0);
  EXPECT_EQ(fake_->calls(),
            (Calls{"stop " + std::to_string(h), "play 7 2 2024-02-01 00:00:05 2024-02-01 01:00:05"}));
  EXPECT_EQ(live::find_capture_by_stream(h), nullptr);
  live::CapturePtr moved = live::find_capture_by_stream(forward);
  ASSERT_NE(moved, nullptr);
  EXPECT_EQ(moved->window, kWindow);
  EXPECT_EQ(moved->wdr_enabled.load(), 1);
  EXPECT_EQ(moved->history_interval.load(), 700u);
  EXPECT_EQ(session_field("KVR-1", [](device_session* s) { return s->playback_handle; }), forward);
  PlaybackSnapshot st = playback_snapshot();
  EXPECT_EQ(text_of(st.current_time), "2024-02-01 00:00:05") << "a restart's start is the playback time";
  EXPECT_EQ(st.playback_handle, forward);
  EXPECT_TRUE(st.playback_active);

  // Before the new playback reports, a skip back starts from the restart's start; the handle
  // given is ignored.
  fake_->clear_calls();
  int32_t back = brixa_control_playback(12345, BRIXA_PLAYBACK_SKIP_BACK);
  ASSERT_GT(back, 0);
  EXPECT_EQ(fake_->calls(),
            (Calls{"stop " + std::to_string(forward), "play 7 2 2024-01-31 23:59:55 2024-02-01 00:59:55"}));
  EXPECT_EQ(brixa_stop_playback(back), 0);
  EXPECT_EQ(live::capture_count(), 0u) << "stopping the new handle deletes the moved capture";
}

TEST_F(Playback, ASkipBeforeAnyOnScreenTimeLeavesThePlaybackAlone) {
  EXPECT_EQ(brixa_control_playback(0, BRIXA_PLAYBACK_SKIP_FORWARD), 0) << "no current device";
  int32_t h = start();
  fake_->clear_calls();
  EXPECT_EQ(brixa_control_playback(h, BRIXA_PLAYBACK_SKIP_BACK), 0);
  EXPECT_EQ(brixa_control_playback(h, BRIXA_PLAYBACK_SKIP_FORWARD), 0);
  EXPECT_TRUE(fake_->calls().empty());
  EXPECT_TRUE(playback_snapshot().playback_active);
}

TEST_F(Playback, AFailedSkipRestartLeavesNothingPlaying) {
  int32_t h = start();
  show(h, NET_TIME{2024, 1, 31, 12, 0, 0});
  fake_->refuse_next_starts(1, NET_ERR_OPEN_CHANNEL_ERROR);
  EXPECT_EQ(brixa_control_playback(h, BRIXA_PLAYBACK_SKIP_FORWARD), 0);
  EXPECT_FALSE(playback_snapshot().playback_active);
  EXPECT_EQ(session_field("KVR-1", [](device_session* s) { return s->playback_handle; }), 0);
}

class Backup : public Playback {
 protected:
  int32_t backup(const char* time, int32_t secs = 60) {
    return brixa_start_backup(client_, 0, "KVR-1", 1, time, secs, "/tmp/out.dav");
  }
};

TEST_F(Backup, ProgressArrivesAsCallbacksAndTheEndAsAFinishedProgressFollowedByCompletion) {
  int32_t b = backup("20240131235950", 120);
  ASSERT_GT(b, 0);
  EXPECT_EQ(fake_->calls(), (Calls{"download 7 1 2024-01-31 23:59:50 2024-02-01 00:01:50 /tmp/out.dav"}));
  EXPECT_TRUE(playback_snapshot().backup_active);
  EXPECT_EQ(fake_->download_user(), reinterpret_cast<intptr_t>(client_));

  NET_TimeDownloadPosCallback notify = fake_->download_callback();
  std::thread sdk_thread([&] {
    notify(b, 900, 300, 0, nullptr, fake_->download_user());
    notify(b, 900, 0xFFFFFFFFu, 0, nullptr, fake_->download_user());
  });
  sdk_thread.join();
  ASSERT_TRUE(deliveries_.wait_for(3));
  auto seen = deliveries_.seen();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].id, BRIXA_CB_CALLBACK_BACKUP_PROGRESS);
  EXPECT_EQ(seen[0].tag1, 900);
  EXPECT_EQ(seen[0].tag2, 300);
  EXPECT_EQ(seen[1].id, BRIXA_CB_CALLBACK_BACKUP_PROGRESS);
  EXPECT_EQ(seen[1].tag2, -1);
  EXPECT_EQ(seen[2].id, BRIXA_CB_CALLBACK_BACKUP_COMPLETED);
  EXPECT_EQ(seen[2].tag1, 900);
  EXPECT_EQ(seen[2].tag2, -1);
  for (const auto& d : seen) EXPECT_FALSE(d.has_info);
  EXPECT_TRUE(playback_snapshot().backup_active) << "the end is only reported";

  EXPECT_EQ(brixa_stop_backup(), 0);
  EXPECT_EQ(session_field("KVR-1", [](device_session* s) { return s->backup_handle; }), 0);
  EXPECT_EQ(brixa_stop_backup(), -1);
}

TEST_F(Backup, AFailedStopStillEndsTheBackup) {
  int32_t b = backup("20240131235950");
  ASSERT_GT(b, 0);
  fake_->stop_download(b);  // the device ended it already
  EXPECT_EQ(brixa_stop_backup(), -3);
  EXPECT_FALSE(playback_snapshot().backup_active);
  EXPECT_EQ(brixa_stop_backup(), -1);
}

TEST_F(Backup, WithoutAStartTimeItNeedsAPlaybackThatHasShownAPicture) {
  EXPECT_EQ(backup(""), -11);
  EXPECT_EQ(backup(nullptr), -11);
  EXPECT_TRUE(fake_->calls().empty());

  int32_t h = start();
  fake_->clear_calls();
  EXPECT_EQ(backup(""), -11) << "no on-screen time yet";
  EXPECT_TRUE(fake_->calls().empty());
  EXPECT_TRUE(playback_snapshot().playback_active) << "nothing changed";
  EXPECT_NE(live::find_capture_by_stream(h), nullptr);

  show(h, NET_TIME{2024, 2, 1, 0, 0, 5});
  int32_t b = backup("", 30);
  ASSERT_GT(b, 0);
  EXPECT_EQ(fake_->calls(), (Calls{"stop " + std::to_string(h),
                                   "download 7 1 2024-01-31 23:59:50 2024-02-01 00:00:20 /tmp/out.dav"}));
  EXPECT_FALSE(playback_snapshot().playback_active);
  EXPECT_EQ(live::find_capture_by_stream(h), nullptr);
}

TEST_F(Backup, ABackupStopsAPlaybackEvenWhenItFails) {
  int32_t h = start();
  fake_->refuse_next_starts(1, NET_ERR_NETWORK_ERROR);
  fake_->clear_calls();
  EXPECT_EQ(backup("20240131000000"), -4);
  EXPECT_EQ(fake_->calls().front(), "stop " + std::to_string(h));
  EXPECT_FALSE(playback_snapshot().playback_active);
  EXPECT_FALSE(playback_snapshot().backup_active);
}

TEST_F(Backup, APlaybackStartStopsTheBackupAndANewBackupStopsTheOldOne) {
  int32_t first = backup("20240131000000");
  fake_->clear_calls();
  int32_t second = backup("20240131010000");
  ASSERT_GT(second, 0);
  EXPECT_EQ(fake_->calls().front(), "stop_download " + std::to_string(first));

  fake_->clear_calls();
  int32_t h = start();
  ASSERT_GT(h, 0);
  EXPECT_EQ(fake_->calls().front(), "stop_download " + std::to_string(second));
  EXPECT_FALSE(playback_snapshot().backup_active);
  EXPECT_EQ(brixa_stop_backup(), -1);
}

TEST_F(Backup, TheOpenChannelErrorIsRetriedOnce) {
  fake_->refuse_next_starts(1, NET_ERR_OPEN_CHANNEL_ERROR);
  EXPECT_GT(backup("20240131000000"), 0);
  EXPECT_EQ(fake_->calls().size(), 2u);
  EXPECT_EQ(brixa_start_backup(client_, 0, "KVR-OFF", 0, "20240131000000", 10, "/tmp/x.dav"), BRIXA_ERR_NO_SESSION);
}

// The state lets go of a device that goes away; later commands find no current device.
TEST_F(Playback, TeardownOfTheCurrentDeviceClearsTheState) {
  struct Case {
    const char* name;
    void (*teardown)(brixa_handle);
  } cases[] = {
      {"logout", [](brixa_handle c) { brixa_logout(c, "KVR-1"); }},
      {"reset", [](brixa_handle c) { brixa_reset(c, "KVR-1"); }},
  };
  for (const auto& c : cases) {
    with_client(client_, [](brixa_client* cl) {
      DeviceListLock list(cl->device_list_lock);
      if (device_session* s = find_session(cl, "KVR-1")) s->login_handle = 7, s->login_count = 1;
      return 0;
    });
    if (session_field("KVR-1", [](device_session*) { return 1; }) == 0) add_session("KVR-1", 7);
    int32_t h = start();
    ASSERT_GT(h, 0) << c.name;
    show(h, NET_TIME{2024, 1, 31, 12, 0, 0});
    c.teardown(client_);
    PlaybackSnapshot st = playback_snapshot();
    EXPECT_FALSE(st.has_current_device) << c.name;
    EXPECT_FALSE(st.playback_active) << c.name;
    fake_->clear_calls();
    EXPECT_EQ(brixa_control_playback(h, BRIXA_PLAYBACK_SKIP_FORWARD), 0) << c.name;
    EXPECT_EQ(brixa_start_backup(client_, 0, "KVR-1", 1, "", 10, "/tmp/x.dav"), -11) << c.name;
    EXPECT_TRUE(fake_->calls().empty()) << c.name;
    brixa_stop_playback(h);
  }
}

TEST_F(Playback, ReleasingTheClientStopsItsPlaybackAndBackupAndClearsTheState) {
  int32_t h = start();
  add_session("KVR-2", 8);
  int32_t b = brixa_start_backup(client_, 0, "KVR-2", 0, "20240131000000", 10, "/tmp/x.dav");
  ASSERT_GT(b, 0);
  fake_->clear_calls();
  brixa_release(client_);
  Calls calls = fake_->calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "stop_download " + std::to_string(b)), calls.end());
  EXPECT_EQ(live::find_capture_by_stream(h), nullptr);
  EXPECT_FALSE(playback_snapshot().has_current_device);
  EXPECT_EQ(brixa_stop_backup(), -2) << "the backup's device is gone";
  client_ = brixa_create();  // for the fixture's teardown
}

// Notifications of the running playback arrive while the exports work on it: the state is
// shared without races (run under the thread sanitizer).
TEST_F(Playback, NotificationsRaceWithControlsAndSkips) {
  int32_t h = start();
  show(h, NET_TIME{2024, 1, 31, 12, 0, 0});
  NET_PlayPosCallback notify = fake_->position_callback();
  std::atomic<bool> stop{false};
  std::thread sdk_thread([&] {
    uint32_t played = 0;
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!stop.load() && std::chrono::steady_clock::now() < deadline) {
      PlaybackSnapshot st = playback_snapshot();
      notify(st.playback_handle, 1000, played += 11, 0);
      std::this_thread::yield();
    }
  });
  for (int i = 0; i < 20; ++i) {
    int32_t current = playback_snapshot().playback_handle;
    fake_->set_osd_time(current, NET_TIME{2024, 1, 31, 12, 0, static_cast<uint32_t>(i)});
    brixa_control_playback(current, static_cast<uint32_t>(i % 4));
    EXPECT_GT(brixa_control_playback(current, i % 2 == 0 ? BRIXA_PLAYBACK_SKIP_FORWARD : BRIXA_PLAYBACK_SKIP_BACK), 0);
  }
  stop.store(true);
  sdk_thread.join();
  EXPECT_TRUE(playback_snapshot().playback_active);
}

}  // namespace
}  // namespace brixa::record::testing
