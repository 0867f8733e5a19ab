// The NetSDK's date-times: NET_TIME and the wire's time are both the device's local wall-clock
// time; media frames carry milliseconds since the epoch. Conversions follow the local-time rule
// (mktime with the daylight-saving flag unknown, localtime_r).
#pragma once

#include <cstdint>

#include "devsdk/netsdk/netsdk.h"
#include "devsdk/proto/messages.h"

namespace netsdk {

// False when a field is out of its range (month 1-12, day 1-31, hour 0-23, minute and second
// 0-59, year 1970-9999); `out` is then untouched.
bool to_wire_time(const NET_TIME& in, proto::Time& out);
// A point in time from milliseconds since the epoch, in local time.
NET_TIME local_net_time(uint64_t epoch_ms);

}  // namespace netsdk
