// Live stream sessions: start and stop a channel's live stream into a window (plain NetSDK
// rendering, or a fisheye play port), the fisheye setters, the connection facts of the
// device's tunnel, and the stop of every stream when a client is released.
//
// Every export runs under the client registry's read lock and the client's device list lock for
// its whole walk, Device SDK calls and the fisheye wait included; the capture registry and a
// capture's lock are taken inside them (client_registry.h gives the order). The forced reset
// after an invalid login handle runs after both are released.
#pragma once

#include <cstdint>

#include "brixa/api/brixa.h"
#include "brixa/core/device_session.h"

namespace brixa::live {

// How long a fisheye start waits for the lens geometry before it gives up on the parameters.
inline constexpr uint32_t kFisheyeInfoWaitMs = 5000;

int32_t start_realplay(brixa_handle handle, void* hwnd, const char* dev_id, int32_t chl_id, int32_t stream_id);
int32_t stop_realplay(brixa_handle handle, const char* dev_id, int32_t chl_id);
void set_fisheye_mount_mode(brixa_handle handle, const char* dev_id, int32_t chl_id, int32_t mount_mode);
void set_fisheye_visualization(brixa_handle handle, const char* dev_id, int32_t chl_id, int32_t visualization_mode);
int32_t get_connection_type(brixa_handle handle, const char* dev_id, int32_t* using_relay, int32_t* local_nat_type,
                            int32_t* remote_nat_type, int32_t* remote_version);

// brixa_release: stops every live stream of the session (fisheye ports included) and deletes
// their captures. The device list lock is held by the caller.
void stop_session_streams(device_session* session);

// The live stream whose network-client sound is open, 0 when none: one process-wide value.
int32_t sound_stream_handle();
void set_sound_stream_handle(int32_t stream_handle);

}  // namespace brixa::live
