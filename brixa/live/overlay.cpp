#include "brixa/live/overlay.h"

#include <cstdio>

namespace brixa::live {

std::string alarm_text(const AlarmFlags& flags) {
  char text[128];
  snprintf(text, sizeof text, "%s %s %s %s", flags.motion ? "DETECÇÃO DE MOVIMENTO" : "",
           flags.video_loss ? "PERDA DE VIDEO" : "", flags.masking ? "MASCARAMENTO" : "",
           flags.audio ? "DETECÇAO DE AUDIO" : "");
  return text;
}

void draw_alarm_text(platform::HDC dc, const std::string& text) {
  platform::SetBkMode(dc, platform::TRANSPARENT);
  platform::SetTextColor(dc, kAlarmTextColour);
  platform::SetTextAlign(dc, platform::TA_LEFT | platform::TA_TOP);
  platform::TextOutA(dc, 0, 0, text.c_str(), static_cast<int>(text.size()));
}

bool draw_eptz_outline(platform::HDC dc, const PLAY_FISHEYE_DISPLAY& display, int32_t selected, int width,
                       int height) {
  if (width <= 0 || height <= 0 || display.windows == nullptr) return false;
  int32_t count = display.window_count;
  if (count < 0) count = 0;
  if (count > PLAY_FISHEYE_MAX_WINDOWS) count = PLAY_FISHEYE_MAX_WINDOWS;
  int64_t extent_x = 0, extent_y = 0;
  for (int32_t i = 0; i < count; ++i) {
    const PLAY_FISHEYE_WINDOW& w = display.windows[i];
    extent_x = std::max<int64_t>(extent_x, int64_t{w.left} + w.width);
    extent_y = std::max<int64_t>(extent_y, int64_t{w.top} + w.height);
  }
  if (extent_x <= 0 || extent_y <= 0 || selected < 0 || selected >= count) return false;
  const PLAY_FISHEYE_WINDOW& w = display.windows[selected];
  auto left = static_cast<int>(width * int64_t{w.left} / extent_x);
  auto top = static_cast<int>(height * int64_t{w.top} / extent_y);
  auto right = static_cast<int>(left + width * int64_t{w.width} / extent_x);
  auto bottom = static_cast<int>(top + height * int64_t{w.height} / extent_y);
  platform::HPEN pen = platform::CreatePen(platform::PS_SOLID, 3, kEptzColour);
  platform::HGDIOBJ old_pen = platform::SelectObject(dc, pen);
  platform::HGDIOBJ old_brush = platform::SelectObject(dc, platform::GetStockObject(platform::HOLLOW_BRUSH));
  platform::Rectangle(dc, left, top, right, bottom);
  platform::SelectObject(dc, old_brush);
  platform::SelectObject(dc, old_pen);
  platform::DeleteObject(pen);
  return true;
}

std::string stall_notice_text(uint32_t elapsed_ms) {
  uint32_t seconds = elapsed_ms / 1000;
  char text[64];
  if (seconds >= 60)
    snprintf(text, sizeof text, "Desconectado por %d %s", static_cast<int>(seconds / 60), "minuto(s)");
  else
    snprintf(text, sizeof text, "Desconectado por %d %s", static_cast<int>(seconds), "segundos");
  return text;
}

void draw_stall_notice(platform::HWND window, const std::string& text) {
  platform::Rect client;
  if (!platform::get_client_rect(window, &client)) return;
  platform::HDC dc = platform::GetDC(window);
  if (dc == nullptr) return;
  const int width = client.width();
  const int middle = client.height() / 2;
  platform::RECT band{0, middle, width, middle + kNoticeBandHeight};
  platform::SetTextColor(dc, kNoticeColour);
  platform::SetTextAlign(dc, platform::TA_CENTER | platform::TA_TOP);
  platform::SetBkMode(dc, platform::OPAQUE);
  platform::ExtTextOutA(dc, width / 2, middle, platform::ETO_OPAQUE | platform::ETO_CLIPPED, &band, text.c_str(),
                        static_cast<unsigned>(text.size()), nullptr);
  platform::ReleaseDC(window, dc);
}

}  // namespace brixa::live
