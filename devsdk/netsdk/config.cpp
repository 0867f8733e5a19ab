// Device configuration: NET_GetDevConfig.
#include "devsdk/netsdk/logins.h"
#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/replies.h"
#include "devsdk/netsdk/sdk_state.h"

using netsdk::set_last_error;

extern "C" {

NET_BOOL NET_GetDevConfig(int32_t login_id, uint32_t command, int32_t channel, void* buffer, uint32_t size,
                          uint32_t* returned, int32_t wait_ms) {
  if (returned != nullptr) *returned = 0;
  if (netsdk::injected_failure("NET_GetDevConfig")) return 0;
  if (buffer == nullptr) {
    set_last_error(NET_ERR_ILLEGAL_PARAM);
    return 0;
  }
  auto login = netsdk::find_login(login_id);
  if (login == nullptr) return 0;
  uint32_t need = netsdk::config_block_size(command);
  if (need == 0) {
    set_last_error(NET_ERR_NOT_SUPPORTED);
    return 0;
  }
  if (size < need) {
    if (returned != nullptr) *returned = need;
    set_last_error(NET_ERR_INSUFFICIENT_BUFFER);
    return 0;
  }
  proto::ConfigRequest request;
  request.command = command;
  request.channel = channel;
  std::vector<uint8_t> payload;
  if (!netsdk::ask(*login, proto::Type::get_config, proto::encode(request), netsdk::request_wait_ms(wait_ms),
                   payload)) {
    return 0;
  }
  if (!netsdk::fill_config_block(command, payload, buffer, size)) {
    // A reply that does not hold its block: the device cannot be trusted on this session.
    login->control->abort();
    set_last_error(NET_ERR_RETURN_DATA_ERROR);
    return 0;
  }
  if (returned != nullptr) *returned = need;
  set_last_error(0);
  return 1;
}

}  // extern "C"
