#include "sim/device/control_session.h"

#include "devsdk/proto/messages.h"
#include "devsdk/proto/ptz.h"
#include "sim/device/device.h"
#include "sim/device/alarms/push_sink.h"

namespace sim::device {
namespace {

std::vector<uint8_t> garbage_bytes() {
  std::vector<uint8_t> bytes(64);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(0xA5 ^ (i * 37));
  return bytes;
}

std::vector<uint8_t> oversized_header(uint16_t type, uint32_t request_id) {
  std::vector<uint8_t> out;
  proto::Header h;
  h.type = type;
  h.flags = proto::kFlagReply;
  h.request_id = request_id;
  h.length = 0x7FFFFFF0u;  // announced, never sent
  proto::append_header(out, h);
  return out;
}

void reply(std::vector<uint8_t>& out, const proto::Message& m, int32_t status,
           const std::vector<uint8_t>& payload = {}) {
  auto bytes = proto::reply_bytes(static_cast<proto::Type>(m.header.type), m.header.request_id, status, payload);
  out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace

ControlSession::~ControlSession() {
  if (subscribed_) device_.alarm_hub().unsubscribe(sink_);
  if (token_ != 0) device_.logout(token_);
}

ControlSession::Next ControlSession::handle(const proto::Message& m, std::vector<uint8_t>& out) {
  // Replies and pushes have no place on the device's side of a control connection.
  if (m.is_reply() || m.is_push()) return Next::close;

  Fault fault = device_.fault_for(m.header.type);
  switch (fault.kind) {
    case FaultKind::none:
      break;
    case FaultKind::drop:
      return Next::close;
    case FaultKind::stall:
      return Next::stall;
    case FaultKind::garbage: {
      auto bytes = garbage_bytes();
      out.insert(out.end(), bytes.begin(), bytes.end());
      return Next::keep;
    }
    case FaultKind::refuse:
      reply(out, m, proto::status::not_supported);
      return Next::keep;
    case FaultKind::oversized: {
      auto bytes = oversized_header(m.header.type, m.header.request_id);
      out.insert(out.end(), bytes.begin(), bytes.end());
      return Next::keep;
    }
  }

  auto type = static_cast<proto::Type>(m.header.type);
  if (type == proto::Type::login) {
    proto::LoginRequest request;
    if (token_ != 0 || !proto::decode(m.payload, request)) {
      reply(out, m, proto::status::bad_request);
      return Next::close;
    }
    auto result = device_.login(request);
    if (result.status != proto::status::ok) {
      reply(out, m, result.status);
      return Next::keep;
    }
    token_ = result.token;
    reply(out, m, proto::status::ok, proto::encode(device_.login_reply(token_)));
    return Next::keep;
  }
  if (type == proto::Type::bind) {
    // A bind opens a stream connection: only as the first message of a connection.
    if (token_ != 0 || !proto::decode(m.payload, bind_)) {
      reply(out, m, proto::status::bad_request);
      return Next::close;
    }
    bind_request_id_ = m.header.request_id;
    return Next::stream;
  }
  if (token_ == 0) {
    reply(out, m, proto::status::not_logged_in);
    return Next::keep;
  }

  switch (type) {
    case proto::Type::logout:
      device_.logout(token_);
      token_ = 0;
      reply(out, m, proto::status::ok);
      return Next::close;
    case proto::Type::keepalive:
      reply(out, m, proto::status::ok);
      return Next::keep;
    case proto::Type::get_config: {
      proto::ConfigRequest request;
      if (!proto::decode(m.payload, request)) {
        reply(out, m, proto::status::bad_request);
        return Next::close;
      }
      if (request.command == proto::kConfigDevice) {
        reply(out, m, proto::status::ok, proto::encode(device_.device_config()));
      } else if (request.command == proto::kConfigNetwork) {
        reply(out, m, proto::status::ok, proto::encode(device_.network_config()));
      } else if (request.command == proto::kConfigChannel) {
        proto::ChannelConfig channel;
        int32_t status = device_.channel_config(request.channel, channel);
        reply(out, m, status, status == proto::status::ok ? proto::encode(channel) : std::vector<uint8_t>{});
      } else {
        reply(out, m, proto::status::not_supported);
      }
      return Next::keep;
    }
    case proto::Type::io_state: {
      proto::IoRequest request;
      if (!proto::decode(m.payload, request)) {
        reply(out, m, proto::status::bad_request);
        return Next::close;
      }
      proto::IoStates states;
      if (!device_.io_states(request.io_type, states)) {
        reply(out, m, proto::status::invalid_parameter);
      } else {
        reply(out, m, proto::status::ok, proto::encode(states));
      }
      return Next::keep;
    }
    case proto::Type::io_control: {
      proto::IoControl request;
      if (!proto::decode(m.payload, request)) {
        reply(out, m, proto::status::bad_request);
        return Next::close;
      }
      reply(out, m, device_.io_control(request));
      return Next::keep;
    }
    case proto::Type::get_named_config: {
      proto::NamedConfigRequest request;
      if (!proto::decode(m.payload, request)) {
        reply(out, m, proto::status::bad_request);
        return Next::close;
      }
      proto::NamedConfigReply answer;
      int32_t status = device_.named_config(request, answer.text);
      reply(out, m, status, status == proto::status::ok ? proto::encode(answer) : std::vector<uint8_t>{});
      return Next::keep;
    }
    case proto::Type::ptz_control: {
      proto::PtzControl request;
      if (!proto::decode(m.payload, request)) {
        reply(out, m, proto::status::bad_request);
        return Next::close;
      }
      reply(out, m, device_.ptz_control(request));
      return Next::keep;
    }
    case proto::Type::record_query: {
      proto::RecordQuery request;
      if (!proto::decode(m.payload, request)) {
        reply(out, m, proto::status::bad_request);
        return Next::close;
      }
      proto::RecordList list;
      int32_t status = device_.record_files(request, list);
      reply(out, m, status, status == proto::status::ok ? proto::encode(list) : std::vector<uint8_t>{});
      return Next::keep;
    }
    case proto::Type::record_month: {
      proto::RecordMonthQuery request;
      if (!proto::decode(m.payload, request)) {
        reply(out, m, proto::status::bad_request);
        return Next::close;
      }
      proto::RecordMonth month;
      int32_t status = device_.record_month(request, month);
      reply(out, m, status, status == proto::status::ok ? proto::encode(month) : std::vector<uint8_t>{});
      return Next::keep;
    }
    case proto::Type::alarm_subscribe: {
      if (sink_ == nullptr) {
        reply(out, m, proto::status::not_supported);
        return Next::keep;
      }
      // The reply and the alarms that are on go out together, ahead of any later alarm.
      std::vector<uint8_t> answer;
      reply(answer, m, proto::status::ok, proto::encode(device_.alarm_sizes()));
      subscribed_ = true;
      return device_.alarm_hub().subscribe(sink_, answer) ? Next::keep : Next::close;
    }
    case proto::Type::alarm_unsubscribe:
      if (subscribed_) device_.alarm_hub().unsubscribe(sink_);
      subscribed_ = false;
      reply(out, m, proto::status::ok);
      return Next::keep;
    case proto::Type::set_config:
    case proto::Type::stream_control:
      reply(out, m, proto::status::not_supported);
      return Next::keep;
    default:
      reply(out, m, proto::status::unknown_type);
      return Next::keep;
  }
}

}  // namespace sim::device
