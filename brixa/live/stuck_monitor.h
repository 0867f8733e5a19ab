// The stuck-connection monitor: a library thread that looks at every registered capture every
// 5 seconds and marks streams whose frames stopped.
#pragma once

#include <cstdint>

namespace brixa::live {

// A live stream whose last frame is older than this is stalled.
inline constexpr uint32_t kStuckAfterMs = 30000;

// One round of the monitor: marks every live capture whose last frame is more than 30000 ms old
// as stuck and writes the disconnection notice into its window; clears the mark of the others.
// Playback captures are never looked at.
void check_stuck_connections();

// brixa_init: starts the monitor unless it runs already.
void start_stuck_monitor();
// brixa_uninit: asks the monitor to stop and waits at most `wait_ms` for it; a monitor that has
// not ended by then is handed to the abandoned-thread list, which joins it once it ends.
void stop_stuck_monitor(uint32_t wait_ms);
bool stuck_monitor_running();

}  // namespace brixa::live
