#include "kavrel/media/media_calls.h"

namespace kavrel {
namespace {

// Exports the library does not offer yet: each fails as the library would refuse the call.
int32_t refuse_channel(brixa_handle, const char*, int32_t) { return -1; }
int32_t refuse_volume(brixa_handle, const char*, int32_t, int32_t) { return -1; }
int32_t refuse_ptz(brixa_handle, const char*, int32_t, int32_t, int32_t, int32_t) { return -1; }
int32_t refuse_channel_path(brixa_handle, const char*, int32_t, const char*) { return -1; }
int32_t refuse_path(brixa_handle, const char*, const char*) { return -1; }
int32_t refuse_device(brixa_handle, const char*) { return -1; }

}  // namespace

const MediaCalls& library_media_calls() {
  static const MediaCalls calls{
      refuse_channel,
      refuse_channel,
      refuse_volume,
      refuse_ptz,
      brixa_set_fisheye_mount_mode,
      brixa_set_fisheye_visualization,
      refuse_channel_path,
      refuse_path,
      refuse_channel_path,
      refuse_channel,
      refuse_path,
      refuse_device,
  };
  return calls;
}

}  // namespace kavrel
