// The socket map: every connector whose port is currently added, keyed by itself. It lives as
// long as the process; brixa_init opens it and brixa_uninit empties and closes it. Connect and
// disconnect (any export thread) add and remove under the write lock; the check thread walks it
// under the read lock. The lock is held for map work and local tunnel-library calls only.
#pragma once

#include "brixa/core/pointer_map.h"
#include "brixa/core/rw_lock.h"
#include "platform/thread_annotations.h"

namespace brixa::tunnel {

struct SocketMap {
  RwLock lock;
  bool open GUARDED_BY(lock) = false;
  PointerMap connectors GUARDED_BY(lock);  // connector -> the same connector
};

SocketMap& socket_map();

}  // namespace brixa::tunnel
