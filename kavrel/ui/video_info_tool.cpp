#include "kavrel/ui/video_info_tool.h"

#include "kavrel/ui/ui_messages.h"
#include "platform/window/surface.h"

namespace kavrel::ui {

void CVideoInfoTool::SetInfo(std::u16string text) {
  if (text == m_info) return;
  m_info = std::move(text);
  m_label.SetText(m_info);
  if (m_hWnd != nullptr) platform::invalidate_rect(m_hWnd, nullptr);
}

void CVideoInfoTool::Layout() {
  platform::RECT client;
  if (m_hWnd == nullptr || !platform::get_client_rect(m_hWnd, &client)) return;
  m_label.SetOwner(m_hWnd);
  m_label.rect = platform::RECT{client.left + 1, client.top + 1, client.right - 1, client.bottom - 1};
}

void CVideoInfoTool::Paint() {
  platform::PAINTSTRUCT paint;
  platform::HDC dc = platform::BeginPaint(m_hWnd, &paint);
  if (dc == nullptr) return;
  platform::RECT client;
  platform::get_client_rect(m_hWnd, &client);
  PaintBarBackground(dc, client);
  m_label.Draw(dc);
  platform::EndPaint(m_hWnd, &paint);
}

LRESULT CVideoInfoTool::ProcessMessage(platform::UINT message, WPARAM wparam, LPARAM lparam) {
  if (LRESULT result = 0; HandleCommonMessage(message, &result)) return result;
  switch (message) {
    case platform::WM_SIZE: Layout(); return 0;
    case kMsgCommand: PassToParent(message, wparam, lparam); return 1;
    default: return 0;
  }
}

}  // namespace kavrel::ui
