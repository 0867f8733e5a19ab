// The "recordings" member of a device's "device" object in the fixture (sim/device/README.md,
// "Recordings"): spans of recording by absolute times or by days relative to today.
#pragma once

#include <cjson/cJSON.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/device/settings.h"

namespace sim::device::recordings {

// Reads `item` (the member's value) into spans; relative days count from the day of `now`.
// False with a message naming `where` when the member breaks its format.
bool read_recordings(const cJSON* item, int64_t now, std::vector<RecordSpan>& out, std::string& error,
                     const std::string& where);

}  // namespace sim::device::recordings
