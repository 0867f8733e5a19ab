// The tunnel connectors' share of the library's start and stop, and of releasing a client.
#pragma once

#include <cstdint>

#include "brixa/core/client.h"
#include "brixa/core/device_session.h"

namespace brixa::tunnel {

// brixa_init: opens the socket map and starts the T2U check thread.
void start_connectors();
// brixa_uninit: stops the T2U check thread (within its bound), finishes the releases deferred to
// it, and empties and closes the socket map.
void stop_connectors();

// Tests: runs one check round now, on the calling thread, as the check thread does every second
// (rounds never overlap). False when brixa_init has not created the socket map.
bool run_check_round_for_testing();

// Releases one session's connection; the caller holds the client's device list lock: logs the
// session out, unlinks it, deletes its connector (its port closes), ends its device-information
// thread and frees it. brixa_release, brixa_release_connect and the check thread's deferred
// releases all end a session this way. A session of an earlier library generation is freed
// without calls into the NetSDK or the tunnel library.
void release_session_locked(brixa_client* client, device_session* session) REQUIRES(client->device_list_lock);

// Hands the release of `connector`'s session to the check thread, for a release that could not
// reach the client's device list in time. The check thread retries each round until it succeeds
// or the session is gone.
void defer_release(ClientRef client, brixa_connector* connector);

// The status callback of every connector: posts BRIXA_CB_CALLBACK_P2P_MAPPED with the
// connection handle, the status and the device identifier.
void post_status(brixa_connector* connector, int32_t status);

}  // namespace brixa::tunnel
