// Login sessions with devices. No session can be opened yet, so every handle is unknown.
#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/sdk_state.h"

extern "C" {

NET_BOOL NET_Logout(int32_t) {
  if (netsdk::injected_failure("NET_Logout")) return 0;
  netsdk::set_last_error(NET_ERR_INVALID_HANDLE);
  return 0;
}

}  // extern "C"
