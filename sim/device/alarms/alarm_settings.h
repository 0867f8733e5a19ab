// What makes a simulated device raise alarms on its own: a script of alarm changes at given
// offsets from the device's start (optionally repeated), and motion alarms derived from the
// moving objects of its scenes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim::device {

struct AlarmChange {
  uint32_t at_ms = 0;  // offset from the device's start (from the loop's start when repeated)
  uint32_t kind = 0;   // an alarm code 0x2101-0x2107 (devsdk/proto/alarms.h)
  int32_t channel = 0;
  uint8_t state = 0;   // 1 on, 0 off
};

struct AlarmSettings {
  std::vector<AlarmChange> script;  // in any order; run in the order of at_ms
  uint32_t loop_ms = 0;             // above 0: the script starts again every loop_ms
  bool scene_motion = false;        // motion alarms while a scene's car crosses its detection zone
};

// The alarm code of a kind's name ("input", "motion", "video_loss", "masking", "audio",
// "disk_full", "disk_error") or of its number as text ("8450", "0x2102"); 0 when unknown.
uint32_t alarm_kind_of(const std::string& text);
// Reads "KIND:CHANNEL:STATE@MS" (for instance "motion:0:1@1500"); false when it is not one.
bool parse_alarm_change(const std::string& text, AlarmChange& out);

}  // namespace sim::device
