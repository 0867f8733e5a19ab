// The "alarms" member of a device's "device" object in a fixture (README.md, "Alarms").
#pragma once

#include <string>

#include "sim/device/alarms/alarm_settings.h"

struct cJSON;

namespace sim::device {

// Reads `device`'s "alarms" member into `out` (left alone when absent). False with a message
// naming `where` when it is malformed.
bool alarm_settings_of(const cJSON* device, AlarmSettings& out, std::string& error, const std::string& where);

}  // namespace sim::device
