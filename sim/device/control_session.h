// The device side of one connection: what the device answers to each message. No sockets: the
// connection thread feeds it whole messages and sends what it returns, so the fuzz target can
// drive it the same way.
#pragma once

#include <cstdint>
#include <vector>

#include "devsdk/proto/wire.h"

namespace sim::device {

class Device;

class ControlSession {
 public:
  explicit ControlSession(Device& device) : device_(device) {}
  ~ControlSession();  // ends the connection's login, if any
  ControlSession(const ControlSession&) = delete;
  ControlSession& operator=(const ControlSession&) = delete;

  // What the connection does after a message.
  enum class Next { keep, close, stall };
  // Handles one message from the client, appending the bytes to send back to `out`.
  Next handle(const proto::Message& message, std::vector<uint8_t>& out);

  // The largest payload the device accepts from a client.
  static constexpr uint32_t kMaxRequestPayload = 64 * 1024;

 private:
  Device& device_;
  uint32_t token_ = 0;  // the login of this connection; 0 before login
};

}  // namespace sim::device
