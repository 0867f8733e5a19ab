// The sound, PTZ, snapshot and local-recording exports: thin wrappers over audio_ptz.h and
// snapshots.h.
#include "brixa/api/brixa.h"
#include "brixa/live/audio_ptz.h"
#include "brixa/live/snapshots.h"

extern "C" {

BRIXA_API int32_t brixa_open_sound(brixa_handle handle, const char* dev_id, int32_t chl_id) {
  return brixa::live::open_sound(handle, dev_id, chl_id);
}

BRIXA_API int32_t brixa_close_sound(brixa_handle handle, const char* dev_id, int32_t chl_id) {
  return brixa::live::close_sound(handle, dev_id, chl_id);
}

BRIXA_API int32_t brixa_setvolume(brixa_handle handle, const char* dev_id, int32_t chl_id, int32_t volume) {
  return brixa::live::set_volume(handle, dev_id, chl_id, volume);
}

BRIXA_API int32_t brixa_ptz_command(brixa_handle handle, const char* dev_id, int32_t chl_id, int32_t command,
                                    int32_t parameter, int32_t stop) {
  return brixa::live::ptz_command(handle, dev_id, chl_id, command, parameter, stop);
}

BRIXA_API int32_t brixa_save_picture(brixa_handle handle, const char* dev_id, int32_t chl_id, const char* file_path) {
  return brixa::live::save_picture(handle, dev_id, chl_id, file_path);
}

BRIXA_API int32_t brixa_save_play_picture(brixa_handle handle, const char* dev_id, const char* file_path) {
  return brixa::live::save_play_picture(handle, dev_id, file_path);
}

BRIXA_API int32_t brixa_start_recording(brixa_handle handle, const char* dev_id, int32_t chl_id,
                                        const char* file_path) {
  return brixa::live::start_recording(handle, dev_id, chl_id, file_path);
}

BRIXA_API int32_t brixa_stop_recording(brixa_handle handle, const char* dev_id, int32_t chl_id) {
  return brixa::live::stop_recording(handle, dev_id, chl_id);
}

BRIXA_API int32_t brixa_start_play_recording(brixa_handle handle, const char* dev_id, const char* file_path) {
  return brixa::live::start_play_recording(handle, dev_id, file_path);
}

BRIXA_API int32_t brixa_stop_play_recording(brixa_handle handle, const char* dev_id) {
  return brixa::live::stop_play_recording(handle, dev_id);
}

}  // extern "C"
