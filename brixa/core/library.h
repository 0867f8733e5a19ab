// Process-wide start and stop of the library, and the client lifecycle.
#pragma once

#include <cstdint>

#include "brixa/api/brixa.h"
#include "brixa/core/client.h"

namespace brixa {

void init(const char* svraddr, uint16_t svrport, const char* svrkey);
void uninit();
bool initialised();
// Counts the library's stops: a record made under an earlier generation holds NetSDK logins and
// tunnel ports of a library that is gone.
uint64_t library_generation();

brixa_handle create_client();
void release_client(brixa_handle client);
// Ends a client just taken out of the registry, as brixa_release does: cancels its cloud calls,
// stops its streams, logs its sessions out, frees its connections and ends its workers, each
// with its bound; then gives back `client`, the registry's reference.
void end_client(ClientRef client);

}  // namespace brixa
