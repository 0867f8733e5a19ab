// Fuzz target: the device simulator's side of the wire. Arbitrary bytes from a client go
// through the framing and the device's answer to every message, as a connection feeds them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "devsdk/proto/wire.h"
#include "sim/device/control_session.h"
#include "sim/device/device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sim::device::Settings settings;
  settings.alarm_outputs = {0, 1, 0};
  sim::device::Device device(settings);  // never started: no socket, no thread
  sim::device::ControlSession session(device);
  proto::FrameReader frames(sim::device::ControlSession::kMaxRequestPayload);
  frames.feed(data, size);
  proto::Message m;
  while (frames.next(m) == proto::FrameReader::Result::message) {
    std::vector<uint8_t> out;
    auto next = session.handle(m, out);
    // What the device sends must itself be well framed.
    proto::FrameReader echo(proto::kMaxControlPayload);
    echo.feed(out.data(), out.size());
    proto::Message reply;
    while (echo.next(reply) == proto::FrameReader::Result::message) {
    }
    if (next != sim::device::ControlSession::Next::keep) break;
  }
  return 0;
}
