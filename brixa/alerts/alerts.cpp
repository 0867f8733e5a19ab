#include "brixa/alerts/alerts.h"

#include <cstring>
#include <exception>
#include <vector>

#include "brixa/core/callback_dispatch.h"
#include "brixa/core/client_registry.h"
#include "brixa/core/sdk_errors.h"
#include "brixa/live/channel_capture.h"
#include "brixa/sdk/sdk.h"
#include "platform/sync/mutex.h"
#include "trace/trace.h"

namespace brixa::alerts {
namespace {

constexpr int32_t kFirstAlarmCode = 0x2101;
constexpr int32_t kLastAlarmCode = 0x2107;
constexpr int32_t kErrListenRefused = -4;
constexpr int32_t kErrChannel = -5;

// Serialises alert starts and stops of every client (see alerts.h). Outer to the device list
// locks; held across one Device SDK start or stop, which its wait bounds.
platform::Mutex alert_ops_lock;

// The channels a session's alert flags cover.
int32_t flag_channels(const device_session* s) {
  return s->channel_count < kAlertChannels ? s->channel_count : kAlertChannels;
}

// Forgets flags and states left by an earlier login of the session.
void drop_stale_flags(device_session* s) {
  if (s->alerts.listening_login == s->login_handle) return;
  memset(s->alerts.listen, 0, sizeof s->alerts.listen);
  memset(s->alerts.last_state, 0, sizeof s->alerts.last_state);
  s->alerts.listening_login = s->login_handle;
}

bool any_listening(const device_session* s) {
  for (int32_t ch = 0; ch < kAlertChannels; ++ch)
    if (s->alerts.listen[ch] != 0) return true;
  return false;
}

int32_t listening_count(const device_session* s) {
  int32_t n = 0;
  for (int32_t ch = 0; ch < kAlertChannels; ++ch) n += s->alerts.listen[ch] != 0 ? 1 : 0;
  return n;
}

// A valid channel of the session's flags, or -1 for all.
bool valid_channel(const device_session* s, int32_t chl_id) {
  return chl_id == -1 || (chl_id >= 0 && chl_id < flag_channels(s));
}

// The session that still holds this login, or null (logged out meanwhile).
device_session* session_of_login(brixa_client* client, int32_t login_id) REQUIRES(client->device_list_lock) {
  if (login_id <= 0) return nullptr;
  for (ListLink* l = client->devices.first(); l != client->devices.end(); l = l->next) {
    device_session* s = device_session::from_link(l);
    if (s->login_handle == login_id) return s;
  }
  return nullptr;
}

// A channel that stops listening forgets the indicator alarms it saw, so the next report of an
// alarm that is still on sets its (now cleared) indicator again.
void forget_indicator_states(device_session* s, int32_t ch) {
  for (int k = 1; k <= 4; ++k) s->alerts.last_state[k][ch] = 0;
}

void forget_all_states(device_session* s) { memset(s->alerts.last_state, 0, sizeof s->alerts.last_state); }

void clear_indicators(const char* dev_id, int32_t ch) {
  live::CapturePtr capture = live::find_capture_by_channel(dev_id, ch);
  if (capture == nullptr) return;
  capture->motion_alarm = 0;
  capture->video_loss_alarm = 0;
  capture->masking_alarm = 0;
  capture->audio_alarm = 0;
}

void set_indicator(int32_t stream_handle, int kind, uint8_t on) {
  if (stream_handle <= 0) return;
  live::CapturePtr capture = live::find_capture_by_stream(stream_handle);
  if (capture == nullptr) return;
  switch (kind) {
    case 1: capture->motion_alarm = on; break;
    case 2: capture->video_loss_alarm = on; break;
    case 3: capture->masking_alarm = on; break;
    case 4: capture->audio_alarm = on; break;
    default: break;
  }
}

int32_t start_locked(brixa_client* client, const char* dev_id, int32_t chl_id, brixa_handle handle) {
  const char* fn = "brixa_start_listen_alert";
  int32_t login_id = 0;
  std::vector<int32_t> newly;  // flags set here, undone when the device refuses
  {
    DeviceListLock list(client->device_list_lock);
    device_session* s = find_logged_in_session(client, dev_id);
    if (s == nullptr) return BRIXA_ERR_NO_SESSION;
    if (!valid_channel(s, chl_id)) return kErrChannel;
    drop_stale_flags(s);
    bool device_listens = any_listening(s);
    int32_t first = chl_id == -1 ? 0 : chl_id;
    int32_t last = chl_id == -1 ? flag_channels(s) : chl_id + 1;
    for (int32_t ch = first; ch < last; ++ch) {
      if (s->alerts.listen[ch] == 0) newly.push_back(ch);
      s->alerts.listen[ch] = 1;
    }
    if (device_listens) return BRIXA_OK;
    login_id = s->login_handle;
  }
  // The flags are set before the device starts: it reports the alarms that are on at once, and
  // the notification skips channels that do not listen.
  NET_SetMessageCallback(alert_callback, reinterpret_cast<intptr_t>(handle));
  if (NET_StartListenEx(login_id)) return BRIXA_OK;
  trace_netsdk_error(fn, 106, chl_id == -1 ? "NET_StartListenEx (136)" : "NET_StartListenEx (106)");
  DeviceListLock list(client->device_list_lock);
  if (device_session* s = session_of_login(client, login_id)) {
    for (int32_t ch : newly) s->alerts.listen[ch] = 0;
  }
  return kErrListenRefused;
}

int32_t stop_locked(brixa_client* client, const char* dev_id, int32_t chl_id) {
  const char* fn = "brixa_stop_listen_alert";
  int32_t login_id = 0;
  int32_t channels = 0;
  {
    DeviceListLock list(client->device_list_lock);
    device_session* s = find_logged_in_session(client, dev_id);
    if (s == nullptr) return BRIXA_ERR_NO_SESSION;
    if (!valid_channel(s, chl_id)) return kErrChannel;
    drop_stale_flags(s);
    channels = flag_channels(s);
    if (chl_id >= 0 && (s->alerts.listen[chl_id] == 0 || listening_count(s) > 1)) {
      // Not listening, or other channels still do: only this channel's flag goes.
      if (s->alerts.listen[chl_id] != 0) forget_indicator_states(s, chl_id);
      s->alerts.listen[chl_id] = 0;
      login_id = 0;
    } else {
      login_id = s->login_handle;
    }
  }
  int32_t result = BRIXA_OK;
  if (login_id > 0) {
    bool stopped = NET_StopListen(login_id) != 0;
    if (!stopped) {
      trace_netsdk_error(fn, 217, "NET_StopListen (217)");
      result = kErrListenRefused;
    }
    DeviceListLock list(client->device_list_lock);
    device_session* s = session_of_login(client, login_id);
    if (stopped && s != nullptr) {
      memset(s->alerts.listen, 0, sizeof s->alerts.listen);
      forget_all_states(s);
    }
  }
  // The overlay shows no alarm of a channel that does not listen.
  if (chl_id >= 0) {
    clear_indicators(dev_id, chl_id);
  } else if (result == BRIXA_OK) {
    for (int32_t ch = 0; ch < channels; ++ch) clear_indicators(dev_id, ch);
  }
  return result;
}

}  // namespace

int32_t start_listen_alert(brixa_handle handle, const char* dev_id, int32_t chl_id) {
  const char* fn = "brixa_start_listen_alert";
  trace::enter(fn);
  trace::value("dev_id", dev_id);
  trace::value("chl_id", chl_id);
  int32_t result;
  if (!registry_open()) {
    result = BRIXA_ERR_NOT_INITIALISED;
  } else if (handle == nullptr) {
    trace::step("Handle is null");
    result = BRIXA_ERR_NOT_INITIALISED;
  } else {
    result = with_client(handle, [&](brixa_client* client) {
      if (dev_id == nullptr) return BRIXA_ERR_NO_SESSION;
      platform::MutexLock serial(alert_ops_lock);
      return start_locked(client, dev_id, chl_id, handle);
    });
  }
  trace::value("result", result);
  trace::leave(fn);
  return result;
}

int32_t stop_listen_alert(brixa_handle handle, const char* dev_id, int32_t chl_id) {
  const char* fn = "brixa_stop_listen_alert";
  trace::enter(fn);
  trace::value("dev_id", dev_id);
  trace::value("chl_id", chl_id);
  int32_t result = with_client(handle, [&](brixa_client* client) {
    if (dev_id == nullptr) return BRIXA_ERR_NO_SESSION;
    platform::MutexLock serial(alert_ops_lock);
    return stop_locked(client, dev_id, chl_id);
  });
  trace::value("result", result);
  trace::leave(fn);
  return result;
}

void stop_session_alerts(device_session* s) {
  if (any_listening(s) && s->login_handle > 0 && s->alerts.listening_login == s->login_handle) {
    if (!NET_StopListen(s->login_handle)) trace_netsdk_error("brixa_release", 179, "NET_StopListen (179)");
  }
  memset(s->alerts.listen, 0, sizeof s->alerts.listen);
}

void stop_alerts_on_uninit() { NET_SetMessageCallback(nullptr, 0); }

int32_t alert_callback(int32_t command, int32_t login_id, const char* body, uint32_t length, const char*, int32_t,
                       intptr_t user) {
  if (command < kFirstAlarmCode || command > kLastAlarmCode) return 1;
  auto handle = reinterpret_cast<brixa_handle>(user);
  if (handle == nullptr) {
    trace::error("alert_callback", 26, "Client is null (26)");
    return 1;
  }
  // The client may have been released since it registered: only a registered one is touched.
  int32_t found = BRIXA_OK;
  ClientRef client = find_client(handle, &found);
  if (!client) return 1;
  const int kind = command - kFirstAlarmCode;
  DeviceListLock list(client->device_list_lock);
  try {
    device_session* s = session_of_login(client.get(), login_id);
    if (s == nullptr || body == nullptr) return 1;
    drop_stale_flags(s);
    uint32_t n = length < static_cast<uint32_t>(kAlertChannels) ? length : static_cast<uint32_t>(kAlertChannels);
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t state = static_cast<uint8_t>(body[i]);
      uint8_t& last = s->alerts.last_state[kind][i];
      if (state == 1 && last == 0) {
        // Motion, video loss and masking are reported only for channels that listen.
        if (kind >= 1 && kind <= 3 && s->alerts.listen[i] == 0) continue;
        post(handle, BRIXA_CB_CALLBACK_GET_LIVE_ALERT, kind, static_cast<int32_t>(i), s->dev_id,
             static_cast<int32_t>(strnlen(s->dev_id, kDevIdBytes)));
      }
      if (state == last) continue;
      if (kind >= 1 && kind <= 4) set_indicator(s->live.real_play_handle[i], kind, state != 0 ? 1 : 0);
      last = state;
    }
  } catch (const std::exception& e) {
    trace::exception("alert_callback", e.what());
  }
  return 1;
}

}  // namespace brixa::alerts
