// The device side of one connection: what the device answers to each message. No sockets: the
// connection thread feeds it whole messages and sends what it returns, so the fuzz target can
// drive it the same way.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "devsdk/proto/messages.h"
#include "devsdk/proto/wire.h"

namespace sim::device {

class Device;
class PushSink;

class ControlSession {
 public:
  explicit ControlSession(Device& device) : device_(device) {}
  ~ControlSession();  // ends the connection's login, if any
  ControlSession(const ControlSession&) = delete;
  ControlSession& operator=(const ControlSession&) = delete;

  // What the connection does after a message. `stream`: the message was a bind (bind() holds
  // it); the connection becomes a stream connection, and its owner answers the bind.
  enum class Next { keep, close, stall, stream };
  // Handles one message from the client, appending the bytes to send back to `out`.
  Next handle(const proto::Message& message, std::vector<uint8_t>& out);

  // The largest payload the device accepts from a client.
  static constexpr uint32_t kMaxRequestPayload = 64 * 1024;

  // The connection's sending side: alarm subscriptions push through it. Without one (the
  // fuzz target) subscriptions are refused.
  void set_push_sink(std::shared_ptr<PushSink> sink) { sink_ = std::move(sink); }

  const proto::BindRequest& bind() const { return bind_; }
  uint32_t bind_request_id() const { return bind_request_id_; }

 private:
  Device& device_;
  uint32_t token_ = 0;  // the login of this connection; 0 before login
  proto::BindRequest bind_;
  uint32_t bind_request_id_ = 0;
  std::shared_ptr<PushSink> sink_;
  bool subscribed_ = false;
};

}  // namespace sim::device
