// The picture-mode exports: each finds the capture by its render window and writes one field.
#include "brixa/api/brixa.h"
#include "brixa/live/channel_capture.h"
#include "trace/trace.h"

using brixa::live::CapturePtr;
using brixa::live::find_capture_by_window;

namespace {

CapturePtr capture_of(void* window) { return find_capture_by_window(static_cast<platform::HWND>(window)); }

}  // namespace

extern "C" {

BRIXA_API void brixa_set_history_mode(void* window, int32_t mode) {
  trace::enter("brixa_set_history_mode");
  if (CapturePtr c = capture_of(window)) c->history_mode.store(static_cast<uint8_t>(mode));
  trace::leave("brixa_set_history_mode");
}

BRIXA_API void brixa_set_history_interval(void* window, int32_t milliseconds) {
  trace::enter("brixa_set_history_interval");
  if (CapturePtr c = capture_of(window)) c->history_interval.store(static_cast<uint32_t>(milliseconds));
  trace::leave("brixa_set_history_interval");
}

BRIXA_API void brixa_set_wdr_mode(void* window, int32_t mode) {
  trace::enter("brixa_set_wdr_mode");
  if (CapturePtr c = capture_of(window)) c->wdr_enabled.store(static_cast<uint8_t>(mode));
  trace::leave("brixa_set_wdr_mode");
}

BRIXA_API void brixa_set_wdr_intensity(void* window, int32_t intensity) {
  trace::enter("brixa_set_wdr_intensity");
  if (intensity < 0 || intensity > 100) {
    trace::value("intensity", intensity);
  } else if (CapturePtr c = capture_of(window)) {
    c->wdr_intensity.store(intensity);
  }
  trace::leave("brixa_set_wdr_intensity");
}

BRIXA_API void brixa_set_freeze_mode(void* window, int32_t mode, int32_t corner) {
  trace::enter("brixa_set_freeze_mode");
  if (CapturePtr c = capture_of(window)) {
    c->freeze_mode.store(static_cast<uint8_t>(mode));
    if (corner >= 0 && corner <= 3) c->freeze_corner.store(corner);
    if (static_cast<uint8_t>(mode) == 0) c->frozen_captured.store(0);
  }
  trace::leave("brixa_set_freeze_mode");
}

}  // extern "C"
