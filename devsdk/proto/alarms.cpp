#include "devsdk/proto/alarms.h"

#include "devsdk/proto/wire.h"

namespace proto {

std::vector<uint8_t> encode(const AlarmSubscribeReply& m) {
  Writer w;
  w.u16(m.channels).u16(m.alarm_inputs);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, AlarmSubscribeReply& m) {
  Reader r(payload);
  m.channels = r.u16();
  m.alarm_inputs = r.u16();
  return r.ok();
}

}  // namespace proto
