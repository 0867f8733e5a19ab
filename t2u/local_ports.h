// The local ports the tunnel library may listen on.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/net/socket_io.h"

namespace t2u {

// Process-wide; kept across t2u_init/t2u_exit. Any thread.
class LocalPorts {
 public:
  // Bounds the ports chosen when the caller asks for none. first = last = 0 lifts the bound.
  // 0 on success; -1 for an empty or reversed range, or one that starts at port 0.
  int set_range(int first, int last);

  // A listener on 127.0.0.1: on `requested` when it is not 0 (whatever the range), otherwise on
  // a free port of the range, or on any port the system gives when there is no range. Invalid
  // when no such port can be bound. `bound` receives the port.
  platform::net::UniqueFd listen(uint16_t requested, uint16_t* bound);

 private:
  std::mutex lock_;
  uint16_t first_ = 0;  // guarded by lock_; 0: no range
  uint16_t last_ = 0;   // guarded by lock_
  uint32_t cursor_ = 0; // guarded by lock_; where the next search in the range starts
};

}  // namespace t2u
