// The tunnel connectors' share of the library's start and stop, and of releasing a client.
#pragma once

#include "brixa/core/client.h"
#include "brixa/core/device_session.h"

namespace brixa::tunnel {

// brixa_init: creates the socket map and starts the T2U check thread.
void start_connectors();
// brixa_uninit: stops the T2U check thread and frees the socket map.
void stop_connectors();

// Releases one session's connection while the caller holds the client registry's lock and the
// client's device list lock: logs the session out, unlinks it, deletes its connector, joins its
// device-information thread and frees it.
void release_session_locked(brixa_client* client, device_session* session);

}  // namespace brixa::tunnel
