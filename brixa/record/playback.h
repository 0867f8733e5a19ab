// Playback by time into a window, its control (speed, pause, skips of 10 seconds) and the backup
// (download by time into a file): one playback and one backup for the whole process, each
// stopping the other.
//
// Threads and locks
//  - The exports run on caller threads. Starts, stops, skips and backups are serialised by the
//    playback operations lock, the outermost lock of this family, held across their Device SDK
//    calls: one playback and one backup per process leave nothing to run side by side. The speed
//    and pause commands act on the handle they are given and do not take it.
//  - The playback state is guarded by its own lock, taken inside a client's device list lock
//    and never held across a Device SDK call. The position notification (a Device SDK thread)
//    and the session teardown hook take only that lock.
//  - The state names its current device by client handle, session address and login handle; it
//    reads the session only through the client registry and under the client's device list lock,
//    after checking that the session is still in the list with that login. The teardown hook
//    makes the state forget a session before the session is logged out or freed.
//  - The download notification (a Device SDK thread) only posts callbacks.
#pragma once

#include <cstdint>

#include "brixa/api/brixa.h"
#include "brixa/core/device_session.h"
#include "brixa/sdk/sdk.h"

namespace brixa::record {

int32_t start_playback(brixa_handle handle, void* hwnd, const char* dev_id, int32_t chl_id, const char* start_time);
int32_t stop_playback(int32_t playback_id);
int32_t control_playback(int32_t playback_id, uint32_t ctrl_cmd);
int32_t start_backup(brixa_handle handle, const char* dev_id, int32_t chl_id, const char* start_time,
                     int32_t backup_len_secs, const char* file_name);
int32_t stop_backup();

// The session is logged out, reset or released: the playback state stops referring to it. The
// client's device list lock is held by the caller.
void forget_session(device_session* session);
// brixa_release: stops the session's playback (deleting its capture) and its download, then
// forgets the session. The client's device list lock is held by the caller.
void stop_session_recordings(device_session* session);

// What the playback state holds, for tests.
struct PlaybackSnapshot {
  bool playback_active;
  bool backup_active;
  bool has_current_device;
  int32_t playback_handle;  // the playback the notifications follow
  NET_TIME current_time;
  int32_t speed_step;  // 0 normal; each faster +1, each slower -1 (within the SDK's -3..3)
};
PlaybackSnapshot playback_snapshot();
// Tests only: back to the state of a freshly loaded library.
void reset_playback_state_for_testing();

}  // namespace brixa::record
