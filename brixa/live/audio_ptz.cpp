#include "brixa/live/audio_ptz.h"

#include <cstring>
#include <exception>
#include <initializer_list>
#include <mutex>

#include "brixa/core/client_registry.h"
#include "brixa/core/sdk_errors.h"
#include "brixa/live/channel_capture.h"
#include "brixa/live/live_streams.h"
#include "brixa/sdk/sdk.h"
#include "trace/trace.h"

namespace brixa::live {
namespace {

// Serialises the switches of the sound stream handle (open, close); inside the device list lock.
std::mutex sound_lock;

constexpr int32_t kEptzStep = 256;
constexpr int32_t kEptzRotateStep = 1280;
constexpr int32_t kEptzMoveValue = 18;
constexpr int32_t kEptzZoomValue = 4;

// The common frame: the client, its logged-in session of `dev_id` and a streaming channel; then
// fn(session, channel). -1 / -2 for the client, -3 no logged-in session, -4 not streaming.
struct Argument {
  const char* name;
  int32_t value;
};
template <class Fn>
int32_t on_streaming_channel(const char* fn_name, brixa_handle handle, const char* dev_id, int32_t chl,
                             std::initializer_list<Argument> more, Fn&& fn) {
  trace::enter(fn_name);
  trace::value("dev_id", dev_id);
  trace::value("chl_id", chl);
  for (const Argument& a : more) trace::value(a.name, a.value);
  int32_t result = with_client(handle, [&](brixa_client* client) -> int32_t {
    DeviceListLock list(client->device_list_lock);
    device_session* s = find_logged_in_session(client, dev_id);
    if (s == nullptr) return BRIXA_ERR_NO_SESSION;
    if (!valid_channel(chl) || s->live.real_play_handle[chl] == 0) return -4;
    return fn(s, chl);
  });
  trace::leave(fn_name);
  return result;
}

bool rotates_view(int32_t visualization, int32_t eptz_window) {
  if (eptz_window == 0 && (visualization == PLAY_FISHEYE_VIEW_ORIGINAL_2EPTZ || visualization == PLAY_FISHEYE_VIEW_ORIGINAL_3EPTZ ||
                           visualization == PLAY_FISHEYE_VIEW_ORIGINAL_4EPTZ || visualization == 24))
    return true;
  return eptz_window == 4 && visualization == PLAY_FISHEYE_VIEW_ORIGINAL_8EPTZ;
}

}  // namespace

PLAY_FISHEYE_EPTZ eptz_update_for(int32_t command, int32_t stop, int32_t visualization, int32_t eptz_window) {
  PLAY_FISHEYE_EPTZ u;
  std::memset(&u, 0, sizeof u);
  u.window = eptz_window;
  if (stop != 0) {
    u.operation = 9;
    return u;
  }
  auto move = [&u](int32_t horizontal, int32_t vertical) {
    u.operation = 32;
    u.value = kEptzMoveValue;
    u.horizontal_step = horizontal;
    u.vertical_step = vertical;
  };
  switch (command) {
    case 0:
      move(0, -kEptzStep);
      break;
    case 1:
      move(0, kEptzStep);
      break;
    case 2:
    case 3: {
      const int32_t sign = command == 2 ? -1 : 1;
      if (rotates_view(visualization, eptz_window)) {
        u.operation = 13;
        u.value = sign * kEptzRotateStep;
      } else {
        move(sign * kEptzStep, 0);
      }
      break;
    }
    case 4:
    case 5:
      u.operation = command == 4 ? 1 : 2;
      u.value = kEptzZoomValue;
      break;
    default:
      break;  // an unknown command sends no operation
  }
  return u;
}

int32_t open_sound(brixa_handle handle, const char* dev_id, int32_t chl) {
  const char* fn = "brixa_open_sound";
  return on_streaming_channel(fn, handle, dev_id, chl, {}, [&](device_session* s, int32_t c) -> int32_t {
    std::lock_guard<std::mutex> hold(sound_lock);
    // One stream plays sound at a time: whatever plays stops first.
    if (sound_stream_handle() != 0) {
      NET_CloseSound();
      set_sound_stream_handle(0);
    } else {
      PLAYER_StopSound();
    }
    if (s->live.fisheye_active[c] != 0) {
      const int32_t port = s->live.play_port[c];
      if (!PLAYER_PlaySound(port)) {
        trace_playsdk_error(fn, 987, "PLAYER_PlaySound (987)", port);
        return BRIXA_ERR_NO_SESSION;
      }
      return BRIXA_OK;
    }
    const int32_t stream = s->live.real_play_handle[c];
    if (!NET_OpenSound(stream)) {
      trace_netsdk_error(fn, 260, "NET_OpenSound (260)");
      return BRIXA_ERR_FAILED;
    }
    set_sound_stream_handle(stream);
    return BRIXA_OK;
  });
}

int32_t close_sound(brixa_handle handle, const char* dev_id, int32_t chl) {
  const char* fn = "brixa_close_sound";
  return on_streaming_channel(fn, handle, dev_id, chl, {}, [&](device_session*, int32_t) -> int32_t {
    std::lock_guard<std::mutex> hold(sound_lock);
    set_sound_stream_handle(0);
    PLAYER_StopSound();
    if (!NET_CloseSound()) {
      trace_netsdk_error(fn, 313, "NET_CloseSound (313)");
      return BRIXA_ERR_FAILED;
    }
    return BRIXA_OK;
  });
}

int32_t set_volume(brixa_handle handle, const char* dev_id, int32_t chl, int32_t volume) {
  const char* fn = "brixa_setvolume";
  const std::initializer_list<Argument> arguments{{"volume", volume}};
  return on_streaming_channel(fn, handle, dev_id, chl, arguments, [&](device_session* s, int32_t c) -> int32_t {
    if (s->live.fisheye_active[c] != 0) {
      const int32_t port = s->live.play_port[c];
      if (!PLAYER_SetVolume(port, volume)) trace_playsdk_error(fn, 1126, "PLAYER_SetVolume (1126)", port);
    } else if (!NET_SetVolume(s->live.real_play_handle[c], volume)) {
      trace_netsdk_error(fn, 383, "NET_SetVolume (383)");
    }
    return BRIXA_OK;
  });
}

int32_t ptz_command(brixa_handle handle, const char* dev_id, int32_t chl, int32_t command, int32_t parameter,
                    int32_t stop) {
  const char* fn = "brixa_ptz_command";
  const std::initializer_list<Argument> arguments{{"command", command}, {"parameter", parameter}, {"stop", stop}};
  return on_streaming_channel(fn, handle, dev_id, chl, arguments, [&](device_session* s, int32_t c) -> int32_t {
    try {
      LiveChannels& live = s->live;
      if (live.fisheye_active[c] == 0) {
        // Only the low byte of the parameter travels: speeds and presets are 1 to 255.
        const int32_t value = stop != 0 ? -1 : (parameter & 0xFF);
        if (!NET_PTZControlEx(s->login_handle, c, static_cast<uint32_t>(command), value, value, 0, stop != 0 ? 1 : 0))
          trace_netsdk_error(fn, 445, "NET_PTZControlEx (445)");
        return BRIXA_OK;
      }
      if (command == 10 && stop == 0) {
        live.eptz_window = parameter - 1;
        if (CapturePtr capture = find_capture_by_channel(dev_id, c)) capture->eptz_window.store(live.eptz_window);
        return BRIXA_OK;
      }
      int32_t visualization = 0;
      if (live.fisheye != nullptr) {
        std::lock_guard<std::mutex> hold(live.fisheye->params_lock);
        visualization = live.fisheye->params.visualization;
      }
      PLAY_FISHEYE_EPTZ update = eptz_update_for(command, stop, visualization, live.eptz_window);
      const int32_t port = live.play_port[c];
      if (!PLAY_FisheyeEptzUpdate(port, &update, 0)) trace_playsdk_error(fn, 461, "EPTZ Update", port);
    } catch (const std::exception&) {
      trace::error(fn, 457, "Exception (457)");
    }
    return BRIXA_OK;
  });
}

}  // namespace brixa::live
