// The C exports of the cloud account client: a thin shell over account_api and crypto.
#include <cstdint>

#include "brixa/api/brixa.h"
#include "brixa/cloud/account_api.h"
#include "brixa/cloud/crypto.h"
#include "brixa/core/client_registry.h"
#include "trace/trace.h"

namespace {

void trace_handle(brixa_handle handle) {
  trace::value("handle", static_cast<int>(reinterpret_cast<intptr_t>(handle)));
}

// The frame of every cloud export: entry line and handle, a reference to the client for the
// whole call (-2 without a registry, -1 for an unknown handle), the operation, exit line. The
// registry's lock is not held across the exchanges: a release of the client never waits behind
// a stalled service, it cancels the exchange instead.
template <class Fn>
int32_t cloud_call(const char* function, brixa_handle handle, Fn&& operation) {
  int32_t result = brixa::with_client(handle, [&](brixa_client* client) { return operation(client); });
  trace::value("result", result);
  trace::leave(function);
  return result;
}

}  // namespace

extern "C" {

int32_t biz_create(brixa_handle handle, const char* app_key, const char* app_pass, const char* url,
                   const char* user, const char* pass, int32_t use_sess) {
  trace::enter("biz_create");
  trace_handle(handle);
  trace::secret("app_key", app_key);
  trace::secret("app_pass", app_pass);
  trace::value("url", url);
  trace::value("user", user);
  trace::secret("pass", pass);
  trace::value("use_sess", use_sess);
  return cloud_call("biz_create", handle, [&](brixa_client* client) {
    return brixa::cloud::create_session(client, app_key, app_pass, url, user, pass, use_sess);
  });
}

int32_t biz_release(brixa_handle handle) {
  trace::enter("biz_release");
  trace_handle(handle);
  return cloud_call("biz_release", handle, [](brixa_client* client) { return brixa::cloud::release_session(client); });
}

int32_t biz_get_list_sn(brixa_handle handle) {
  trace::enter("biz_get_list_sn");
  trace_handle(handle);
  return cloud_call("biz_get_list_sn", handle, [](brixa_client* client) { return brixa::cloud::get_list_sn(client); });
}

int32_t biz_get_device_list(brixa_handle handle) {
  trace::enter("biz_get_device_list");
  trace_handle(handle);
  return cloud_call("biz_get_device_list", handle,
                    [](brixa_client* client) { return brixa::cloud::get_device_list(client); });
}

int32_t biz_get_cam_list(brixa_handle handle) {
  trace::enter("biz_get_cam_list");
  trace_handle(handle);
  return cloud_call("biz_get_cam_list", handle, [](brixa_client* client) { return brixa::cloud::get_cam_list(client); });
}

int32_t biz_get_list(brixa_handle handle) {
  trace::enter("biz_get_list");
  trace_handle(handle);
  return cloud_call("biz_get_list", handle, [](brixa_client* client) { return brixa::cloud::get_list(client); });
}

int32_t biz_set_device_list(brixa_handle handle, int32_t update_sn, const char* list) {
  trace::enter("biz_set_device_list");
  trace_handle(handle);
  trace::value("update_sn", update_sn);
  if (trace::on()) trace::value("list", brixa::cloud::masked_list(list).c_str());
  return cloud_call("biz_set_device_list", handle, [&](brixa_client* client) {
    return brixa::cloud::set_device_list(client, update_sn, list);
  });
}

int32_t biz_set_cam_list(brixa_handle handle, const char* list) {
  trace::enter("biz_set_cam_list");
  trace_handle(handle);
  if (trace::on()) trace::value("list", brixa::cloud::masked_list(list).c_str());
  return cloud_call("biz_set_cam_list", handle,
                    [&](brixa_client* client) { return brixa::cloud::set_cam_list(client, list); });
}

int32_t brixa_aes_decrypt(const char* cipher, char* out, const char* pass_phrase) {
  trace::enter("brixa_aes_decrypt");
  trace::secret("cipher", cipher);
  brixa::cloud::aes_decrypt(cipher, out, pass_phrase);
  trace::leave("brixa_aes_decrypt");
  return 0;
}

}  // extern "C"
