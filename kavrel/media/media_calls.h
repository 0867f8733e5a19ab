// The brixa exports behind sound, PTZ, fisheye, snapshots and local recordings, gathered in one
// table so tests can watch which library calls a script method or a button makes. The control
// uses library_media_calls() unless a test gives it another table.
#pragma once

#include <cstdint>

#include "brixa/api/brixa.h"

namespace kavrel {

struct MediaCalls {
  int32_t (*open_sound)(brixa_handle, const char* dev_id, int32_t channel);
  int32_t (*close_sound)(brixa_handle, const char* dev_id, int32_t channel);
  int32_t (*setvolume)(brixa_handle, const char* dev_id, int32_t channel, int32_t volume);
  int32_t (*ptz_command)(brixa_handle, const char* dev_id, int32_t channel, int32_t command, int32_t parameter,
                         int32_t stop);
  void (*set_fisheye_mount_mode)(brixa_handle, const char* dev_id, int32_t channel, int32_t mode);
  void (*set_fisheye_visualization)(brixa_handle, const char* dev_id, int32_t channel, int32_t visualization);
  int32_t (*save_picture)(brixa_handle, const char* dev_id, int32_t channel, const char* path);
  int32_t (*save_play_picture)(brixa_handle, const char* dev_id, const char* path);
  int32_t (*start_recording)(brixa_handle, const char* dev_id, int32_t channel, const char* path);
  int32_t (*stop_recording)(brixa_handle, const char* dev_id, int32_t channel);
  int32_t (*start_play_recording)(brixa_handle, const char* dev_id, const char* path);
  int32_t (*stop_play_recording)(brixa_handle, const char* dev_id);
};

const MediaCalls& library_media_calls();

}  // namespace kavrel
