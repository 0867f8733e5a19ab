// Playback by time: NET_PlayBackByTimeEx, its controls, its on-screen time and NET_StopPlayBack.
//
// The device paces the frames at the playback's speed; the SDK draws each picture as it comes,
// as a live stream's, and remembers its capture time as the on-screen time. Pause and speed are
// stream_control messages that the SDK sends without waiting for the answer, so they may be
// called from the playback's own position callback.
#include <algorithm>
#include <map>

#include "devsdk/netsdk/local_time.h"
#include "devsdk/netsdk/recording_streams.h"
#include "devsdk/netsdk/sdk_state.h"
#include "devsdk/netsdk/streams.h"
#include "devsdk/proto/media_block.h"

namespace netsdk {
namespace {

constexpr int kControlSendMs = 1000;

std::mutex table_lock;
std::map<int32_t, std::shared_ptr<PlaybackSession>> table;  // guarded by table_lock

std::shared_ptr<PlaybackSession> lookup_playback(int32_t handle) {
  {
    std::lock_guard<std::mutex> hold(table_lock);
    auto it = table.find(handle);
    if (it != table.end()) return it->second;
  }
  set_last_error(NET_ERR_INVALID_HANDLE);
  return nullptr;
}

std::shared_ptr<PlaybackSession> remove_playback(int32_t handle) {
  std::lock_guard<std::mutex> hold(table_lock);
  auto it = table.find(handle);
  if (it == table.end()) return nullptr;
  auto playback = it->second;
  table.erase(it);
  return playback;
}

bool send_control(PlaybackSession& playback, uint32_t operation, int32_t value) {
  proto::StreamControl control;
  control.operation = operation;
  control.value = value;
  if (!playback.connection->send_only(proto::Type::stream_control, proto::encode(control), kControlSendMs)) {
    set_last_error(NET_ERR_NETWORK_ERROR);
    return false;
  }
  set_last_error(0);
  return true;
}

// Moves the speed by `steps` (0: back to normal) within 1/8 to 8 and tells the device.
NET_BOOL change_speed(int32_t play_handle, int steps) {
  auto playback = lookup_playback(play_handle);
  if (playback == nullptr) return 0;
  std::lock_guard<std::mutex> hold(playback->control_lock);
  int step = steps == 0 ? 0 : std::clamp(playback->speed_step + steps, proto::kMinSpeedStep, proto::kMaxSpeedStep);
  if (!send_control(*playback, proto::kStreamSpeed, step)) return 0;
  playback->speed_step = step;
  return 1;
}

}  // namespace

std::shared_ptr<PlaybackSession> find_playback(int32_t handle) { return lookup_playback(handle); }

void PlaybackSession::on_push(const proto::Message& message) {
  uint32_t total = total_kib.load();
  if (message.header.type == static_cast<uint16_t>(proto::Type::stream_end)) {
    if (position != nullptr && total != 0) position(handle, total, total, position_user);
    return;
  }
  if (message.header.type != static_cast<uint16_t>(proto::Type::media_frame)) return;
  proto::MediaFrameView frame;
  if (!proto::decode(message.payload, frame)) return;
  block.clear();
  proto::append_media_block(block, frame.kind, frame.codec, frame.timestamp_ms, frame.width, frame.height, frame.data,
                            frame.size);
  played_bytes += block.size();
  if (data != nullptr) data(handle, NET_DATA_RAW, block.data(), static_cast<uint32_t>(block.size()), data_user);
  extras.on_frame(handle, frame);
  bool video = frame.kind == proto::kFrameVideoKey || frame.kind == proto::kFrameVideoDelta;
  if (window != nullptr) {
    if (render_frame(frame, window, decoder, writer, login_id, handle, &extras)) osd_ms.store(frame.timestamp_ms);
  } else if (video) {
    osd_ms.store(frame.timestamp_ms);
  }
  if (position != nullptr && total != 0) {
    auto played = static_cast<uint32_t>(std::min<uint64_t>(played_bytes / 1024, total));
    position(handle, total, played, position_user);
  }
}

void close_all_playbacks() {
  std::map<int32_t, std::shared_ptr<PlaybackSession>> all;
  {
    std::lock_guard<std::mutex> hold(table_lock);
    all.swap(table);
  }
  for (auto& [handle, playback] : all) {
    playback->connection->close();
    release_handle(handle);
  }
  join_reaped();
}

}  // namespace netsdk

