// The JSON answers of the record queries (callbacks 259 and 260): the request repeated, with the
// page's files or the month's day flags. Printed compact, keys in a fixed order.
#pragma once

#include <cstdint>
#include <string>

#include "brixa/sdk/sdk.h"

namespace brixa::record {

inline constexpr int kDaysInFlag = 31;

// {"dev_id","chl_id","start","end","records":[{"name","start","end","type","size"}...]}; with
// `files` null the object has no "records" (a failed page). Empty when it cannot be printed.
std::string record_page_json(const char* dev_id, int32_t chl_id, const char* start, const char* end,
                             const NET_RECORDFILE_INFO* files, int32_t count);
// {"dev_id","chl_id","month","flag"}: "flag" has 31 characters, the i-th "1" when day i + 1
// holds recordings. With `status` null there is no "flag" (a failed query). Empty when it cannot
// be printed.
std::string record_status_json(const char* dev_id, int32_t chl_id, const char* month, const NET_RECORD_STATUS* status);

}  // namespace brixa::record
