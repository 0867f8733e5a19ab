// CLIENT_ParseData: the named configuration texts into their records.
#include <cstddef>

#include "devsdk/configsdk/configsdk.h"

static_assert(sizeof(CFG_ENCODE_INFO) == 1968);
static_assert(offsetof(CFG_ENCODE_INFO, main.video.width) == 96 && offsetof(CFG_ENCODE_INFO, main.video.height) == 100);
static_assert(offsetof(CFG_ENCODE_INFO, extra[0].video.width) == 420 &&
              offsetof(CFG_ENCODE_INFO, extra[0].video.height) == 424);
static_assert(sizeof(CFG_VIDEOINPUT_CAPS) == 24 && offsetof(CFG_VIDEOINPUT_CAPS, fisheye) == 4);

extern "C" {

CFG_BOOL CLIENT_ParseData(const char*, const char*, void*, uint32_t, void*) { return 0; }

}  // extern "C"
