// The C exports of device sessions and alarm outputs: tracing around brixa/core.
#include <cstdint>

#include "brixa/api/brixa.h"
#include "brixa/core/client_registry.h"
#include "brixa/core/device_sessions.h"
#include "trace/trace.h"

namespace {

int handle_value(brixa_handle client) { return static_cast<int>(reinterpret_cast<intptr_t>(client)); }

// Entry, "handle" and "dev_id": the opening lines of every export here.
void enter(const char* function, brixa_handle client, const char* dev_id) {
  trace::enter(function);
  trace::value("handle", handle_value(client));
  trace::value("dev_id", dev_id);
}

int32_t leave(const char* function, int32_t result) {
  trace::leave(function);
  return result;
}

}  // namespace

extern "C" {

int32_t brixa_login(brixa_handle client, const char* dev_id, uint16_t dev_port, const char* dev_user,
                    const char* dev_pass) {
  enter("brixa_login", client, dev_id);
  trace::value("dev_port", dev_port);
  trace::value("dev_user", dev_user);
  trace::secret("dev_pass", dev_pass);
  int32_t result = brixa::login(client, dev_id, dev_port, dev_user, dev_pass);
  if (result == BRIXA_ERR_NOT_INITIALISED) return result;  // left without an exit line
  return leave("brixa_login", result);
}

int32_t brixa_logout(brixa_handle client, const char* dev_id) {
  enter("brixa_logout", client, dev_id);
  return leave("brixa_logout", brixa::logout(client, dev_id));
}

int32_t brixa_reset(brixa_handle client, const char* dev_id) {
  enter("brixa_reset", client, dev_id);
  return leave("brixa_reset", brixa::reset(client, dev_id));
}

int32_t brixa_get_login_id(brixa_handle client, const char* dev_id) {
  enter("brixa_get_login_id", client, dev_id);
  return leave("brixa_get_login_id", brixa::get_login_id(client, dev_id));
}

int32_t brixa_get_dev_channel_count(brixa_handle client, const char* dev_id) {
  enter("brixa_get_dev_channel_count", client, dev_id);
  return leave("brixa_get_dev_channel_count", brixa::get_dev_channel_count(client, dev_id));
}

int32_t brixa_start_get_device_info(brixa_handle client, const char* dev_id) {
  enter("brixa_start_get_device_info", client, dev_id);
  return leave("brixa_start_get_device_info", brixa::start_get_device_info(client, dev_id));
}

int32_t brixa_stop_get_device_info(brixa_handle client, const char* dev_id) {
  enter("brixa_stop_get_device_info", client, dev_id);
  return leave("brixa_stop_get_device_info", brixa::stop_get_device_info(client, dev_id));
}

int32_t brixa_get_HTTP_port(brixa_handle client, const char* dev_id) {
  enter("brixa_get_HTTP_port", client, dev_id);
  return leave("brixa_get_HTTP_port", brixa::get_service_port(client, dev_id, brixa::ServicePort::http));
}

int32_t brixa_get_HTTPS_port(brixa_handle client, const char* dev_id) {
  enter("brixa_get_HTTPS_port", client, dev_id);
  return leave("brixa_get_HTTPS_port", brixa::get_service_port(client, dev_id, brixa::ServicePort::https));
}

int32_t brixa_get_TCP_port(brixa_handle client, const char* dev_id) {
  enter("brixa_get_TCP_port", client, dev_id);
  return leave("brixa_get_TCP_port", brixa::get_service_port(client, dev_id, brixa::ServicePort::tcp));
}

int32_t brixa_get_output_count(brixa_handle client, const char* dev_id) {
  enter("brixa_get_output_count", client, dev_id);
  return leave("brixa_get_output_count", brixa::get_output_count(client, dev_id));
}

int32_t brixa_get_output(brixa_handle client, const char* dev_id, int32_t output_index) {
  enter("brixa_get_output", client, dev_id);
  trace::value("output_index", output_index);
  return leave("brixa_get_output", brixa::get_output(client, dev_id, output_index));
}

int32_t brixa_set_output(brixa_handle client, const char* dev_id, int32_t output_index, int32_t closed) {
  enter("brixa_set_output", client, dev_id);
  trace::value("output_index", output_index);
  trace::value("closed", closed);
  return leave("brixa_set_output", brixa::set_output(client, dev_id, output_index, closed));
}

int32_t brixa_open_output(brixa_handle client, const char* dev_id, int32_t output_index) {
  enter("brixa_open_output", client, dev_id);
  trace::value("output_index", output_index);
  return leave("brixa_open_output", brixa_set_output(client, dev_id, output_index, 0));
}

int32_t brixa_close_output(brixa_handle client, const char* dev_id, int32_t output_index) {
  enter("brixa_close_output", client, dev_id);
  trace::value("output_index", output_index);
  return leave("brixa_close_output", brixa_set_output(client, dev_id, output_index, 1));
}

}  // extern "C"
