// Snapshots and local recordings of a live channel or of the device's playback: the library
// picks the stream and passes the file path to the Device SDK, which writes the BMP or DAV file.
//
// Each export holds a client reference and the client's device list lock across its Device SDK
// call, so a snapshot or a recording start never meets a stream being torn down; the capture
// registry is read under its own lock inside.
#pragma once

#include <cstdint>

#include "brixa/api/brixa.h"

namespace brixa::live {

int32_t save_picture(brixa_handle handle, const char* dev_id, int32_t chl_id, const char* path);
int32_t save_play_picture(brixa_handle handle, const char* dev_id, const char* path);
int32_t start_recording(brixa_handle handle, const char* dev_id, int32_t chl_id, const char* path);
int32_t stop_recording(brixa_handle handle, const char* dev_id, int32_t chl_id);
int32_t start_play_recording(brixa_handle handle, const char* dev_id, const char* path);
int32_t stop_play_recording(brixa_handle handle, const char* dev_id);

}  // namespace brixa::live
