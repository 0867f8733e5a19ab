// The byte layout of the PlaySDK's records, as their users rely on it.
#include <cstddef>

#include "devsdk/playsdk/playsdk.h"

static_assert(sizeof(PLAY_FISHEYE_PARAMS) == 372);
static_assert(offsetof(PLAY_FISHEYE_PARAMS, radius) == 16 && offsetof(PLAY_FISHEYE_PARAMS, mount_mode) == 24 &&
              offsetof(PLAY_FISHEYE_PARAMS, visualization) == 28 && offsetof(PLAY_FISHEYE_PARAMS, display) == 336);
static_assert(sizeof(PLAY_FISHEYE_DISPLAY) == 40 && offsetof(PLAY_FISHEYE_DISPLAY, windows) == 24);
static_assert(sizeof(PLAY_FISHEYE_WINDOW) == 32 && offsetof(PLAY_FISHEYE_WINDOW, width) == 8 &&
              offsetof(PLAY_FISHEYE_WINDOW, left) == 16 && offsetof(PLAY_FISHEYE_WINDOW, top) == 18);
static_assert(sizeof(PLAY_FISHEYE_WINDOW) * PLAY_FISHEYE_MAX_WINDOWS == 288);
static_assert(sizeof(PLAY_FISHEYE_EPTZ) == 96);
