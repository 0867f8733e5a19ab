// Playback and download by time: not offered yet; every operation fails.
#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/sdk_state.h"

using netsdk::set_last_error;

extern "C" {

int32_t NET_PlayBackByTimeEx(int32_t, int32_t, const NET_TIME*, const NET_TIME*, void*, NET_PlayPosCallback, intptr_t,
                             NET_PlayDataCallback, intptr_t) {
  set_last_error(NET_ERR_NOT_SUPPORTED);
  return 0;
}
NET_BOOL NET_StopPlayBack(int32_t) {
  set_last_error(NET_ERR_INVALID_HANDLE);
  return 0;
}
NET_BOOL NET_PausePlayBack(int32_t, NET_BOOL) {
  set_last_error(NET_ERR_INVALID_HANDLE);
  return 0;
}
NET_BOOL NET_FastPlayBack(int32_t) {
  set_last_error(NET_ERR_INVALID_HANDLE);
  return 0;
}
NET_BOOL NET_SlowPlayBack(int32_t) {
  set_last_error(NET_ERR_INVALID_HANDLE);
  return 0;
}
NET_BOOL NET_NormalPlayBack(int32_t) {
  set_last_error(NET_ERR_INVALID_HANDLE);
  return 0;
}
NET_BOOL NET_GetPlayBackOsdTime(int32_t, NET_TIME*, NET_TIME*, NET_TIME*) {
  set_last_error(NET_ERR_INVALID_HANDLE);
  return 0;
}
int32_t NET_DownloadByTime(int32_t, int32_t, int32_t, const NET_TIME*, const NET_TIME*, const char*,
                           NET_TimeDownloadPosCallback, intptr_t) {
  set_last_error(NET_ERR_NOT_SUPPORTED);
  return 0;
}
NET_BOOL NET_StopDownload(int32_t) {
  set_last_error(NET_ERR_INVALID_HANDLE);
  return 0;
}

}  // extern "C"
