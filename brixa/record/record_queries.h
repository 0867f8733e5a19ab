// Record queries: the files recorded between two times (pages of up to 100, callback 259) and the
// days of a month that hold recordings (callback 260), each on a worker of its own per client.
//
// The workers take no library lock: they work on copies and a reference to their client, and
// poll their kind's running flag and serial number. A start stops and joins the worker of its
// kind (outside the device list lock), and the dispatcher's pre-dispatch step joins a worker
// before its final answer is delivered (callback_dispatch.cpp).
#pragma once

#include <cstdint>

#include "brixa/api/brixa.h"

namespace brixa::record {

inline constexpr int32_t kRecordPageFiles = 100;

int32_t query_record_files(brixa_handle handle, const char* dev_id, int32_t chl_id, const char* start_time,
                           const char* end_time);
int32_t query_record_status(brixa_handle handle, const char* dev_id, int32_t chl_id, const char* month);

}  // namespace brixa::record
