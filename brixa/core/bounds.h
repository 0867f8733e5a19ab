// How long the library waits where it must wait. No wait in the library is unbounded: each
// ends at its bound, traces that it gave up, and leaves the rest to a later step (README.md,
// "Waits").
#pragma once

#include <cstdint>

namespace brixa {

// A library thread asked to stop (dispatcher, tunnel check, device-information and record
// workers): after this it is handed to the abandoned-thread list.
inline constexpr uint32_t kThreadStopMs = 2000;
// brixa_cli_detach_callback waits this long for a running callback of the client to return.
inline constexpr uint32_t kCallbackReturnMs = 2000;
// brixa_release waits this long for the client registry's write lock.
inline constexpr uint32_t kRegistryWriteMs = 2000;
// brixa_uninit waits this long for the registry's write lock before it keeps the registry.
inline constexpr uint32_t kUninitRegistryMs = 500;
// Releases wait this long for a client's device list lock before they defer their work.
inline constexpr uint32_t kDeviceListMs = 1000;

}  // namespace brixa
