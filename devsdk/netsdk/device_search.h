// The NetSDK's LAN device searches: each search owns a UDP socket on 127.0.0.1 and a thread that
// asks the loopback broadcast address for devices and hands every answer to its callback.
#pragma once

#include <cstddef>

#include "devsdk/netsdk/netsdk.h"
#include "devsdk/proto/search.h"

namespace netsdk {

// Lays a device's answer into a search record; `sender_ip` stands in for an answer without an
// address. Every text is cut to its field and NUL-terminated.
void fill_search_record(const proto::SearchAnswer& answer, const char* sender_ip, NET_DEVICE_SEARCH_INFO& record);

// NET_Cleanup: stops every search.
void stop_all_searches();

}  // namespace netsdk
