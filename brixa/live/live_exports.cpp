// The live-stream exports: thin wrappers over live_streams.h and resolution.h.
#include "brixa/api/brixa.h"
#include "brixa/live/live_streams.h"
#include "brixa/live/resolution.h"

extern "C" {

BRIXA_API int32_t brixa_start_realplay(brixa_handle handle, void* hwnd, const char* dev_id, int32_t chl_id,
                                       int32_t stream_id) {
  return brixa::live::start_realplay(handle, hwnd, dev_id, chl_id, stream_id);
}

BRIXA_API int32_t brixa_stop_realplay(brixa_handle handle, const char* dev_id, int32_t chl_id) {
  return brixa::live::stop_realplay(handle, dev_id, chl_id);
}

BRIXA_API int32_t brixa_get_channel_resolution(brixa_handle handle, const char* dev_id, int32_t chl_id,
                                               int32_t stream_id, int32_t* width, int32_t* height) {
  return brixa::live::get_channel_resolution(handle, dev_id, chl_id, stream_id, width, height);
}

BRIXA_API int32_t brixa_get_connection_type(brixa_handle handle, const char* dev_id, int32_t* usingRelay,
                                            int32_t* localNATType, int32_t* remoteNATType, int32_t* remoteVersion) {
  return brixa::live::get_connection_type(handle, dev_id, usingRelay, localNATType, remoteNATType, remoteVersion);
}

BRIXA_API void brixa_set_fisheye_mount_mode(brixa_handle handle, const char* dev_id, int32_t chl_id,
                                            int32_t mount_mode) {
  brixa::live::set_fisheye_mount_mode(handle, dev_id, chl_id, mount_mode);
}

BRIXA_API void brixa_set_fisheye_visualization(brixa_handle handle, const char* dev_id, int32_t chl_id,
                                               int32_t visualization_mode) {
  brixa::live::set_fisheye_visualization(handle, dev_id, chl_id, visualization_mode);
}

}  // extern "C"
