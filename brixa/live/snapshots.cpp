#include "brixa/live/snapshots.h"

#include <exception>

#include "brixa/core/client_registry.h"
#include "brixa/core/sdk_errors.h"
#include "brixa/live/channel_capture.h"
#include "brixa/sdk/sdk.h"
#include "trace/trace.h"

namespace brixa::live {
namespace {

// Where a call acts: a channel's live stream, or (no channel) the device's playback.
int32_t stream_of(device_session* s, const int32_t* chl) {
  if (chl == nullptr) return s->playback_handle;
  return valid_channel(*chl) ? s->live.real_play_handle[*chl] : 0;
}

// The common frame: trace, find the client and its logged-in session, take the stream (-4 when
// there is none) and run the Device SDK call `sdk(session, stream)` under the locks.
template <class Sdk>
int32_t on_stream(const char* fn, brixa_handle handle, const char* dev_id, const int32_t* chl, const char* path,
                  Sdk&& sdk) {
  trace::enter(fn);
  trace::value("dev_id", dev_id);
  if (chl != nullptr) trace::value("chl_id", *chl);
  trace::value("file_name", path);
  int32_t result = with_client(handle, [&](brixa_client* client) -> int32_t {
    DeviceListLock list(client->device_list_lock);
    device_session* s = find_logged_in_session(client, dev_id);
    if (s == nullptr) return BRIXA_ERR_NO_SESSION;
    const int32_t stream = stream_of(s, chl);
    if (stream == 0) return -4;
    return sdk(s, stream);
  });
  trace::leave(fn);
  return result;
}

// A NetSDK call's result: 0, or -1 with the failure traced.
int32_t net_result(bool ok, const char* fn, int32_t line, const char* text) {
  if (ok) return BRIXA_OK;
  trace_netsdk_error(fn, line, text);
  return BRIXA_ERR_FAILED;
}

}  // namespace

int32_t save_picture(brixa_handle handle, const char* dev_id, int32_t chl, const char* path) {
  const char* fn = "brixa_save_picture";
  return on_stream(fn, handle, dev_id, &chl, path, [&](device_session* s, int32_t stream) -> int32_t {
    int32_t result = BRIXA_ERR_NO_SESSION;
    try {
      CapturePtr capture = find_capture_by_channel(dev_id, chl);
      if (capture == nullptr) {
        trace::error(fn, 1602, "No channel capture (1602)");
        return result;
      }
      if (capture->stuck.load() != 0) {
        trace::error(fn, 1601, "Disconnected channel (1601)");
        return result;
      }
      if (s->live.fisheye_active[chl] != 0) {
        const int32_t port = s->live.play_port[chl];
        result = BRIXA_OK;
        if (!PLAY_CapturePicture(port, path)) {
          trace_playsdk_error(fn, 472, "PLAY_CapturePicture (472)", port);
          result = BRIXA_ERR_FAILED;
        }
        return result;
      }
      result = net_result(NET_CapturePicture(stream, path) != 0, fn, 472, "NET_CapturePicture (472)");
    } catch (const std::exception&) {
      trace::error(fn, 618, "Exception (618)");
    }
    return result;
  });
}

int32_t save_play_picture(brixa_handle handle, const char* dev_id, const char* path) {
  const char* fn = "brixa_save_play_picture";
  return on_stream(fn, handle, dev_id, nullptr, path, [&](device_session*, int32_t stream) {
    return net_result(NET_CapturePicture(stream, path) != 0, fn, 418, "NET_CapturePicture (418)");
  });
}

int32_t start_recording(brixa_handle handle, const char* dev_id, int32_t chl, const char* path) {
  const char* fn = "brixa_start_recording";
  return on_stream(fn, handle, dev_id, &chl, path, [&](device_session*, int32_t stream) {
    return net_result(NET_SaveRealData(stream, path) != 0, fn, 527, "NET_SaveRealData (527)");
  });
}

int32_t stop_recording(brixa_handle handle, const char* dev_id, int32_t chl) {
  const char* fn = "brixa_stop_recording";
  return on_stream(fn, handle, dev_id, &chl, nullptr, [&](device_session*, int32_t stream) {
    return net_result(NET_StopSaveRealData(stream) != 0, fn, 581, "NET_StopSaveRealData (581)");
  });
}

int32_t start_play_recording(brixa_handle handle, const char* dev_id, const char* path) {
  const char* fn = "brixa_start_play_recording";
  return on_stream(fn, handle, dev_id, nullptr, path, [&](device_session*, int32_t stream) {
    return net_result(NET_SaveRealData(stream, path) != 0, fn, 635, "NET_SaveRealData (635)");
  });
}

int32_t stop_play_recording(brixa_handle handle, const char* dev_id) {
  const char* fn = "brixa_stop_play_recording";
  return on_stream(fn, handle, dev_id, nullptr, nullptr, [&](device_session*, int32_t stream) {
    return net_result(NET_StopSaveRealData(stream) != 0, fn, 689, "NET_StopSaveRealData (689)");
  });
}

}  // namespace brixa::live
