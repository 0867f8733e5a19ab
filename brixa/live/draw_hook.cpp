#include "brixa/live/draw_hook.h"

#include "brixa/sdk/sdk.h"

namespace brixa {
namespace {

// Runs on the NetSDK's drawing threads. Overlays and picture modes draw here once streams
// register their captures.
void draw_frame(int32_t, int32_t, void*, intptr_t) {}

}  // namespace

void register_draw_callback() { NET_RegisterDrawFun(draw_frame, 0); }

}  // namespace brixa
