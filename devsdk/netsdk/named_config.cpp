// Named configuration texts: NET_GetNewDevConfig and NET_QueryDevCaps.
#include <cstring>

#include "devsdk/netsdk/logins.h"
#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/replies.h"
#include "devsdk/netsdk/sdk_state.h"

namespace netsdk {
namespace {

// The configuration error code of a device's refusal.
int32_t config_error_from_status(int32_t status) {
  switch (status) {
    case proto::status::invalid_parameter:
      return NET_CFG_ERR_ILLEGAL_DATA;
    case proto::status::busy:
      return NET_CFG_ERR_NOT_AVAILABLE;
    case proto::status::not_logged_in:
      return NET_CFG_ERR_NOT_AUTHORIZED;
    default:
      return NET_CFG_ERR_FAILED;
  }
}

NET_BOOL named_text(const char* operation, int32_t login_id, const char* name, int32_t channel, char* buffer,
                    uint32_t size, int32_t* error, int32_t wait_ms) {
  auto fail = [error](int32_t config_error, uint32_t last_error) {
    if (error != nullptr) *error = config_error;
    set_last_error(last_error);
    return 0;
  };
  if (error != nullptr) *error = 0;
  if (injected_failure(operation)) {
    if (error != nullptr) *error = NET_CFG_ERR_FAILED;
    return 0;
  }
  if (name == nullptr || *name == 0 || std::strlen(name) > proto::kMaxNameBytes || buffer == nullptr || size == 0)
    return fail(NET_CFG_ERR_FAILED, NET_ERR_ILLEGAL_PARAM);
  auto login = find_login(login_id);
  if (login == nullptr) return fail(NET_CFG_ERR_FAILED, NET_ERR_INVALID_HANDLE);

  proto::NamedConfigRequest request;
  request.name = name;
  request.channel = channel;
  auto reply = login->control->request(proto::Type::get_named_config, proto::encode(request), request_wait_ms(wait_ms));
  if (reply.outcome != Connection::Outcome::replied) return fail(NET_CFG_ERR_FAILED, NET_ERR_NETWORK_ERROR);
  if (reply.status != proto::status::ok)
    return fail(config_error_from_status(reply.status), last_error_from_status(reply.status));
  proto::NamedConfigReply answer;
  if (!proto::decode(reply.payload, answer)) {
    login->control->abort();  // a reply that does not decode: the session cannot be trusted
    return fail(NET_CFG_ERR_ILLEGAL_DATA, NET_ERR_RETURN_DATA_ERROR);
  }
  if (answer.text.size() + 1 > size) return fail(NET_CFG_ERR_FAILED, NET_ERR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, answer.text.data(), answer.text.size());
  buffer[answer.text.size()] = 0;
  set_last_error(0);
  return 1;
}

}  // namespace
}  // namespace netsdk

extern "C" {

NET_BOOL NET_GetNewDevConfig(int32_t login_id, const char* name, int32_t channel, char* buffer, uint32_t size,
                             int32_t* error, int32_t wait_ms) {
  return netsdk::named_text("NET_GetNewDevConfig", login_id, name, channel, buffer, size, error, wait_ms);
}

NET_BOOL NET_QueryDevCaps(int32_t login_id, const char* name, int32_t channel, char* buffer, uint32_t size,
                          int32_t* error, int32_t wait_ms) {
  return netsdk::named_text("NET_QueryDevCaps", login_id, name, channel, buffer, size, error, wait_ms);
}

}  // extern "C"
