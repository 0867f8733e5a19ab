#include "brixa/record/playback.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "brixa/core/callback_dispatch.h"
#include "brixa/core/client_registry.h"
#include "brixa/core/sdk_errors.h"
#include "brixa/live/channel_capture.h"
#include "brixa/record/date_time.h"
#include "brixa/record/record_sdk.h"
#include "platform/sync/mutex.h"
#include "trace/trace.h"

namespace brixa::record {
namespace {

constexpr int64_t kPlaybackSpanSecs = 3600;
constexpr int64_t kSkipSecs = 10;
constexpr int64_t kBackupLeadSecs = 15;  // an untimed backup starts this long before the picture
constexpr uint32_t kNudgeStep = 10;      // played KiB between two nudges of the playback
constexpr auto kRetryDelay = std::chrono::milliseconds(500);
constexpr int32_t kSlowest = -3;  // 1/8 speed
constexpr int32_t kFastest = 3;   // 8 times

// The session a playback or backup runs on, by identity: compared, never followed, until
// with_device() has found it in its client's list under the list lock.
struct DeviceId {
  brixa_handle client = nullptr;
  device_session* session = nullptr;
  int32_t login_handle = 0;
  explicit operator bool() const { return client != nullptr; }
};

// Serialises the exports of this family (outermost lock, see playback.h).
platform::Mutex ops_lock;

// The process's playback state. Touched by the exports (under ops_lock), the position
// notification on Device SDK threads, and the session teardown hook (under a device list lock).
struct PlaybackState {
  platform::Mutex lock;
  bool playback_active GUARDED_BY(lock) = false;
  bool backup_active GUARDED_BY(lock) = false;
  DeviceId device GUARDED_BY(lock);  // the current device
  void* window GUARDED_BY(lock) = nullptr;
  int32_t channel GUARDED_BY(lock) = 0;
  int32_t playback_handle GUARDED_BY(lock) = 0;  // the playback the position notification follows
  uint32_t position_mark GUARDED_BY(lock) = 0;
  NET_TIME current_time GUARDED_BY(lock) = {};
  int32_t speed_step GUARDED_BY(lock) = 0;
  // Set while the user's pause holds the current playback: the nudge must not resume it.
  bool user_paused GUARDED_BY(lock) = false;
  // Serialises the steering calls of the commands and of the nudge (taken before `lock`), so a
  // nudge never resumes a playback between a pause's decision and its call.
  platform::Mutex steer_lock;
};

PlaybackState& state() {
  static auto* s = new PlaybackState;  // lives as long as the process: notifications may come late
  return *s;
}

// Runs fn(session) under the client's device list lock when the device is still in its client's
// list and still logged in with the same login. False when it is gone.
template <class Fn>
bool with_device(const DeviceId& id, Fn&& fn) {
  if (!id) return false;
  int32_t result = 0;
  ClientRef client = find_client(id.client, &result);
  if (!client) return false;
  DeviceListLock list(client->device_list_lock);
  for (ListLink* l = client->devices.first(); l != client->devices.end(); l = l->next) {
    device_session* s = device_session::from_link(l);
    if (s == id.session && s->login_handle == id.login_handle && s->login_handle > 0) {
      fn(s);
      return true;
    }
  }
  return false;
}

DeviceId current_device() {
  PlaybackState& st = state();
  platform::MutexLock hold(st.lock);
  return st.device;
}

void set_playback_active(bool active) {
  PlaybackState& st = state();
  platform::MutexLock hold(st.lock);
  st.playback_active = active;
}

void set_backup_active(bool active) {
  PlaybackState& st = state();
  platform::MutexLock hold(st.lock);
  st.backup_active = active;
}

bool open_channel_refused() { return (sdk().last_error() & ~NET_ERROR_BASE) == NET_ERR_OPEN_CHANNEL_ERROR; }

void position_notification(int32_t play_handle, uint32_t total_size, uint32_t download_size, intptr_t user);

// NET_PlayBackByTimeEx with the position notification.
int32_t play_back(int32_t login_handle, int32_t channel, const NET_TIME& start, const NET_TIME& end, void* window) {
  return sdk().play_back_by_time(login_handle, channel, &start, &end, window, position_notification, 0, nullptr, 0);
}

// Carries the picture modes of a skipped playback's capture over to its successor's.
void move_capture(int32_t old_handle, int32_t new_handle, void* window, const char* dev_id, int32_t channel) {
  live::CapturePtr old_capture = old_handle > 0 ? live::find_capture_by_stream(old_handle) : nullptr;
  live::CapturePtr capture =
      live::AddChannelCaptures(static_cast<platform::HWND>(window), new_handle, dev_id, channel, 1);
  if (old_capture == nullptr) return;
  if (capture != nullptr) {
    capture->history_mode.store(old_capture->history_mode.load());
    capture->history_interval.store(old_capture->history_interval.load());
    capture->wdr_enabled.store(old_capture->wdr_enabled.load());
    capture->wdr_intensity.store(old_capture->wdr_intensity.load());
    capture->freeze_mode.store(old_capture->freeze_mode.load());
    capture->freeze_corner.store(old_capture->freeze_corner.load());
  }
  live::DeleteChannelCaptures(old_capture);
}

void delete_capture_of(int32_t play_handle) {
  live::CapturePtr capture = live::find_capture_by_stream(play_handle);
  if (capture != nullptr) {
    live::DeleteChannelCaptures(capture);
  } else {
    trace::step("No capture for this playback");
  }
}

// Stop playback, ops_lock held.
int32_t stop_playback_locked(int32_t playback_id) {
  set_playback_active(false);
  delete_capture_of(playback_id);
  if (sdk().stop_play_back(playback_id)) return BRIXA_OK;
  trace_netsdk_error("brixa_stop_playback", 102, "NET_StopPlayBack (102)");
  return BRIXA_ERR_FAILED;
}

// Stop backup, ops_lock held.
int32_t stop_backup_locked() {
  PlaybackState& st = state();
  DeviceId device;
  {
    platform::MutexLock hold(st.lock);
    if (!st.backup_active) {
      trace::step("No backup active");
      return -1;
    }
    device = st.device;
  }
  int32_t backup_handle = 0;
  if (!device || !with_device(device, [&](device_session* s) { backup_handle = s->backup_handle; })) {
    trace::step("No playing item");
    set_backup_active(false);
    return -2;
  }
  trace::step("Stopping backup");
  bool stopped = sdk().stop_download(backup_handle) != 0;
  set_backup_active(false);
  if (!stopped) {
    trace_netsdk_error("brixa_stop_backup", 73, "NET_StopDownload (73)");
    return -3;
  }
  with_device(device, [&](device_session* s) {
    if (s->backup_handle == backup_handle) s->backup_handle = 0;
  });
  return BRIXA_OK;
}

// Skips 10 seconds back or forward: the current device's playback restarts under a new handle.
// ops_lock held.
int32_t skip(bool forward) {
  trace::step(forward ? "skip forward" : "skip back");
  PlaybackState& st = state();
  DeviceId device;
  void* window = nullptr;
  int32_t channel = 0;
  {
    platform::MutexLock hold(st.lock);
    device = st.device;
    window = st.window;
    channel = st.channel;
    // Without an on-screen time there is nothing to skip from: the playback is left alone.
    if (!device || unset(st.current_time)) return 0;
  }
  int32_t old_handle = 0;
  char dev_id[kDevIdBytes] = {};
  bool found = with_device(device, [&](device_session* s) {
    copy_text(dev_id, s->dev_id);
    old_handle = s->playback_handle;
    if (old_handle > 0) {
      s->playback_handle = 0;
      set_playback_active(false);
    }
  });
  if (!found) return 0;
  if (old_handle > 0) {
    trace::step(" stopping playback");
    if (!sdk().stop_play_back(old_handle)) trace_netsdk_error("brixa_control_playback", 275, "NET_StopPlayBack (275)");
  }
  NET_TIME start;
  {
    platform::MutexLock hold(st.lock);  // final now: the old playback reports no more
    start = add_seconds(st.current_time, forward ? kSkipSecs : -kSkipSecs);
  }
  NET_TIME end = add_seconds(start, kPlaybackSpanSecs);
  trace::step(" starting playback");
  int32_t handle = play_back(device.login_handle, channel, start, end, window);
  if (handle == 0) {
    trace_netsdk_error("brixa_control_playback", 337, "NET_PlayBackByTimeEx (337)");
    return 0;
  }
  bool stored = with_device(device, [&](device_session* s) {
    s->playback_handle = handle;
    platform::MutexLock hold(st.lock);
    st.position_mark = 0;
    st.playback_active = true;
    st.playback_handle = handle;
    st.current_time = start;
    st.speed_step = 0;
    st.user_paused = false;
  });
  if (!stored) {
    // The device went away while the playback opened: nobody could stop this one.
    sdk().stop_play_back(handle);
    return 0;
  }
  move_capture(old_handle, handle, window, dev_id, channel);
  return handle;
}

void position_notification(int32_t play_handle, uint32_t /*total_size*/, uint32_t download_size, intptr_t /*user*/) {
  PlaybackState& st = state();
  bool nudge = false;
  bool normal_speed = false;
  {
    platform::MutexLock hold(st.lock);
    if (!st.playback_active || play_handle != st.playback_handle) return;
    if (download_size - st.position_mark > kNudgeStep) {
      nudge = true;
      // A speed the user chose stays: only at normal speed does the nudge restate it.
      normal_speed = st.speed_step == 0;
      st.position_mark = download_size;
    }
  }
  const RecordSdk& net = sdk();
  if (nudge) {
    platform::MutexLock steer(st.steer_lock);
    bool paused = false;
    {
      platform::MutexLock hold(st.lock);
      paused = st.user_paused && play_handle == st.playback_handle;
    }
    // A playback the user paused stays paused.
    if (!paused) {
      net.pause_play_back(play_handle, 1);
      net.pause_play_back(play_handle, 0);
      if (normal_speed) net.normal_play_back(play_handle);
    }
  }
  NET_TIME osd{}, span_start{}, span_end{};
  if (net.get_osd_time(play_handle, &osd, &span_start, &span_end) && osd.year != 0) {
    platform::MutexLock hold(st.lock);
    if (play_handle == st.playback_handle) st.current_time = osd;
  }
}

void download_notification(int32_t /*download_handle*/, uint32_t total_size, uint32_t download_size,
                           int32_t /*index*/, const NET_RECORDFILE_INFO* /*info*/, intptr_t user) {
  auto* client = reinterpret_cast<brixa_handle>(user);
  auto total = static_cast<intptr_t>(static_cast<int32_t>(total_size));
  auto downloaded = static_cast<int32_t>(download_size);
  post(client, BRIXA_CB_CALLBACK_BACKUP_PROGRESS, total, downloaded, nullptr, 0);
  if (download_size == 0xFFFFFFFFu) post(client, BRIXA_CB_CALLBACK_BACKUP_COMPLETED, total, downloaded, nullptr, 0);
  if (trace::on()) {
    char text[64];
    snprintf(text, sizeof text, "Backup progress %d %d", downloaded, static_cast<int32_t>(total_size));
    trace::step(text);
  }
}

void trace_time(const char* name, const NET_TIME& t) {
  trace::date_time(name, static_cast<int>(t.month), static_cast<int>(t.day), static_cast<int>(t.hour),
                   static_cast<int>(t.minute), static_cast<int>(t.second));
}

}  // namespace

int32_t start_playback(brixa_handle handle, void* hwnd, const char* dev_id, int32_t chl_id, const char* start_time) {
  if (!registry_open()) return BRIXA_ERR_NOT_INITIALISED;
  platform::MutexLock ops(ops_lock);
  PlaybackState& st = state();
  bool backing_up = false;
  {
    platform::MutexLock hold(st.lock);
    backing_up = st.backup_active;
  }
  if (backing_up) {
    trace::step("Start playback (126): stopping current backup");
    if (current_device()) stop_backup_locked();
    set_backup_active(false);
  }
  int32_t result = BRIXA_OK;
  ClientRef client = find_client(handle, &result);
  if (!client) return result;
  if (dev_id == nullptr) return BRIXA_ERR_NO_SESSION;

  DeviceId device;
  int32_t old_handle = 0;
  {
    DeviceListLock list(client->device_list_lock);
    device_session* s = find_logged_in_session(client.get(), dev_id);
    if (s == nullptr) return BRIXA_ERR_NO_SESSION;
    device = DeviceId{client.get(), s, s->login_handle};
    old_handle = s->playback_handle;
    if (old_handle > 0) {
      set_playback_active(false);
      s->playback_handle = 0;
    }
  }
  if (old_handle > 0) {
    sdk().stop_play_back(old_handle);
    delete_capture_of(old_handle);
  }

  NET_TIME start = parse_time(start_time);
  NET_TIME end = add_seconds(start, kPlaybackSpanSecs);
  int32_t playback = play_back(device.login_handle, chl_id, start, end, hwnd);
  if (playback == 0) {
    bool retry = open_channel_refused();
    trace_netsdk_error("brixa_start_playback", 116, "NET_PlayBackByTime (116)");
    if (retry) {
      std::this_thread::sleep_for(kRetryDelay);
      trace::step("Reattempting connection to playback (127)");
      playback = play_back(device.login_handle, chl_id, start, end, hwnd);
      if (playback == 0) trace_netsdk_error("brixa_start_playback", 129, "NET_PlayBackByTime (129)");
    }
  }
  if (playback == 0) return -4;

  live::AddChannelCaptures(static_cast<platform::HWND>(hwnd), playback, dev_id, chl_id, 1);
  bool stored = with_device(device, [&](device_session* s) {
    s->playback_handle = playback;
    platform::MutexLock hold(st.lock);
    st.window = hwnd;
    st.channel = chl_id;
    st.playback_active = true;
    st.device = device;
    st.playback_handle = playback;
    st.position_mark = 0;
    st.speed_step = 0;
    st.user_paused = false;
  });
  if (!stored) {
    // Logged out or released while the playback opened: nobody could stop this one.
    delete_capture_of(playback);
    sdk().stop_play_back(playback);
    return BRIXA_ERR_NO_SESSION;
  }
  return playback;
}

int32_t stop_playback(int32_t playback_id) {
  platform::MutexLock ops(ops_lock);
  return stop_playback_locked(playback_id);
}

int32_t control_playback(int32_t playback_id, uint32_t ctrl_cmd) {
  if (ctrl_cmd > BRIXA_PLAYBACK_SKIP_FORWARD) return 0;
  if (ctrl_cmd >= BRIXA_PLAYBACK_SKIP_BACK) {
    platform::MutexLock ops(ops_lock);
    return skip(ctrl_cmd == BRIXA_PLAYBACK_SKIP_FORWARD);
  }
  // Commands 0-3 act on the handle given and touch only the speed in the state: they need not
  // wait behind a start or skip that waits for the device.
  const RecordSdk& net = sdk();
  PlaybackState& st = state();
  // The speed the position notification must keep, when this command changes it.
  auto step_speed = [&](int32_t delta) {
    platform::MutexLock hold(st.lock);
    if (playback_id != st.playback_handle) return;
    st.speed_step = delta == 0 ? 0 : std::clamp(st.speed_step + delta, kSlowest, kFastest);
  };
  auto set_paused = [&](bool paused) {
    platform::MutexLock hold(st.lock);
    if (playback_id == st.playback_handle) st.user_paused = paused;
  };
  platform::MutexLock steer(st.steer_lock);
  switch (ctrl_cmd) {
    case BRIXA_PLAYBACK_NORMAL: {
      net.normal_play_back(playback_id);
      bool ok = net.pause_play_back(playback_id, 0) == 1;
      step_speed(0);
      set_paused(false);
      if (ok) return 0;
      trace_netsdk_error("brixa_control_playback", 266, "NET_NormalPlayBack (266)");
      return -1;
    }
    case BRIXA_PLAYBACK_PAUSE:
      set_paused(true);
      if (net.pause_play_back(playback_id, 1) == 1) return 0;
      set_paused(false);
      trace_netsdk_error("brixa_control_playback", 278, "NET_PausePlayBack (278)");
      return -1;
    case BRIXA_PLAYBACK_FAST:
      if (net.fast_play_back(playback_id) == 1) {
        step_speed(1);
        return 0;
      }
      trace_netsdk_error("brixa_control_playback", 290, "NET_FastPlayBack (290)");
      return -1;
    default:  // BRIXA_PLAYBACK_SLOW
      if (net.slow_play_back(playback_id) == 1) {
        step_speed(-1);
        return 0;
      }
      trace_netsdk_error("brixa_control_playback", 303, "NET_SlowPlayBack (303)");
      return -1;
  }
  return 0;
}

int32_t start_backup(brixa_handle handle, const char* dev_id, int32_t chl_id, const char* start_time,
                     int32_t backup_len_secs, const char* file_name) {
  bool untimed = start_time == nullptr || start_time[0] == 0;
  platform::MutexLock ops(ops_lock);
  PlaybackState& st = state();
  bool playing = false;
  bool backing_up = false;
  DeviceId device;
  {
    platform::MutexLock hold(st.lock);
    playing = st.playback_active;
    backing_up = st.backup_active;
    device = st.device;
    // Nothing to take the start from (no playback, or none that has shown a picture yet).
    if (untimed && (!playing || unset(st.current_time))) return -11;
  }
  if (playing) {
    trace::step("Start backup (314): stopping current playback");
    int32_t playback_id = 0;
    if (device && with_device(device, [&](device_session* s) { playback_id = s->playback_handle; }) &&
        playback_id > 0) {
      stop_playback_locked(playback_id);
    } else {
      set_playback_active(false);
    }
  }
  if (backing_up) {
    trace::step("Start backup (324): stopping current backup");
    if (device) stop_backup_locked();
    set_backup_active(false);
  }
  if (!registry_open()) {
    trace::step("Start backup (335): no client map");
    return BRIXA_ERR_NOT_INITIALISED;
  }
  int32_t result = BRIXA_OK;
  ClientRef client = find_client(handle, &result);
  if (!client) return result;
  if (dev_id == nullptr) return BRIXA_ERR_NO_SESSION;
  {
    DeviceListLock list(client->device_list_lock);
    device_session* s = find_logged_in_session(client.get(), dev_id);
    if (s == nullptr) return BRIXA_ERR_NO_SESSION;
    device = DeviceId{client.get(), s, s->login_handle};
  }

  NET_TIME start;
  if (!untimed) {
    trace::step("User-supplied starting time for backup");
    start = parse_time(start_time);
  } else {
    trace::step("Current playback time for starting time of backup");
    platform::MutexLock hold(st.lock);
    start = add_seconds(st.current_time, -kBackupLeadSecs);
  }
  NET_TIME end = add_seconds(start, backup_len_secs);
  trace_time("start", start);
  trace_time("end", end);

  auto download = [&] {
    return sdk().download_by_time(device.login_handle, chl_id, 0, &start, &end, file_name, download_notification,
                                  reinterpret_cast<intptr_t>(handle));
  };
  int32_t backup = download();
  if (backup == 0) {
    bool retry = open_channel_refused();
    trace_netsdk_error("brixa_start_backup", 306, "NET_DownloadByTime (306)");
    if (retry) {
      std::this_thread::sleep_for(kRetryDelay);
      trace::step("Reattempting connection to backup (313)");
      backup = download();
      if (backup == 0) trace_netsdk_error("brixa_start_backup", 133, "NET_DownloadByTime (133)");
    }
  }
  if (backup == 0) return -4;

  trace::step("Backup started");
  trace::value("backup_id", backup);
  bool stored = with_device(device, [&](device_session* s) {
    s->backup_handle = backup;
    platform::MutexLock hold(st.lock);
    st.backup_active = true;
    st.device = device;
  });
  if (!stored) {
    // Logged out or released while the download opened: nobody could stop this one.
    sdk().stop_download(backup);
    return BRIXA_ERR_NO_SESSION;
  }
  return backup;
}

int32_t stop_backup() {
  platform::MutexLock ops(ops_lock);
  return stop_backup_locked();
}

void forget_session(device_session* session) {
  PlaybackState& st = state();
  platform::MutexLock hold(st.lock);
  if (st.device.session != session) return;
  st.device = DeviceId{};
  st.playback_active = false;
  st.playback_handle = 0;
}

void stop_session_recordings(device_session* session) {
  if (session->playback_handle > 0) {
    delete_capture_of(session->playback_handle);
    if (!sdk().stop_play_back(session->playback_handle)) {
      trace_netsdk_error("brixa_release", 195, "NET_StopPlayBack (195)");
    }
    session->playback_handle = 0;
  }
  if (session->backup_handle > 0) {
    if (!sdk().stop_download(session->backup_handle)) {
      trace_netsdk_error("brixa_release", 196, "NET_StopDownload (196)");
    }
    session->backup_handle = 0;
  }
  forget_session(session);
}

PlaybackSnapshot playback_snapshot() {
  PlaybackState& st = state();
  platform::MutexLock hold(st.lock);
  return PlaybackSnapshot{st.playback_active, st.backup_active,  static_cast<bool>(st.device),
                          st.playback_handle, st.current_time,   st.speed_step};
}

void reset_playback_state_for_testing() {
  PlaybackState& st = state();
  platform::MutexLock hold(st.lock);
  st.playback_active = false;
  st.backup_active = false;
  st.device = DeviceId{};
  st.window = nullptr;
  st.channel = 0;
  st.playback_handle = 0;
  st.position_mark = 0;
  st.current_time = NET_TIME{};
  st.speed_step = 0;
  st.user_paused = false;
}

}  // namespace brixa::record
