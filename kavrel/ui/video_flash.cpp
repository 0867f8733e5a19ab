#include "kavrel/ui/video_flash.h"

#include <cstdio>

#include "kavrel/shell/text.h"
#include "kavrel/ui/spinner.h"
#include "kavrel/ui/ui_messages.h"
#include "platform/window/surface.h"

namespace kavrel::ui {

namespace gp = platform::Gdiplus;

namespace {

// Paints through a memory bitmap, then copies it in one piece, so the spinner never flickers.
template <class Fn>
void paint_off_screen(HWND window, Fn draw) {
  platform::PAINTSTRUCT paint;
  platform::HDC dc = platform::BeginPaint(window, &paint);
  if (dc == nullptr) return;
  platform::RECT client;
  platform::get_client_rect(window, &client);
  int width = client.right;
  int height = client.bottom;
  if (width > 0 && height > 0) {
    platform::HDC memory = platform::CreateCompatibleDC(dc);
    platform::HBITMAP bitmap = platform::CreateCompatibleBitmap(dc, width, height);
    platform::HGDIOBJ previous = platform::SelectObject(memory, bitmap);
    {
      gp::Graphics graphics(memory);
      draw(graphics, width, height);
    }
    platform::BitBlt(dc, 0, 0, width, height, memory, 0, 0, platform::SRCCOPY);
    platform::SelectObject(memory, previous);
    platform::DeleteObject(bitmap);
    platform::DeleteDC(memory);
  }
  platform::EndPaint(window, &paint);
}

}  // namespace

void CVideoFlash::Start() {
  if (m_hWnd == nullptr) return;
  if (m_timerId == -1) {
    if (platform::set_timer(m_hWnd, kSpinnerTimerId, kSpinnerTimerPeriodMs) != 0) {
      m_timerId = static_cast<intptr_t>(kSpinnerTimerId);
    }
  }
  platform::show_window(m_hWnd, true);
  platform::invalidate_rect(m_hWnd, nullptr);
}

void CVideoFlash::Stop() {
  if (m_hWnd != nullptr) {
    platform::show_window(m_hWnd, false);
    if (m_timerId != -1) platform::kill_timer(m_hWnd, kSpinnerTimerId);
  }
  m_timerId = -1;
  ClearPicture();
}

void CVideoFlash::SetPicture(const std::string& path) {
  std::u16string wide = to_wide(path);
  std::unique_ptr<gp::Bitmap> picture(gp::Bitmap::FromFile(wide.c_str()));
  if (picture != nullptr && picture->GetLastStatus() != gp::Ok) picture.reset();
  std::lock_guard<std::mutex> hold(m_pictureLock);
  m_picture = std::move(picture);
}

void CVideoFlash::ClearPicture() {
  std::lock_guard<std::mutex> hold(m_pictureLock);
  m_picture.reset();
}

bool CVideoFlash::has_picture() const {
  std::lock_guard<std::mutex> hold(m_pictureLock);
  return m_picture != nullptr;
}

void CVideoFlash::Advance() {
  m_angle += 30;
  if (m_angle >= 360) m_angle = 0;
  if (m_hWnd != nullptr) platform::invalidate_rect(m_hWnd, nullptr);
}

void CVideoFlash::Paint() {
  paint_off_screen(m_hWnd, [&](gp::Graphics& graphics, int width, int height) {
    std::lock_guard<std::mutex> hold(m_pictureLock);
    if (m_picture != nullptr) graphics.DrawImage(m_picture.get(), 0, 0, width, height);
    paint_spinner(graphics, width, height, m_angle, 12, kSpinnerColor, m_picture == nullptr);
  });
}

void CVideoFlash::OnWindowDestroyed(HWND) {
  m_timerId = -1;
  ClearPicture();
}

LRESULT CVideoFlash::ProcessMessage(platform::UINT message, WPARAM wparam, LPARAM lparam) {
  if (LRESULT result = 0; HandleCommonMessage(message, &result)) return result;
  switch (message) {
    case platform::WM_TIMER:
      if (wparam == kSpinnerTimerId) Advance();
      return 1;
    // The indicator covers nearly all of a connecting pane: a click or double click on it is
    // one on the pane (select, maximise or restore), as the panel under it passes them on.
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: PassToParent(message, wparam, lparam); return 1;
    default: return 0;
  }
}

void CVideoBackupProgress::SetPercent(int percent) {
  if (percent == m_percent) return;
  m_percent = percent;
  if (m_hWnd != nullptr) platform::invalidate_rect(m_hWnd, nullptr);
}

void CVideoBackupProgress::Paint() {
  paint_off_screen(m_hWnd, [&](gp::Graphics& graphics, int width, int height) {
    paint_spinner(graphics, width, height, 270, export_spoke_count(m_percent), kSpinnerColor, true);
    char text[16];
    std::snprintf(text, sizeof text, "%d%%", m_percent);
    std::u16string wide = to_wide(text);
    gp::Font font(u"Arial", 10, gp::FontStyleBold, gp::UnitPixel);
    gp::StringFormat format;
    format.SetAlignment(gp::StringAlignmentCenter);
    format.SetLineAlignment(gp::StringAlignmentCenter);
    gp::SolidBrush white(gp::Color(255, 255, 255));
    graphics.DrawString(wide.c_str(), static_cast<int>(wide.size()), &font,
                        gp::RectF(0, 0, static_cast<float>(width), static_cast<float>(height)), &format, &white);
  });
}

LRESULT CVideoBackupProgress::ProcessMessage(platform::UINT message, WPARAM, LPARAM) {
  if (LRESULT result = 0; HandleCommonMessage(message, &result)) return result;
  switch (message) {
    default: return 0;
  }
}

}  // namespace kavrel::ui
