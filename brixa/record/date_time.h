// The recordings' date-times: the 14-digit and 6-digit texts of the exports, the NetSDK's six
// field record, and seconds added in local time.
#pragma once

#include <cstdint>
#include <string>

#include "brixa/sdk/sdk.h"

namespace brixa::record {

// "YYYYMMDDhhmmss" read with "%4u%2u%2u%2u%2u%2u" into a zeroed record: fields the text does not
// supply stay 0. A null text gives an all-zero record.
NET_TIME parse_time(const char* text);
// "YYYYMM" read with "%4u%2u" (year and month; the rest 0).
NET_TIME parse_month(const char* text);
// The time `seconds` later (or earlier, when negative), counted in local time: the fields are
// read as a local wall-clock time whose daylight-saving state is not known.
NET_TIME add_seconds(const NET_TIME& time, int64_t seconds);
// "%d%.2d%.2d%.2d%.2d%.2d": the year unpadded, the other fields as two digits.
std::string format_time(const NET_TIME& time);
// True when no on-screen time has been recorded yet (the year is 0).
inline bool unset(const NET_TIME& time) { return time.year == 0; }

}  // namespace brixa::record
