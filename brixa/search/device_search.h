// The LAN device search: a search thread that collects the Device SDK's search answers for
// about 1.1 s and reports every device found since the previous report, each serial number
// once, as one JSON list (BRIXA_CB_CALLBACK_SEARCH_DEVICE).
//
// Threads and locks (all process-wide state lives as long as the process):
//  - the exports and brixa_uninit start and stop the search thread under the search owner lock,
//    which is held only to start, take over or join the thread (bounded);
//  - the search thread polls the running flag (an atomic) every 100 ms, so a stop ends it at
//    once;
//  - the Device SDK's search thread adds answers to the found list, and the search thread
//    empties it into a report, both under the found list lock (innermost, held only for list
//    work; the callback queue's lock is taken inside it when the report is posted).
//  - The Device SDK's search runs from the first search until brixa_uninit, so devices that
//    answer between two searches are in the next report.
#pragma once

#include <cstdint>
#include <string>

#include "brixa/api/brixa.h"
#include "devsdk/netsdk/netsdk.h"

namespace brixa::search {

inline constexpr int kCollectSteps = 11;     // steps of kCollectStepMs before the report
inline constexpr int kCollectStepMs = 100;

int32_t start_search_devices(brixa_handle handle);
int32_t stop_search_devices();
// brixa_uninit: ends a running search without a report and stops the Device SDK's search.
void stop_search_on_uninit();

// The Device SDK's found-device notification.
void found_device(const NET_DEVICE_SEARCH_INFO* info, intptr_t user);

// The report of the found list as it stands, newest first, emptying it (for tests too).
std::string take_report();

}  // namespace brixa::search
