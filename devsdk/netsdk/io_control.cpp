// Alarm inputs and outputs: NET_QueryIOControlState and NET_IOControl.
#include <cstring>

#include "devsdk/netsdk/logins.h"
#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/replies.h"
#include "devsdk/netsdk/sdk_state.h"

using netsdk::set_last_error;

extern "C" {

NET_BOOL NET_QueryIOControlState(int32_t login_id, int32_t io_type, void* buffer, uint32_t size,
                                 uint32_t* returned, int32_t wait_ms) {
  if (returned != nullptr) *returned = 0;
  if (netsdk::injected_failure("NET_QueryIOControlState")) return 0;
  if (buffer == nullptr || (io_type != NET_IO_ALARM_INPUT && io_type != NET_IO_ALARM_OUTPUT)) {
    set_last_error(NET_ERR_ILLEGAL_PARAM);
    return 0;
  }
  if (size < sizeof(NET_IO_STATE)) {
    set_last_error(NET_ERR_INSUFFICIENT_BUFFER);
    return 0;
  }
  auto login = netsdk::find_login(login_id);
  if (login == nullptr) return 0;
  proto::IoRequest request;
  request.io_type = static_cast<uint32_t>(io_type);
  std::vector<uint8_t> payload;
  if (!netsdk::ask(*login, proto::Type::io_state, proto::encode(request), netsdk::request_wait_ms(wait_ms),
                   payload)) {
    return 0;
  }
  int filled = netsdk::fill_io_states(payload, buffer, size);
  if (filled < 0) {
    login->control->abort();
    set_last_error(NET_ERR_RETURN_DATA_ERROR);
    return 0;
  }
  if (returned != nullptr) *returned = static_cast<uint32_t>(filled) * sizeof(NET_IO_STATE);
  set_last_error(0);
  return 1;
}

NET_BOOL NET_IOControl(int32_t login_id, int32_t io_type, const void* buffer, uint32_t size) {
  if (netsdk::injected_failure("NET_IOControl")) return 0;
  if (buffer == nullptr || io_type != NET_IO_ALARM_OUTPUT || size == 0 || size % sizeof(NET_IO_STATE) != 0 ||
      size / sizeof(NET_IO_STATE) > proto::kMaxIoEntries) {
    set_last_error(NET_ERR_ILLEGAL_PARAM);
    return 0;
  }
  auto login = netsdk::find_login(login_id);
  if (login == nullptr) return 0;
  proto::IoControl request;
  request.io_type = static_cast<uint32_t>(io_type);
  request.entries.resize(size / sizeof(NET_IO_STATE));
  const auto* in = static_cast<const uint8_t*>(buffer);
  for (size_t i = 0; i < request.entries.size(); ++i) {
    NET_IO_STATE e;
    memcpy(&e, in + i * sizeof e, sizeof e);
    request.entries[i].number = e.number;
    request.entries[i].state = e.state;
  }
  std::vector<uint8_t> payload;
  if (!netsdk::ask(*login, proto::Type::io_control, proto::encode(request), netsdk::request_wait_ms(0), payload)) {
    return 0;
  }
  set_last_error(0);
  return 1;
}

}  // extern "C"
