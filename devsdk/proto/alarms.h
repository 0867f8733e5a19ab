// Alarm messages of the device wire protocol (README.md beside this file, "Alarms"): the codes
// of the alarm kinds and the reply to an alarm subscription. The pushed event itself is
// proto::AlarmEvent (messages.h).
#pragma once

#include <cstdint>
#include <vector>

namespace proto {

// Alarm kinds, as the codes an application's message callback receives.
inline constexpr uint32_t kAlarmInput = 0x2101;      // an alarm input closed (channel: input number)
inline constexpr uint32_t kAlarmMotion = 0x2102;     // motion in the channel's picture
inline constexpr uint32_t kAlarmVideoLoss = 0x2103;  // the channel lost its video
inline constexpr uint32_t kAlarmMasking = 0x2104;    // the camera was covered
inline constexpr uint32_t kAlarmAudio = 0x2105;      // sound above the channel's threshold
inline constexpr uint32_t kAlarmDiskFull = 0x2106;   // a disk is full (channel: disk number)
inline constexpr uint32_t kAlarmDiskError = 0x2107;  // a disk failed (channel: disk number)
inline constexpr uint32_t kFirstAlarmKind = kAlarmInput;
inline constexpr uint32_t kLastAlarmKind = kAlarmDiskError;
inline constexpr int32_t kMaxAlarmChannels = 256;

inline bool valid_alarm(uint32_t kind, int32_t channel) {
  return kind >= kFirstAlarmKind && kind <= kLastAlarmKind && channel >= 0 && channel < kMaxAlarmChannels;
}

// The reply to alarm_subscribe: how many state slots each kind has (the device's video channels
// for the picture kinds, its alarm inputs for kAlarmInput). The device then pushes every alarm
// that is on, and from then on every alarm it raises or clears.
struct AlarmSubscribeReply {
  uint16_t channels = 0;
  uint16_t alarm_inputs = 0;
};

std::vector<uint8_t> encode(const AlarmSubscribeReply& m);
bool decode(const std::vector<uint8_t>& payload, AlarmSubscribeReply& m);

}  // namespace proto
