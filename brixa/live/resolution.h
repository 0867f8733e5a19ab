// Channel resolution: the legacy resolution-code table and the export that reads a channel's
// size from the device configuration, with the named "Encode" configuration as fallback.
#pragma once

#include <cstdint>

#include "brixa/api/brixa.h"

namespace brixa::live {

struct ImageSize {
  int32_t width;
  int32_t height;
};

// The size of a legacy resolution code; the video standard byte picks 480 (non-zero) or 576
// (zero) lines for codes 0 to 4 and 28. Unknown codes give 1 x 1 and an error line.
ImageSize get_image_size(int32_t code, uint8_t video_standard);

int32_t get_channel_resolution(brixa_handle handle, const char* dev_id, int32_t chl_id, int32_t stream_id,
                               int32_t* width, int32_t* height);

}  // namespace brixa::live
