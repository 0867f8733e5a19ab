// The socket map: every connector whose port is currently added, keyed by itself. Created by
// brixa_init and freed by brixa_uninit; guarded by its own lock. Lock order: the client
// registry, then a client's device list lock, then the socket map. The check thread never
// waits without limit for another lock while it holds the socket map's.
#pragma once

#include "brixa/core/pointer_map.h"

namespace brixa::tunnel {

// Null before brixa_init and after brixa_uninit.
PointerMap* socket_map();

}  // namespace brixa::tunnel
