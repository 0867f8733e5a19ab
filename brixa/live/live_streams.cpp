#include "brixa/live/live_streams.h"

#include <chrono>
#include <cstring>
#include <exception>
#include <memory>
#include <thread>

#include "brixa/core/client_registry.h"
#include "brixa/core/device_sessions.h"
#include "brixa/core/library.h"
#include "brixa/core/sdk_errors.h"
#include "brixa/live/channel_capture.h"
#include "brixa/live/fisheye_ports.h"
#include "brixa/sdk/sdk.h"
#include "brixa/tunnel/connector.h"
#include "devsdk/configsdk/configsdk.h"
#include "trace/trace.h"

namespace brixa::live {
namespace {

std::atomic<int32_t> sound_stream{0};

constexpr uint32_t kPlayPortBufferBytes = 921600;
constexpr uint32_t kRealDataFlags = NET_DATA_FLAG_ALL;
constexpr uint32_t kLoginHandleInvalid = NET_ERROR_BASE | NET_ERR_INVALID_HANDLE;

// The real-play type of a stream identifier; the multi-channel preview follows the device's
// split count.
int32_t real_play_type(device_session* s, int32_t stream_id) {
  if (stream_id == 1) return NET_RTYPE_EXTRA;
  if (stream_id != 2) return NET_RTYPE_MAIN;
  NET_DEVICE_CONFIG config;
  memset(&config, 0, sizeof config);
  config.size = sizeof config;
  uint32_t returned = 0;
  if (!NET_GetDevConfig(s->login_handle, NET_DEV_DEVICECFG, 0, &config, sizeof config, &returned, 3000))
    return NET_RTYPE_MULTIPLAY_16;
  switch (config.multi_preview) {
    case 1:
      return NET_RTYPE_MULTIPLAY_1;
    case 4:
      return NET_RTYPE_MULTIPLAY_4;
    case 8:
      return NET_RTYPE_MULTIPLAY_8;
    case 16:
      return NET_RTYPE_MULTIPLAY_16;
    case 32:
      return NET_RTYPE_MULTIPLAY_32;
    default:
      return NET_RTYPE_MULTIPLAY_16;
  }
}

// Asks the device once per session whether it is a fisheye camera.
bool is_fisheye_camera(device_session* s) {
  LiveChannels& live = s->live;
  if (live.fisheye_checked) return live.fisheye_camera != 0;
  live.fisheye_checked = 1;
  live.fisheye_camera = 0;
  constexpr uint32_t kReplyBytes = 32 * 1024;
  std::unique_ptr<char[]> reply(new char[kReplyBytes]());
  int32_t error = 0;
  if (!NET_QueryDevCaps(s->login_handle, CFG_CAP_VIDEOINPUT, 0, reply.get(), kReplyBytes, &error, 3000)) {
    trace_netsdk_error("brixa_start_realplay", 145, "Get data failed (145)");
    return false;
  }
  CFG_VIDEOINPUT_CAPS caps;
  memset(&caps, 0, sizeof caps);
  if (!CLIENT_ParseData(CFG_CAP_VIDEOINPUT, reply.get(), &caps, sizeof caps, nullptr)) {
    trace::error("brixa_start_realplay", 140, "Parse data error (140)");
    return false;
  }
  live.fisheye_camera = caps.fisheye != 0 ? 1 : 0;
  return live.fisheye_camera != 0;
}

// The fisheye pipeline after its stream has started: a play port drawing into the window with
// fisheye processing, fed by the stream's raw data. A failing step ends it; the stream stays.
void start_fisheye_port(device_session* s, int32_t chl, void* hwnd, int32_t stream) {
  const char* fn = "brixa_start_realplay";
  trace::step("enabling fisheye mode (267)");
  int32_t port = PLAY_OpenStreamPort(kPlayPortBufferBytes);
  if (port == 0) {
    trace_playsdk_error(fn, 389, "Cannot create Play port (389)", port);
    return;
  }
  s->live.play_port[chl] = port;
  auto record = std::make_shared<FisheyePort>();
  record->port = port;
  record->stream_handle.store(stream);
  s->live.fisheye = record;
  register_fisheye_port(record);
  if (!PLAY_Play(port, hwnd)) {
    trace_playsdk_error(fn, 298, "Cannot start Play (298)", port);
    return;
  }
  PLAY_SetDrawCallback(port, 0, fisheye_draw_callback, port);
  record->info_received.store(0);
  {
    std::lock_guard<std::mutex> hold(record->params_lock);
    fill_fisheye_params(*record);
  }
  if (!PLAY_SetFisheyeInfoCallback(port, fisheye_info_callback, port)) {
    trace_playsdk_error(fn, 304, "Cannot set fisheye callback (304)", port);
    return;
  }
  if (!PLAY_StartFisheye(port)) trace_playsdk_error(fn, 305, "Cannot start fisheye (305)", port);
  if (!NET_SetRealDataCallBackEx(stream, fisheye_real_data_callback, port, kRealDataFlags)) {
    trace_netsdk_error(fn, 301, "Set read data callback (301)");
    return;
  }
  // The lens geometry comes with the first pictures; without it the parameters are not written.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFisheyeInfoWaitMs);
  while (record->info_received.load() == 0) {
    if (std::chrono::steady_clock::now() >= deadline || !initialised()) {
      trace::step("No fisheye information (310)");
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::lock_guard<std::mutex> hold(record->params_lock);
  if (!PLAY_FisheyeParams(port, PLAY_FISHEYE_SET, &record->params))
    trace_playsdk_error(fn, 310, "Cannot set fisheye params (310)", port);
}

// Stops one channel's stream with the Device SDK, fisheye port included; the handle stays for
// the caller to clear.
void stop_channel_stream(device_session* s, int32_t chl, const char* fn, int32_t stop_line, const char* stop_text) {
  LiveChannels& live = s->live;
  const int32_t stream = live.real_play_handle[chl];
  // The sound of this stream ends with it: the stream's stop closes its sound in the SDK.
  int32_t expected = stream;
  sound_stream.compare_exchange_strong(expected, 0);
  const bool fisheye = live.fisheye_active[chl] != 0;
  const int32_t port = live.play_port[chl];
  if (fisheye && !NET_SetRealDataCallBackEx(stream, nullptr, port, kRealDataFlags))
    trace_netsdk_error(fn, 685, "Cannot stop real data callback (685)");
  if (!NET_StopRealPlay(stream)) trace_netsdk_error(fn, stop_line, stop_text);
  if (!fisheye) return;
  if (port != 0) {
    if (!PLAY_StopFisheye(port)) trace_playsdk_error(fn, 674, "Cannot stop fisheye (674)", port);
    if (!PLAY_Stop(port)) trace_playsdk_error(fn, 679, "Cannot stop play (679)", port);
    if (!PLAY_CloseStream(port)) trace_playsdk_error(fn, 837, "Cannot close play port (837)", port);
    if (!PLAY_ReleasePort(port)) trace_playsdk_error(fn, 878, "Cannot release play port (878)", port);
    unregister_fisheye_port(port);
  }
  live.fisheye.reset();
  live.fisheye_active[chl] = 0;
}

void delete_capture_of(const char* dev_id, int32_t chl) {
  if (CapturePtr capture = find_capture_by_channel(dev_id, chl)) DeleteChannelCaptures(capture);
}

// The fisheye setters' common part.
void set_fisheye_field(brixa_handle handle, const char* dev_id, int32_t chl, int32_t value, bool mount) {
  const char* fn = mount ? "brixa_set_fisheye_mount_mode" : "brixa_set_fisheye_visualization";
  trace::enter(fn);
  trace::value("dev_id", dev_id);
  trace::value("chl_id", chl);
  trace::value(mount ? "mount_mode" : "visualization_mode", value);
  with_client(handle, [&](brixa_client* client) -> int32_t {
    DeviceListLock list(client->device_list_lock);
    try {
      device_session* s = find_logged_in_session(client, dev_id);
      if (s == nullptr || !valid_channel(chl)) return BRIXA_ERR_NO_SESSION;
      LiveChannels& live = s->live;
      std::shared_ptr<FisheyePort> record = live.fisheye;
      if (live.real_play_handle[chl] == 0 || record == nullptr || record->info_received.load() != 1) return 0;
      const int32_t port = live.play_port[chl];
      {
        std::lock_guard<std::mutex> hold(record->params_lock);
        if (mount)
          record->params.mount_mode = value;
        else
          record->params.visualization = value;
        if (!PLAY_FisheyeParams(port, PLAY_FISHEYE_SET, &record->params)) {
          trace_playsdk_error(fn, 310, "Cannot set fisheye params (310)", port);
          return 0;
        }
      }
      live.eptz_window = 0;
      if (CapturePtr capture = find_capture_by_channel(dev_id, chl)) {
        std::lock_guard<std::timed_mutex> hold(capture->lock);
        if (mount) capture->eptz_window.store(0);
        PLAY_FisheyeParams(port, PLAY_FISHEYE_GET, &capture->fisheye_params);
        capture->fisheye_params.display = &capture->fisheye_display;
        capture->fisheye_display.windows = capture->fisheye_windows;
        if (!mount) {
          capture->visualization_mode.store(value);
          capture->eptz_window.store(0);
        }
      }
    } catch (const std::exception&) {
      trace::error(fn, 113, "Exception (113)");
    }
    return 0;
  });
  trace::leave(fn);
}

}  // namespace

int32_t sound_stream_handle() { return sound_stream.load(); }
void set_sound_stream_handle(int32_t stream_handle) { sound_stream.store(stream_handle); }

int32_t start_realplay(brixa_handle handle, void* hwnd, const char* dev_id, int32_t chl, int32_t stream_id) {
  const char* fn = "brixa_start_realplay";
  trace::enter(fn);
  trace::value("dev_id", dev_id);
  trace::value("chl_id", chl);
  trace::value("stream_id", stream_id);
  bool force_reset = false;
  int32_t result = with_client(handle, [&](brixa_client* client) -> int32_t {
    DeviceListLock list(client->device_list_lock);
    try {
      device_session* s = find_logged_in_session(client, dev_id);
      if (s == nullptr) return BRIXA_ERR_NO_SESSION;
      if (!valid_channel(chl)) return -4;
      LiveChannels& live = s->live;
      if (live.real_play_handle[chl] != 0) return -4;
      const int32_t type = real_play_type(s, stream_id);
      const bool fisheye = s->channel_count == 1 && chl == 0 && is_fisheye_camera(s);
      const int32_t channel = !fisheye && stream_id == 2 ? 0 : chl;
      const int32_t stream = NET_RealPlayEx(s->login_handle, channel, fisheye ? nullptr : hwnd, type);
      if (stream == 0) {
        trace_netsdk_error(fn, 98, "NET_RealPlayEx (98)");
        force_reset = NET_GetLastError() == kLoginHandleInvalid;
        return -5;
      }
      live.real_play_handle[chl] = stream;
      AddChannelCaptures(static_cast<platform::HWND>(hwnd), stream, dev_id, chl, 0);
      if (fisheye) {
        live.fisheye_active[chl] = 1;
        start_fisheye_port(s, chl, hwnd, stream);
      }
      return BRIXA_OK;
    } catch (const std::exception&) {
      trace::error(fn, 113, "Exception (113)");
      return BRIXA_ERR_NO_SESSION;
    }
  });
  if (force_reset) {
    trace::error(fn, 648, "Force logout from device as handle is invalid (648)");
    if (reset(handle, dev_id) == 0) trace::step("Successfully closed connection to device (651)");
  }
  trace::leave(fn);
  return result;
}

int32_t stop_realplay(brixa_handle handle, const char* dev_id, int32_t chl) {
  const char* fn = "brixa_stop_realplay";
  trace::enter(fn);
  trace::value("dev_id", dev_id);
  trace::value("chl_id", chl);
  int32_t result = with_client(handle, [&](brixa_client* client) -> int32_t {
    DeviceListLock list(client->device_list_lock);
    try {
      device_session* s = find_session(client, dev_id);
      if (s == nullptr) return BRIXA_ERR_NO_SESSION;
      if (!valid_channel(chl)) return -4;
      LiveChannels& live = s->live;
      int32_t r = BRIXA_OK;
      if (live.real_play_handle[chl] == 0) {
        r = s->login_handle > 0 ? -4 : BRIXA_ERR_NO_SESSION;
      } else {
        // A stream whose login is gone is still stopped, so it does not run on unseen.
        if (s->login_handle <= 0) r = BRIXA_ERR_NO_SESSION;
        stop_channel_stream(s, chl, fn, 184, "NET_StopRealPlay (184)");
      }
      delete_capture_of(dev_id, chl);
      live.real_play_handle[chl] = 0;
      return r;
    } catch (const std::exception&) {
      trace::error(fn, 197, "Exception (197)");
      return BRIXA_ERR_NO_SESSION;
    }
  });
  trace::leave(fn);
  return result;
}

void set_fisheye_mount_mode(brixa_handle handle, const char* dev_id, int32_t chl, int32_t mount_mode) {
  set_fisheye_field(handle, dev_id, chl, mount_mode, true);
}

void set_fisheye_visualization(brixa_handle handle, const char* dev_id, int32_t chl, int32_t visualization_mode) {
  set_fisheye_field(handle, dev_id, chl, visualization_mode, false);
}

int32_t get_connection_type(brixa_handle handle, const char* dev_id, int32_t* using_relay, int32_t* local_nat_type,
                            int32_t* remote_nat_type, int32_t* remote_version) {
  const char* fn = "brixa_get_connection_type";
  trace::enter(fn);
  trace::value("dev_id", dev_id);
  int32_t result;
  if (!registry_open()) {
    trace::error(fn, 816, "Null client map (816)");
    result = BRIXA_ERR_NOT_INITIALISED;
  } else if (using_relay == nullptr || local_nat_type == nullptr || remote_nat_type == nullptr ||
             remote_version == nullptr) {
    trace::error(fn, 822, "Null output pointer (822)");
    result = BRIXA_ERR_NO_SESSION;
  } else {
    result = with_client(handle, [&](brixa_client* client) -> int32_t {
      DeviceListLock list(client->device_list_lock);
      for (ListLink* l = client->devices.first(); l != client->devices.end(); l = l->next) {
        device_session* s = device_session::from_link(l);
        if (s->login_handle <= 0 || s->connector == nullptr || dev_id == nullptr || strcmp(s->dev_id, dev_id) != 0)
          continue;
        *using_relay = s->connector->usingRelay.load() != 0 ? 1 : 0;
        *local_nat_type = s->connector->localNATType.load();
        *remote_nat_type = s->connector->remoteNATType.load();
        *remote_version = s->connector->remoteVersion.load();
        return BRIXA_OK;
      }
      return BRIXA_ERR_NO_SESSION;
    });
  }
  trace::leave(fn);
  return result;
}

void stop_session_streams(device_session* session) {
  for (int32_t chl = 0; chl < kLiveChannels; ++chl) {
    if (session->live.real_play_handle[chl] <= 0) continue;
    stop_channel_stream(session, chl, "brixa_release", 188, "NET_StopRealPlay (188)");
    delete_capture_of(session->dev_id, chl);
    session->live.real_play_handle[chl] = 0;
  }
}

}  // namespace brixa::live
