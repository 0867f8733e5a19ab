// Process-wide start and stop of the library, and the client lifecycle.
#pragma once

#include <cstdint>

#include "brixa/api/brixa.h"

namespace brixa {

void init(const char* svraddr, uint16_t svrport, const char* svrkey);
void uninit();
bool initialised();

brixa_handle create_client();
void release_client(brixa_handle client);
// Releases a registered client while the caller holds the registry's write lock:
// stops its streams, logs its sessions out, frees its connections, joins its workers, removes
// it from the registry and frees it.
void release_client_locked(brixa_handle client);

}  // namespace brixa
