// Device sessions: logging a client's device session in and out through its tunnel's mapped
// port, resetting it, reading its login facts, its device information (on a thread of its own,
// posted as callback 257), its service ports and its alarm outputs.
//
// Every operation holds a reference to its client and takes the client's device list lock only to
// read or change sessions: device requests (the login included) run without it, on copies. The
// device-information thread takes no lock: it works on copies taken when it starts and polls
// only its co-owned running flag.
#pragma once

#include <cstdint>
#include <string>

#include "brixa/api/brixa.h"
#include "brixa/core/device_session.h"

namespace brixa {

int32_t login(brixa_handle client, const char* dev_id, uint16_t dev_port, const char* dev_user,
              const char* dev_pass);
int32_t logout(brixa_handle client, const char* dev_id);
int32_t reset(brixa_handle client, const char* dev_id);
int32_t get_login_id(brixa_handle client, const char* dev_id);
int32_t get_dev_channel_count(brixa_handle client, const char* dev_id);

int32_t start_get_device_info(brixa_handle client, const char* dev_id);
int32_t stop_get_device_info(brixa_handle client, const char* dev_id);

enum class ServicePort { http, https, tcp };
int32_t get_service_port(brixa_handle client, const char* dev_id, ServicePort which);

int32_t get_output_count(brixa_handle client, const char* dev_id);
int32_t get_output(brixa_handle client, const char* dev_id, int32_t output_index);
int32_t set_output(brixa_handle client, const char* dev_id, int32_t output_index, int32_t closed);

// Clears the session's device-information running flag and takes its thread out (device list
// lock held); end_device_info_thread then waits for it, with its bound, once the lock is let go.
platform::Thread take_device_info_thread(device_session* session);
void end_device_info_thread(platform::Thread thread);

// The success payload of callback 257 for a device with `channels` channels.
std::string device_info_json(const char* dev_id, const char* name, int32_t channels);

}  // namespace brixa
