// The NetSDK's alarm listening: which logins listen, the last alarm states of each, and the one
// alarm thread that calls the application's message callback.
//
// Threads: connection reader threads hand pushed alarm events in (on_alarm_push); application
// threads start and stop listening; the alarm thread delivers. Everything below is guarded by
// one mutex private to alarm_listening.cpp, never held while the callback runs or a request
// waits, so a callback may call any NetSDK operation.
#pragma once

#include <cstdint>
#include <string>

#include "devsdk/proto/wire.h"

namespace netsdk {

// A pushed message on a login's control connection (reader thread). Alarm events of a login
// that listens become message callbacks; anything else is ignored.
void on_alarm_push(int32_t login_id, const std::string& device_ip, uint16_t device_port, const proto::Message& m);
// NET_Logout: the login listens no more.
void forget_alarm_listening(int32_t login_id);
// NET_Cleanup: ends the alarm thread (alarms not yet delivered are dropped) and every listening.
void stop_alarm_thread();

}  // namespace netsdk
