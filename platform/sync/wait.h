// Time-outs shared by the synchronisation objects.
#pragma once

#include <cstdint>

namespace platform {

// Wait without limit.
inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

}  // namespace platform
