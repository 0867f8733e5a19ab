// Sound, pan-tilt-zoom, snapshots and local recordings of live streams.
#include <cstdio>

#include "devsdk/netsdk/logins.h"
#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/sdk_state.h"
#include "devsdk/netsdk/stream_extras.h"
#include "devsdk/netsdk/recording_streams.h"
#include "devsdk/netsdk/streams.h"
#include "devsdk/proto/ptz.h"

using netsdk::set_last_error;

namespace netsdk {

std::shared_ptr<StreamExtras> find_extras(int32_t handle) {
  if (auto stream = find_stream(handle)) return std::shared_ptr<StreamExtras>(stream, &stream->extras);
  if (auto playback = find_playback(handle)) return std::shared_ptr<StreamExtras>(playback, &playback->extras);
  return nullptr;
}

}  // namespace netsdk

extern "C" {

NET_BOOL NET_OpenSound(int32_t stream_handle) {
  if (netsdk::injected_failure("NET_OpenSound")) return 0;
  if (netsdk::find_stream(stream_handle) == nullptr) return 0;
  netsdk::switch_sound(stream_handle);
  set_last_error(0);
  return 1;
}

NET_BOOL NET_CloseSound(void) {
  if (netsdk::injected_failure("NET_CloseSound")) return 0;
  netsdk::switch_sound(0);
  set_last_error(0);
  return 1;
}

NET_BOOL NET_SetVolume(int32_t stream_handle, int32_t volume) {
  if (netsdk::injected_failure("NET_SetVolume")) return 0;
  auto stream = netsdk::find_stream(stream_handle);
  if (stream == nullptr) return 0;
  stream->extras.volume.store(devsdk::render::clamp_volume(volume));
  set_last_error(0);
  return 1;
}

NET_BOOL NET_PTZControlEx(int32_t login_id, int32_t channel, uint32_t command, int32_t param1, int32_t param2,
                          int32_t param3, NET_BOOL stop) {
  if (netsdk::injected_failure("NET_PTZControlEx")) return 0;
  auto login = netsdk::find_login(login_id);
  if (login == nullptr) return 0;
  if (channel < 0) {
    set_last_error(NET_ERR_ILLEGAL_PARAM);
    return 0;
  }
  proto::PtzControl request;
  request.channel = channel;
  request.command = command;
  request.param1 = param1;
  request.param2 = param2;
  request.param3 = param3;
  request.stop = stop != 0 ? 1 : 0;
  std::vector<uint8_t> reply;
  if (!netsdk::ask(*login, proto::Type::ptz_control, proto::encode(request), netsdk::request_wait_ms(0), reply)) return 0;
  set_last_error(0);
  return 1;
}

NET_BOOL NET_CapturePicture(int32_t stream_handle, const char* path) {
  if (netsdk::injected_failure("NET_CapturePicture")) return 0;
  auto extras = netsdk::find_extras(stream_handle);
  if (extras == nullptr) return 0;
  if (path == nullptr || path[0] == 0) {
    set_last_error(NET_ERR_ILLEGAL_PARAM);
    return 0;
  }
  switch (extras->picture.save_bmp(path)) {
    case devsdk::render::PictureKeeper::Saved::ok:
      set_last_error(0);
      return 1;
    case devsdk::render::PictureKeeper::Saved::no_picture:
      set_last_error(NET_ERR_RETURN_DATA_ERROR);
      return 0;
    default:
      set_last_error(NET_ERR_SYSTEM_ERROR);
      return 0;
  }
}

NET_BOOL NET_SaveRealData(int32_t stream_handle, const char* path) {
  if (netsdk::injected_failure("NET_SaveRealData")) return 0;
  auto extras = netsdk::find_extras(stream_handle);
  if (extras == nullptr) return 0;
  if (path == nullptr || path[0] == 0) {
    set_last_error(NET_ERR_ILLEGAL_PARAM);
    return 0;
  }
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    set_last_error(NET_ERR_SYSTEM_ERROR);
    return 0;
  }
  if (!extras->start_recording(file)) {
    std::fclose(file);
    std::remove(path);
    set_last_error(NET_ERR_ILLEGAL_PARAM);  // a recording of this stream runs already
    return 0;
  }
  set_last_error(0);
  return 1;
}

NET_BOOL NET_StopSaveRealData(int32_t stream_handle) {
  if (netsdk::injected_failure("NET_StopSaveRealData")) return 0;
  auto extras = netsdk::find_extras(stream_handle);
  if (extras == nullptr) return 0;
  std::FILE* file = extras->stop_recording();
  if (file == nullptr) {
    set_last_error(NET_ERR_ILLEGAL_PARAM);  // nothing is being recorded
    return 0;
  }
  if (std::fclose(file) != 0) {
    set_last_error(NET_ERR_SYSTEM_ERROR);
    return 0;
  }
  set_last_error(0);
  return 1;
}

}  // extern "C"
