#include "kavrel/core/cloud_calls.h"

namespace kavrel {

const CloudCalls& library_cloud_calls() {
  static const CloudCalls calls = {biz_create,          biz_release,          biz_get_list,    biz_get_list_sn,
                                   biz_get_device_list, biz_get_cam_list,     biz_set_device_list, biz_set_cam_list};
  return calls;
}

}  // namespace kavrel
