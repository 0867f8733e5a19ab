#include "sim/device/alarms/alarm_settings.h"

#include <cstdlib>

#include "devsdk/proto/alarms.h"

namespace sim::device {
namespace {

bool number_of(const std::string& text, long low, long high, long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 0);
  if (*end != 0 || value < low || value > high) return false;
  out = value;
  return true;
}

}  // namespace

uint32_t alarm_kind_of(const std::string& text) {
  struct Named {
    const char* name;
    uint32_t kind;
  };
  static const Named kNames[] = {{"input", proto::kAlarmInput},           {"motion", proto::kAlarmMotion},
                                 {"video_loss", proto::kAlarmVideoLoss},  {"masking", proto::kAlarmMasking},
                                 {"audio", proto::kAlarmAudio},           {"disk_full", proto::kAlarmDiskFull},
                                 {"disk_error", proto::kAlarmDiskError}};
  for (const auto& n : kNames)
    if (text == n.name) return n.kind;
  long value = 0;
  if (number_of(text, proto::kFirstAlarmKind, proto::kLastAlarmKind, value)) return static_cast<uint32_t>(value);
  return 0;
}

bool parse_alarm_change(const std::string& text, AlarmChange& out) {
  size_t c1 = text.find(':');
  size_t c2 = c1 == std::string::npos ? c1 : text.find(':', c1 + 1);
  size_t at = c2 == std::string::npos ? c2 : text.find('@', c2 + 1);
  if (at == std::string::npos) return false;
  long channel = 0, state = 0, at_ms = 0;
  uint32_t kind = alarm_kind_of(text.substr(0, c1));
  if (kind == 0 || !number_of(text.substr(c1 + 1, c2 - c1 - 1), 0, proto::kMaxAlarmChannels - 1, channel) ||
      !number_of(text.substr(c2 + 1, at - c2 - 1), 0, 1, state) ||
      !number_of(text.substr(at + 1), 0, 24L * 3600 * 1000, at_ms)) {
    return false;
  }
  out.kind = kind;
  out.channel = static_cast<int32_t>(channel);
  out.state = static_cast<uint8_t>(state);
  out.at_ms = static_cast<uint32_t>(at_ms);
  return true;
}

}  // namespace sim::device
