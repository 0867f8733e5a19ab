#include "kavrel/ui/video_wnd.h"

#include "kavrel/core/traced.h"
#include "kavrel/shell/text.h"
#include "kavrel/ui/pane_menu.h"
#include "kavrel/ui/picture_modes.h"
#include "kavrel/ui/ui_messages.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/user.h"
#include "platform/window/surface.h"
#include "trace/trace.h"

namespace kavrel::ui {

using platform::RECT;

HWND CVideoWnd::CreatePane(HWND parent, const char* name, uint32_t style, int index, bool playback) {
  m_index = index;
  HWND window = Create(parent, name, style);
  if (window == nullptr) return nullptr;
  m_panel.CreatePanel(window, playback);
  OptimizeView(m_video.width, m_video.height);
  return window;
}

void CVideoWnd::SetSelected(bool selected) {
  if (selected == m_selected) return;
  m_selected = selected;
  RECT client;
  if (m_hWnd == nullptr || !platform::get_client_rect(m_hWnd, &client)) return;
  const RECT strips[4] = {
      {client.left, client.top, client.right, client.top + 1},
      {client.left, client.bottom - 1, client.right, client.bottom},
      {client.left, client.top, client.left + 1, client.bottom},
      {client.right - 1, client.top, client.right, client.bottom},
  };
  for (const RECT& strip : strips) platform::invalidate_rect(m_hWnd, &strip);
}

void CVideoWnd::OptimizeView(int width, int height) {
  m_video = VideoSize{width, height};
  VideoSize corrected = correct_video_size(m_video);
  RECT client;
  if (m_hWnd == nullptr || !platform::get_client_rect(m_hWnd, &client)) return;
  PanelPlacement placement = place_panel(corrected, client.right, client.bottom);
  if (!placement.aspect_kept && !(corrected.width == 0 && corrected.height == 0)) {
    trace::error("CVideoWnd::OptimizeView", __LINE__, "Cannot optimize view due to video aspect ratio");
    trace::value("VideoWidth", corrected.width);
    trace::value("VideoHeight", corrected.height);
  }
  m_panel.Move(placement.rect);
}

void CVideoWnd::SetVideoInfo(const std::u16string& text) {
  TracedMethod traced("CVideoWnd::SetVideoInfo");
  trace::wide_value("info", text.c_str());
  m_panel.info_tool().SetInfo(text);
}

void CVideoWnd::SetHistoryMode(bool on) {
  picture_mode_calls().set_history_mode(render_window(), on ? 1 : 0);
  m_panel.tool().SetHistory(on);
}

void CVideoWnd::SetWdrMode(bool on) {
  picture_mode_calls().set_wdr_mode(render_window(), on ? 1 : 0);
  m_panel.tool().SetBlc(on);
}

void CVideoWnd::SetFreezeMode(bool on, int corner) {
  picture_mode_calls().set_freeze_mode(render_window(), on ? 1 : 0, corner);
  m_panel.tool().SetFreeze(on);
}

void CVideoWnd::ResetPictureModes(int freeze_corner) {
  const PictureModeCalls& calls = picture_mode_calls();
  calls.set_history_mode(render_window(), 0);
  calls.set_wdr_mode(render_window(), 0);
  calls.set_freeze_mode(render_window(), 0, freeze_corner);
  CVideoTool& tool = m_panel.tool();
  tool.SetHistory(false);
  tool.SetBlc(false);
  tool.SetFreeze(false);
}

void CVideoWnd::Paint() {
  platform::PAINTSTRUCT paint;
  platform::HDC dc = platform::BeginPaint(m_hWnd, &paint);
  if (dc == nullptr) return;
  RECT client;
  platform::get_client_rect(m_hWnd, &client);
  platform::FillSolidRect(dc, &client, kPaneBackground);
  platform::HPEN pen = platform::CreatePen(platform::PS_SOLID, 1, m_selected ? kSelectedBorder : kIdleBorder);
  platform::HGDIOBJ old_pen = platform::SelectObject(dc, pen);
  platform::HGDIOBJ old_brush = platform::SelectObject(dc, platform::GetStockObject(platform::HOLLOW_BRUSH));
  platform::Rectangle(dc, client.left, client.top, client.right, client.bottom);
  platform::SelectObject(dc, old_brush);
  platform::SelectObject(dc, old_pen);
  platform::DeleteObject(pen);
  platform::EndPaint(m_hWnd, &paint);
}

void CVideoWnd::SendCommand(int32_t command) {
  PassToParent(kMsgCommand, reinterpret_cast<WPARAM>(this), static_cast<LPARAM>(command));
}

void CVideoWnd::ShowMenu(platform::Point screen) {
  platform::HMENU menu = BuildPaneMenu();
  int command = platform::TrackPopupMenu(menu, platform::TPM_RETURNCMD | platform::TPM_CENTERALIGN, screen.x,
                                         screen.y, 0, m_hWnd, nullptr);
  platform::DestroyMenu(menu);
  if (command != 0) SendCommand(command);
}

LRESULT CVideoWnd::ProcessMessage(platform::UINT message, WPARAM wparam, LPARAM lparam) {
  if (LRESULT result = 0; HandleCommonMessage(message, &result)) return result;
  switch (message) {
    case platform::WM_SIZE: OptimizeView(m_video.width, m_video.height); return 0;
    case WM_LBUTTONDOWN: PassToParent(kMsgSelectPane, reinterpret_cast<WPARAM>(this), 0); return 1;
    case WM_LBUTTONDBLCLK: PassToParent(kMsgMaximizeRestore, reinterpret_cast<WPARAM>(this), 0); return 1;
    case WM_RBUTTONDOWN: {
      platform::POINT at{point_x(lparam), point_y(lparam)};
      platform::ClientToScreen(m_hWnd, &at);
      ShowMenu(at);
      return 1;
    }
    case WM_CONTEXTMENU: ShowMenu(platform::Point{point_x(lparam), point_y(lparam)}); return 1;
    case kMsgCommand: SendCommand(static_cast<int32_t>(wparam)); return 1;
    default: return 0;
  }
}

}  // namespace kavrel::ui
