// Alert listening: which channels of a device listen for its alarms, the Device SDK's listening
// per device (started with the first channel, stopped with the last), and the alarm
// notification that turns each alarm coming on into BRIXA_CB_CALLBACK_GET_LIVE_ALERT and keeps
// the live overlay's alarm indicators in step.
//
// Threads and locks: the exports run on caller threads; the notification on the NetSDK's alarm
// thread. Starts and stops are serialised by the alert operations lock (alerts.cpp), taken
// before a client's device list lock and held across the Device SDK's start or stop, so the
// listen flags and the device's listening never disagree; the notification takes only the
// device list lock (after a registry lookup of its client) and never waits on a device.
#pragma once

#include <cstdint>

#include "brixa/api/brixa.h"
#include "brixa/core/device_session.h"

namespace brixa::alerts {

int32_t start_listen_alert(brixa_handle handle, const char* dev_id, int32_t chl_id);
int32_t stop_listen_alert(brixa_handle handle, const char* dev_id, int32_t chl_id);

// brixa_release: stops the session's listening with the Device SDK when a channel listens and
// the session is logged in, and clears its flags. The device list lock is held by the caller.
void stop_session_alerts(device_session* session);

// brixa_uninit, once every client is released: the Device SDK's alarm notification is
// unregistered.
void stop_alerts_on_uninit();

// The Device SDK's alarm notification (registered with the client handle as user value).
int32_t alert_callback(int32_t command, int32_t login_id, const char* body, uint32_t length, const char* device_ip,
                       int32_t device_port, intptr_t user);

}  // namespace brixa::alerts
