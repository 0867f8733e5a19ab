// The local port probe: is something listening on 127.0.0.1 at that port?
#pragma once

#include <cstdint>

namespace kavrel {

// True when a TCP connection to 127.0.0.1:port is accepted (the port is in use); false when it
// is refused or cannot be tried. The probe socket is closed either way.
bool local_port_in_use(uint16_t port);

}  // namespace kavrel
