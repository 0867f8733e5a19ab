// The brixa cloud exports the control calls, gathered in one table so the command thread's tests
// can watch which library calls a command makes. The control uses library_cloud_calls() unless
// a test gives it another table.
#pragma once

#include <cstdint>

#include "brixa/api/brixa.h"

namespace kavrel {

struct CloudCalls {
  int32_t (*create)(brixa_handle, const char* app_key, const char* app_pass, const char* url, const char* user,
                    const char* pass, int32_t use_sess);
  int32_t (*release)(brixa_handle);
  int32_t (*get_list)(brixa_handle);
  int32_t (*get_list_sn)(brixa_handle);
  int32_t (*get_device_list)(brixa_handle);
  int32_t (*get_cam_list)(brixa_handle);
  int32_t (*set_device_list)(brixa_handle, int32_t update_sn, const char* list);
  int32_t (*set_cam_list)(brixa_handle, const char* list);
};

const CloudCalls& library_cloud_calls();

}  // namespace kavrel
