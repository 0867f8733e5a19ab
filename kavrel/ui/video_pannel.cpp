#include "kavrel/ui/video_pannel.h"

#include "kavrel/ui/ui_messages.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/user.h"
#include "platform/window/surface.h"

namespace kavrel::ui {

using platform::RECT;

namespace {
// The children are plain visible-when-shown child windows; they start hidden.
constexpr uint32_t kChildStyle = platform::WS_CHILD;
}  // namespace

PanelLayout panel_layout(const RECT& c) {
  PanelLayout layout;
  layout.tool = RECT{c.left + 1, c.bottom - 33, c.right - 1, c.bottom - 1};
  layout.info = RECT{c.left + 1, c.top + 1, c.right - 1, c.top + 17};
  layout.flash = RECT{c.left + 15, c.top + 15, c.right - 15, c.bottom - 15};
  int cx = c.left + (c.right - c.left) / 2;
  int cy = c.top + (c.bottom - c.top) / 2;
  layout.progress = RECT{cx - 60, cy - 60, cx + 60, cy + 60};
  return layout;
}

HWND CVideoPannel::CreatePanel(HWND parent, bool playback) {
  HWND window = Create(parent, "VideoPannel", platform::WS_CHILD | platform::WS_VISIBLE);
  if (window == nullptr) return nullptr;
  m_tool.SetPlayback(playback);
  m_tool.Create(window, "VideoTool", kChildStyle);
  m_info.Create(window, "VideoInfoTool", kChildStyle);
  m_flash.Create(window, "VideoFlash", kChildStyle);
  m_progress.Create(window, "VideoBackupProgress", kChildStyle);
  Layout();
  return window;
}

void CVideoPannel::Layout() {
  RECT client;
  if (m_hWnd == nullptr || !platform::get_client_rect(m_hWnd, &client)) return;
  m_layout = panel_layout(client);
  m_tool.Move(m_layout.tool);
  m_info.Move(m_layout.info);
  m_flash.Move(m_layout.flash);
  m_progress.Move(m_layout.progress);
  m_tool.Layout();
}

void CVideoPannel::Paint() {
  platform::PAINTSTRUCT paint;
  platform::HDC dc = platform::BeginPaint(m_hWnd, &paint);
  if (dc == nullptr) return;
  RECT client;
  platform::get_client_rect(m_hWnd, &client);
  platform::FillSolidRect(dc, &client, kPaneBackground);
  platform::EndPaint(m_hWnd, &paint);
}

bool CVideoPannel::InHoverStrips(platform::Point at) const {
  return platform::PtInRect(&m_layout.tool, at) || platform::PtInRect(&m_layout.info, at);
}

void CVideoPannel::TrackHover(platform::Point at) {
  if (InHoverStrips(at)) {
    // A pane without a title has nothing to show in its bars.
    if (!m_info.info().empty() && m_hoverTimerId == -1) {
      if (platform::set_timer(m_hWnd, kHoverTimerId, kHoverTimerPeriodMs) != 0) {
        m_hoverTimerId = static_cast<intptr_t>(kHoverTimerId);
      }
      m_tool.Show(true);
      m_info.Show(true);
    }
  } else if (m_hoverTimerId != -1) {
    HideBars();
  }
}

void CVideoPannel::HideBars() {
  m_tool.Show(false);
  m_info.Show(false);
  platform::kill_timer(m_hWnd, kHoverTimerId);
  m_hoverTimerId = -1;
}

LRESULT CVideoPannel::ProcessMessage(platform::UINT message, WPARAM wparam, LPARAM lparam) {
  if (LRESULT result = 0; HandleCommonMessage(message, &result)) return result;
  switch (message) {
    case platform::WM_SIZE: Layout(); return 0;
    case WM_MOUSEMOVE: TrackHover(CursorInClient()); return 1;
    case platform::WM_TIMER:
      if (wparam == kHoverTimerId) {
        if (m_hoverTimerId != -1 && !InHoverStrips(CursorInClient())) HideBars();
        return 1;
      }
      return 0;
    case kMsgConnecting:
      if (wparam == kIndicatorOn) m_flash.Start();
      else m_flash.Stop();
      return 1;
    case kMsgExportIndicator:
      m_progressVisible = wparam == kIndicatorOn;
      m_progress.Show(m_progressVisible);
      return 1;
    case kMsgExportPercent: m_progress.SetPercent(static_cast<int>(wparam)); return 1;
    case kMsgCommand:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_CONTEXTMENU: PassToParent(message, wparam, lparam); return 1;
    case WM_RBUTTONUP: {
      // As the system's default handling does: a right click asks for the context menu, which
      // climbs to the pane with the cursor's screen position.
      platform::POINT screen;
      platform::GetCursorPos(&screen);
      PassToParent(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(m_hWnd), make_point_lparam(screen.x, screen.y));
      return 1;
    }
    default: return 0;
  }
}

}  // namespace kavrel::ui
