// The device search exports: thin wrappers over device_search.h.
#include "brixa/api/brixa.h"
#include "brixa/search/device_search.h"

extern "C" {

BRIXA_API int32_t brixa_start_search_devices(brixa_handle handle) {
  return brixa::search::start_search_devices(handle);
}

BRIXA_API int32_t brixa_stop_search_devices(void) { return brixa::search::stop_search_devices(); }

}  // extern "C"
