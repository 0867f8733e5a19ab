// The alert exports: thin wrappers over alerts.h.
#include "brixa/alerts/alerts.h"
#include "brixa/api/brixa.h"

extern "C" {

BRIXA_API int32_t brixa_start_listen_alert(brixa_handle handle, const char* dev_id, int32_t chl_id) {
  return brixa::alerts::start_listen_alert(handle, dev_id, chl_id);
}

BRIXA_API int32_t brixa_stop_listen_alert(brixa_handle handle, const char* dev_id, int32_t chl_id) {
  return brixa::alerts::stop_listen_alert(handle, dev_id, chl_id);
}

}  // extern "C"
