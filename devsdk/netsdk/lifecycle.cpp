// Start and stop of the NetSDK and the registration of the application's callbacks.
#include <mutex>

#include "devsdk/netsdk/alarm_listening.h"
#include "devsdk/netsdk/device_search.h"
#include "devsdk/netsdk/logins.h"
#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/recording_streams.h"
#include "devsdk/netsdk/sdk_state.h"
#include "devsdk/netsdk/streams.h"

using netsdk::state;

extern "C" {

NET_BOOL NET_Init(NET_DisconnectCallback on_disconnect, intptr_t user) {
  if (netsdk::injected_failure("NET_Init")) return 0;
  auto& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  s.initialised = true;
  ++s.init_calls;
  s.on_disconnect = on_disconnect;
  s.disconnect_user = user;
  netsdk::set_last_error(0);
  return 1;
}

void NET_Cleanup(void) {
  // Close every stream and login first, outside the state lock: reader threads take it.
  netsdk::stop_all_searches();
  netsdk::stop_alarm_thread();
  netsdk::close_all_streams();
  netsdk::close_all_playbacks();
  netsdk::close_all_downloads();
  netsdk::close_all_logins();
  auto& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  s.initialised = false;
  ++s.cleanup_calls;
  s.on_disconnect = nullptr;
  s.on_reconnect = nullptr;
  s.draw = nullptr;
}

void NET_SetAutoReconnect(NET_ReconnectCallback on_reconnect, intptr_t user) {
  auto& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  s.on_reconnect = on_reconnect;
  s.reconnect_user = user;
}

void NET_SetNetworkParam(const NET_NetworkParams* params) {
  if (params == nullptr) return;
  auto& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  s.params = *params;
}

void NET_RegisterDrawFun(NET_DrawCallback draw, intptr_t user) {
  auto& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  s.draw = draw;
  s.draw_user = user;
}

}  // extern "C"
