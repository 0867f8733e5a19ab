// The C exports of the library frame: a thin shell over brixa/core.
#include "brixa/api/brixa.h"
#include "brixa/core/callback_dispatch.h"
#include "brixa/core/library.h"
#include "brixa/core/sdk_errors.h"
#include "brixa/sdk/sdk.h"
#include "trace/trace.h"

extern "C" {

void brixa_init(const char* svraddr, uint16_t svrport, const char* svrkey) {
  brixa::init(svraddr, svrport, svrkey);
}

void brixa_uninit(void) { brixa::uninit(); }

int32_t brixa_set_port_range(int32_t first_port, int32_t last_port) {
  trace::enter("brixa_set_port_range");
  trace::value("first_port", first_port);
  trace::value("last_port", last_port);
  int32_t result = t2u_set_port_range(first_port, last_port);
  trace::leave("brixa_set_port_range");
  return result;
}

brixa_handle brixa_create(void) { return brixa::create_client(); }

void brixa_release(brixa_handle client) { brixa::release_client(client); }

int32_t brixa_cli_attach_callback(brixa_handle client, brixa_callback fn, intptr_t user) {
  trace::enter("brixa_cli_attach_callback");
  int32_t result = brixa::attach_callback(client, fn, user);
  trace::leave("brixa_cli_attach_callback");
  return result;
}

int32_t brixa_cli_detach_callback(brixa_handle client) {
  trace::enter("brixa_cli_detach_callback");
  int32_t result = brixa::detach_callback(client);
  trace::leave("brixa_cli_detach_callback");
  return result;
}

void brixa_error(const char* name, int32_t line, const char* message) {
  brixa::trace_netsdk_error(name, line, message);
}

void brixa_play_error(const char* name, int32_t line, const char* message, int32_t port) {
  brixa::trace_playsdk_error(name, line, message, port);
}

}  // extern "C"
