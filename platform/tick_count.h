// A 32-bit millisecond tick count that wraps, as the control's timers and timeouts expect.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since an unspecified start, wrapping every 2^32 ms. Differences of two readings
// taken less than 49 days apart are correct in unsigned arithmetic.
uint32_t tick_count_ms();

}  // namespace platform
