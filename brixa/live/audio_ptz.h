// Sound, volume and pan-tilt-zoom of a streaming channel. Ordinary channels go through the
// NetSDK; a fisheye channel plays its sound through its play port, and its PTZ commands move,
// zoom and select the electronic-PTZ windows of the dewarped view instead of the camera.
//
// Every export holds a client reference and the client's device list lock across its Device SDK
// calls (which are local: no network wait but a PTZ request's). The process-wide sound stream
// handle (live_streams.h) is switched under the sound lock, taken inside the device list lock,
// so two opens never interleave their close and open.
#pragma once

#include <cstdint>

#include "brixa/api/brixa.h"
#include "devsdk/playsdk/playsdk.h"

namespace brixa::live {

int32_t open_sound(brixa_handle handle, const char* dev_id, int32_t chl_id);
int32_t close_sound(brixa_handle handle, const char* dev_id, int32_t chl_id);
int32_t set_volume(brixa_handle handle, const char* dev_id, int32_t chl_id, int32_t volume);
int32_t ptz_command(brixa_handle handle, const char* dev_id, int32_t chl_id, int32_t command, int32_t parameter,
                    int32_t stop);

// The electronic-PTZ update a fisheye channel sends for a command (not 10): `visualization` and
// `eptz_window` decide whether left and right rotate the view.
PLAY_FISHEYE_EPTZ eptz_update_for(int32_t command, int32_t stop, int32_t visualization, int32_t eptz_window);

}  // namespace brixa::live
