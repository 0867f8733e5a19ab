// Named configuration texts: NET_GetNewDevConfig and NET_QueryDevCaps.
#include "devsdk/netsdk/logins.h"
#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/sdk_state.h"

using netsdk::set_last_error;

extern "C" {

NET_BOOL NET_GetNewDevConfig(int32_t login_id, const char*, int32_t, char*, uint32_t, int32_t* error, int32_t) {
  if (error != nullptr) *error = NET_CFG_ERR_FAILED;
  if (netsdk::find_login(login_id) == nullptr) return 0;
  set_last_error(NET_ERR_NOT_SUPPORTED);
  return 0;
}

NET_BOOL NET_QueryDevCaps(int32_t login_id, const char*, int32_t, char*, uint32_t, int32_t* error, int32_t) {
  if (error != nullptr) *error = NET_CFG_ERR_FAILED;
  if (netsdk::find_login(login_id) == nullptr) return 0;
  set_last_error(NET_ERR_NOT_SUPPORTED);
  return 0;
}

}  // extern "C"
