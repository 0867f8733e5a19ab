// The per-frame drawing hook that the NetSDK calls for every frame drawn into a window.
#pragma once

namespace brixa {

// brixa_init: hands the library's drawing hook to the NetSDK.
void register_draw_callback();

}  // namespace brixa
