// The per-frame drawing hook: called by the Device SDK after each frame it draws into a window
// (the NetSDK for streams it renders itself, a fisheye play port through its drawing callback),
// on the stream's rendering thread, with a device context on the window's surface.
#pragma once

#include <cstdint>

#include "platform/gdi/gdi.h"

namespace brixa {

// brixa_init: hands the library's drawing hook to the NetSDK.
void register_draw_callback();

namespace live {

// Draws the overlays and picture modes of the stream's capture over the frame just drawn; a
// stream without capture is left as the SDK drew it.
void ChannelDrawInfo(int32_t stream_handle, platform::HDC dc);

}  // namespace live
}  // namespace brixa
