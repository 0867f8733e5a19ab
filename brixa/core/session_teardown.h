// What brixa_release does to each device session before its connection is released.
#pragma once

#include "brixa/core/device_session.h"

namespace brixa {

// Stops the session's alert listening, live streams and playback with the Device SDK and logs
// it out. The device list lock is held by the caller.
void stop_session_activity(device_session* session);

// The session is about to be logged out or freed (logout, reset, release): whatever refers to it
// from outside the device list (the playback state) lets go of it. The device list lock is held
// by the caller.
void session_going_away(device_session* session);

}  // namespace brixa
