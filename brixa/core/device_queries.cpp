// Service ports and alarm outputs of a logged-in device session.
#include <cstring>

#include "brixa/core/client_registry.h"
#include "brixa/core/device_sessions.h"
#include "brixa/core/sdk_errors.h"
#include "brixa/sdk/sdk.h"
#include "trace/trace.h"

namespace brixa {
namespace {

constexpr int32_t kMaxOutputs = 16;

struct PortQuery {
  const char* function;
  int32_t error_line;
  const char* error_message;
  const char* traced_name;
};

const PortQuery& port_query(ServicePort which) {
  static const PortQuery kHttp{"brixa_get_HTTP_port", 63, "NET_GetDevConfig (67)", "outBuffer.wHttpPort"};
  static const PortQuery kHttps{"brixa_get_HTTPS_port", 128, "NET_GetDevConfig (132)", "outBuffer.wHttpsPort"};
  static const PortQuery kTcp{"brixa_get_TCP_port", 193, "NET_GetDevConfig (207)", "outBuffer.wTcpPort"};
  return which == ServicePort::http ? kHttp : which == ServicePort::https ? kHttps : kTcp;
}

// Reads the states of all `count` outputs into `states`; false when the device does not give
// every one of them.
bool read_outputs(const device_session* s, int32_t count, NET_IO_STATE (&states)[kMaxOutputs]) {
  memset(states, 0, sizeof states);
  uint32_t size = static_cast<uint32_t>(count) * sizeof(NET_IO_STATE);
  uint32_t returned = 0;
  if (!NET_QueryIOControlState(s->login_handle, NET_IO_ALARM_OUTPUT, states, size, &returned, 10000)) return false;
  return returned >= size;
}

// The session of an output operation, or the result that ends it: -3 without a logged-in
// session, with an output count outside 1 to 16, or with an index outside 0 to count - 1.
device_session* output_session(brixa_client* client, const char* dev_id, int32_t index, int32_t& result) {
  device_session* s = find_logged_in_session(client, dev_id);
  result = BRIXA_ERR_NO_SESSION;
  if (s == nullptr) return nullptr;
  int32_t count = s->alarm_output_count;
  if (count < 1 || count > kMaxOutputs || index < 0 || index >= count) return nullptr;
  result = BRIXA_OK;
  return s;
}

}  // namespace

int32_t get_service_port(brixa_handle handle, const char* dev_id, ServicePort which) {
  return with_device_list(handle, [&](brixa_client* client) {
    device_session* s = find_logged_in_session(client, dev_id);
    if (s == nullptr) return BRIXA_ERR_NO_SESSION;
    const PortQuery& q = port_query(which);
    NET_NETWORK_CONFIG block;
    memset(&block, 0, sizeof block);
    uint32_t returned = 0;
    if (!NET_GetDevConfig(s->login_handle, NET_DEV_NETCFG, -1, &block, sizeof block, &returned, 3000)) {
      trace_netsdk_error(q.function, q.error_line, q.error_message);
      return BRIXA_ERR_NO_SESSION;
    }
    uint16_t port = which == ServicePort::http ? block.http_port : which == ServicePort::https ? block.https_port
                                                                                                 : block.tcp_port;
    trace::value(q.traced_name, port);
    return static_cast<int32_t>(port);
  });
}

int32_t get_output_count(brixa_handle handle, const char* dev_id) {
  return with_device_list(handle, [&](brixa_client* client) {
    device_session* s = find_logged_in_session(client, dev_id);
    return s != nullptr ? s->alarm_output_count : BRIXA_ERR_NO_SESSION;
  });
}

int32_t get_output(brixa_handle handle, const char* dev_id, int32_t index) {
  return with_device_list(handle, [&](brixa_client* client) {
    int32_t result;
    device_session* s = output_session(client, dev_id, index, result);
    if (s == nullptr) return result;
    NET_IO_STATE states[kMaxOutputs];
    if (!read_outputs(s, s->alarm_output_count, states)) {
      trace_netsdk_error("brixa_get_output", 138, "QueryIOControlState (73)");
      return BRIXA_ERR_FAILED;
    }
    return states[index].state != 0 ? 1 : 0;
  });
}

int32_t set_output(brixa_handle handle, const char* dev_id, int32_t index, int32_t closed) {
  return with_device_list(handle, [&](brixa_client* client) {
    int32_t result;
    device_session* s = output_session(client, dev_id, index, result);
    if (s == nullptr) return result;
    int32_t count = s->alarm_output_count;
    NET_IO_STATE states[kMaxOutputs];
    if (!read_outputs(s, count, states)) {
      trace_netsdk_error("brixa_set_output", 234, "QueryIOControlState (201)");
      return BRIXA_ERR_FAILED;
    }
    // The other outputs go back with the states just read.
    states[index].state = closed != 0 ? 1 : 0;
    if (!NET_IOControl(s->login_handle, NET_IO_ALARM_OUTPUT, states,
                       static_cast<uint32_t>(count) * sizeof(NET_IO_STATE))) {
      trace_netsdk_error("brixa_set_output", 226, "NET_IOControl (194)");
      return BRIXA_ERR_FAILED;
    }
    return BRIXA_OK;
  });
}

}  // namespace brixa
