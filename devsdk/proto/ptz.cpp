#include "devsdk/proto/ptz.h"

#include "devsdk/proto/wire.h"

namespace proto {

std::vector<uint8_t> encode(const PtzControl& m) {
  Writer w;
  w.i32(m.channel).u32(m.command).i32(m.param1).i32(m.param2).i32(m.param3).u8(m.stop);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, PtzControl& m) {
  Reader r(payload);
  m.channel = r.i32();
  m.command = r.u32();
  m.param1 = r.i32();
  m.param2 = r.i32();
  m.param3 = r.i32();
  m.stop = r.u8();
  return r.ok();
}

}  // namespace proto
