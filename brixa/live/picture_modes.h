// The picture modes of a capture, drawn by the frame hook on the stream's device context: the
// wide-dynamic-range filter, the thumbnail ring, the freeze view and the history view. Each runs
// with the capture's lock held, for a render window of width x height.
#pragma once

#include <cstdint>

#include "brixa/live/channel_capture.h"
#include "platform/gdi/gdi.h"

namespace brixa::live {

// Filters the context's picture through the capture's buffer and filter; false (the picture
// left as it was) when the buffer, the filter or the pixels cannot be had.
bool apply_wdr(ChannelCapture& capture, platform::HDC dc, int width, int height);
// Pushes a thumbnail of the picture into the ring when the history interval has passed.
void update_thumbnail_ring(ChannelCapture& capture, platform::HDC dc, int width, int height, uint32_t now);
void draw_freeze_view(ChannelCapture& capture, platform::HDC dc, int width, int height);
void draw_history_view(ChannelCapture& capture, platform::HDC dc, int width, int height);

// The freeze inset's black rectangle and the live picture's position, by corner 0 to 3.
struct InsetPlace {
  platform::RECT frame;
  int x = 0;
  int y = 0;
};
InsetPlace freeze_inset(int corner, int width, int height);

}  // namespace brixa::live
