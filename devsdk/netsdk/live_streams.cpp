// Live streams: NET_RealPlayEx, NET_StopRealPlay and the real-data callback.
#include "devsdk/netsdk/logins.h"
#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/sdk_state.h"

using netsdk::set_last_error;

extern "C" {

int32_t NET_RealPlayEx(int32_t login_id, int32_t, void*, int32_t) {
  if (netsdk::find_login(login_id) == nullptr) return 0;
  set_last_error(NET_ERR_NOT_SUPPORTED);
  return 0;
}

NET_BOOL NET_StopRealPlay(int32_t) {
  set_last_error(NET_ERR_INVALID_HANDLE);
  return 0;
}

NET_BOOL NET_SetRealDataCallBackEx(int32_t, NET_RealDataCallBackEx, intptr_t, uint32_t) {
  set_last_error(NET_ERR_INVALID_HANDLE);
  return 0;
}

}  // extern "C"
