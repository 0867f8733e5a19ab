#include "brixa/live/draw_hook.h"

#include <exception>
#include <mutex>

#include "brixa/live/channel_capture.h"
#include "brixa/live/overlay.h"
#include "brixa/live/picture_modes.h"
#include "brixa/sdk/sdk.h"
#include "trace/trace.h"

namespace brixa {
namespace {

void draw_frame(int32_t, int32_t stream_handle, void* dc, intptr_t) {
  live::ChannelDrawInfo(stream_handle, static_cast<platform::HDC>(dc));
}

}  // namespace

void register_draw_callback() { NET_RegisterDrawFun(draw_frame, 0); }

namespace live {

void ChannelDrawInfo(int32_t stream_handle, platform::HDC dc) {
  CapturePtr capture = find_capture_by_stream(stream_handle);
  if (capture == nullptr || dc == nullptr) return;
  ChannelCapture& c = *capture;
  std::lock_guard<std::timed_mutex> hold(c.lock);
  if (c.released) return;
  const uint32_t now = now_tick();
  c.last_frame_tick.store(now);
  platform::Rect client;
  platform::get_client_rect(c.window, &client);
  const int width = client.width();
  const int height = client.height();
  try {
    if (c.visualization_mode.load() > 2 && width > 0 && height > 0)
      draw_eptz_outline(dc, c.fisheye_display, c.eptz_window.load(), width, height);
    if (c.wdr_enabled.load() != 0 && c.freeze_mode.load() == 0) apply_wdr(c, dc, width, height);
    update_thumbnail_ring(c, dc, width, height, now);
    if (c.freeze_mode.load() != 0) draw_freeze_view(c, dc, width, height);
    if (c.history_mode.load() != 0) draw_history_view(c, dc, width, height);
    AlarmFlags alarms{c.motion_alarm.load() != 0, c.video_loss_alarm.load() != 0, c.masking_alarm.load() != 0,
                      c.audio_alarm.load() != 0};
    if (alarms.any()) draw_alarm_text(dc, alarm_text(alarms));
  } catch (const std::exception& e) {
    trace::exception("ChannelDrawInfo", e.what());
  }
}

}  // namespace live
}  // namespace brixa
