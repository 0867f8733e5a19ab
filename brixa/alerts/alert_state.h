// The alert part of a device session: which channels listen for alerts and the alarm states
// last seen. Embedded in every device session and guarded, like the rest of it, by the client's
// device list lock (the exports and the Device SDK's alarm notification both take it).
#pragma once

#include <cstdint>

namespace brixa::alerts {

inline constexpr int kAlertChannels = 64;
inline constexpr int kAlarmKinds = 7;  // the Device SDK's alarm codes 0x2101 to 0x2107

struct AlertState {
  int32_t listen[kAlertChannels] = {};                 // 1 while the channel listens
  // The login the flags and states belong to: after a logout and a new login the device no
  // longer listens, so flags of an older login count for nothing.
  int32_t listening_login = 0;
  uint8_t last_state[kAlarmKinds][kAlertChannels] = {};  // state byte last seen per kind and channel
};

}  // namespace brixa::alerts