using netsdk::set_last_error;

extern "C" {

int32_t NET_PlayBackByTimeEx(int32_t login_id, int32_t channel, const NET_TIME* start, const NET_TIME* end,
                             void* window, NET_PlayPosCallback position, intptr_t position_user,
                             NET_PlayDataCallback data, intptr_t data_user) {
  if (netsdk::injected_failure("NET_PlayBackByTimeEx")) return 0;
  auto login = netsdk::find_login(login_id);
  if (login == nullptr) return 0;  // NET_ERR_INVALID_HANDLE
  proto::Time from, to;
  if (start == nullptr || end == nullptr || channel < 0 || !netsdk::to_wire_time(*start, from) ||
      !netsdk::to_wire_time(*end, to)) {
    set_last_error(NET_ERR_ILLEGAL_PARAM);
    return 0;
  }
  auto playback = std::make_shared<netsdk::PlaybackSession>();
  playback->login_id = login_id;
  playback->window = static_cast<platform::HWND>(window);
  playback->position = position;
  playback->position_user = position_user;
  playback->data = data;
  playback->data_user = data_user;
  playback->start = *start;
  playback->end = *end;
  if (!netsdk::open_recording_session(playback, *login, proto::kBindPlayback, channel, 0, from, to)) {
    return 0;  // the last error says why
  }
  {
    std::lock_guard<std::mutex> hold(netsdk::table_lock);
    netsdk::table[playback->handle] = playback;
  }
  set_last_error(0);
  return playback->handle;
}

NET_BOOL NET_StopPlayBack(int32_t play_handle) {
  if (netsdk::injected_failure("NET_StopPlayBack")) return 0;
  auto playback = netsdk::remove_playback(play_handle);
  if (playback == nullptr) {
    set_last_error(NET_ERR_INVALID_HANDLE);
    return 0;
  }
  // Joins the reader thread: no callback of the playback runs after this returns (unless it is
  // stopped from its own callback, which then ends with that call).
  playback->connection->close();
  netsdk::join_reaped();
  netsdk::release_handle(play_handle);
  set_last_error(0);
  return 1;
}

NET_BOOL NET_PausePlayBack(int32_t play_handle, NET_BOOL pause) {
  if (netsdk::injected_failure("NET_PausePlayBack")) return 0;
  auto playback = netsdk::find_playback(play_handle);
  if (playback == nullptr) return 0;
  std::lock_guard<std::mutex> hold(playback->control_lock);
  return netsdk::send_control(*playback, proto::kStreamPause, pause != 0 ? 1 : 0) ? 1 : 0;
}

NET_BOOL NET_FastPlayBack(int32_t play_handle) {
  if (netsdk::injected_failure("NET_FastPlayBack")) return 0;
  return netsdk::change_speed(play_handle, 1);
}

NET_BOOL NET_SlowPlayBack(int32_t play_handle) {
  if (netsdk::injected_failure("NET_SlowPlayBack")) return 0;
  return netsdk::change_speed(play_handle, -1);
}

NET_BOOL NET_NormalPlayBack(int32_t play_handle) {
  if (netsdk::injected_failure("NET_NormalPlayBack")) return 0;
  return netsdk::change_speed(play_handle, 0);
}

NET_BOOL NET_GetPlayBackOsdTime(int32_t play_handle, NET_TIME* osd_time, NET_TIME* start_time, NET_TIME* end_time) {
  if (osd_time == nullptr) {
    set_last_error(NET_ERR_ILLEGAL_PARAM);
    return 0;
  }
  auto playback = netsdk::find_playback(play_handle);
  if (playback == nullptr) return 0;
  uint64_t shown = playback->osd_ms.load();
  if (shown == 0) {
    set_last_error(NET_ERR_NO_RECORD_FOUND);  // no picture yet
    return 0;
  }
  *osd_time = netsdk::local_net_time(shown);
  if (start_time != nullptr) *start_time = playback->start;
  if (end_time != nullptr) *end_time = playback->end;
  set_last_error(0);
  return 1;
}

}  // extern "C"
