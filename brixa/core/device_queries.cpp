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
bool read_outputs(int32_t login_handle, int32_t count, NET_IO_STATE (&states)[kMaxOutputs]) {
  memset(states, 0, sizeof states);
  uint32_t size = static_cast<uint32_t>(count) * sizeof(NET_IO_STATE);
  uint32_t returned = 0;
  if (!NET_QueryIOControlState(login_handle, NET_IO_ALARM_OUTPUT, states, size, &returned, 10000)) return false;
  return returned >= size;
}

// What a device request needs of the first logged-in session with the identifier, copied under
// the device list lock: the request itself runs without it, so a slow device holds up nobody
// else of the client. (A logout meanwhile makes the request fail with an invalid handle.)
struct LoginFacts {
  int32_t login_handle = 0;
  int32_t alarm_output_count = 0;
};

// -3 without a logged-in session, else 0 with `facts` filled.
int32_t logged_in_facts(brixa_client* client, const char* dev_id, LoginFacts& facts) {
  DeviceListLock list(client->device_list_lock);
  const device_session* s = find_logged_in_session(client, dev_id);
  if (s == nullptr) return BRIXA_ERR_NO_SESSION;
  facts.login_handle = s->login_handle;
  facts.alarm_output_count = s->alarm_output_count;
  return BRIXA_OK;
}

// The facts of an output operation, or the result that ends it: -3 without a logged-in
// session, with an output count outside 1 to 16, or with an index outside 0 to count - 1.
int32_t output_facts(brixa_client* client, const char* dev_id, int32_t index, LoginFacts& facts) {
  if (logged_in_facts(client, dev_id, facts) != BRIXA_OK) return BRIXA_ERR_NO_SESSION;
  int32_t count = facts.alarm_output_count;
  if (count < 1 || count > kMaxOutputs || index < 0 || index >= count) return BRIXA_ERR_NO_SESSION;
  return BRIXA_OK;
}

}  // namespace

int32_t get_service_port(brixa_handle handle, const char* dev_id, ServicePort which) {
  return with_client(handle, [&](brixa_client* client) {
    LoginFacts facts;
    if (logged_in_facts(client, dev_id, facts) != BRIXA_OK) return BRIXA_ERR_NO_SESSION;
    const PortQuery& q = port_query(which);
    NET_NETWORK_CONFIG block;
    memset(&block, 0, sizeof block);
    uint32_t returned = 0;
    if (!NET_GetDevConfig(facts.login_handle, NET_DEV_NETCFG, -1, &block, sizeof block, &returned, 3000)) {
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
  return with_client(handle, [&](brixa_client* client) {
    LoginFacts facts;
    if (logged_in_facts(client, dev_id, facts) != BRIXA_OK) return BRIXA_ERR_NO_SESSION;
    return facts.alarm_output_count;
  });
}

int32_t get_output(brixa_handle handle, const char* dev_id, int32_t index) {
  return with_client(handle, [&](brixa_client* client) {
    LoginFacts facts;
    if (int32_t refused = output_facts(client, dev_id, index, facts); refused != BRIXA_OK) return refused;
    NET_IO_STATE states[kMaxOutputs];
    if (!read_outputs(facts.login_handle, facts.alarm_output_count, states)) {
      trace_netsdk_error("brixa_get_output", 138, "QueryIOControlState (73)");
      return BRIXA_ERR_FAILED;
    }
    return states[index].state != 0 ? 1 : 0;
  });
}

int32_t set_output(brixa_handle handle, const char* dev_id, int32_t index, int32_t closed) {
  return with_client(handle, [&](brixa_client* client) {
    LoginFacts facts;
    if (int32_t refused = output_facts(client, dev_id, index, facts); refused != BRIXA_OK) return refused;
    int32_t count = facts.alarm_output_count;
    NET_IO_STATE states[kMaxOutputs];
    if (!read_outputs(facts.login_handle, count, states)) {
      trace_netsdk_error("brixa_set_output", 234, "QueryIOControlState (201)");
      return BRIXA_ERR_FAILED;
    }
    // The other outputs go back with the states just read.
    states[index].state = closed != 0 ? 1 : 0;
    if (!NET_IOControl(facts.login_handle, NET_IO_ALARM_OUTPUT, states,
                       static_cast<uint32_t>(count) * sizeof(NET_IO_STATE))) {
      trace_netsdk_error("brixa_set_output", 226, "NET_IOControl (194)");
      return BRIXA_ERR_FAILED;
    }
    return BRIXA_OK;
  });
}

}  // namespace brixa
