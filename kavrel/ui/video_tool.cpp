#include "kavrel/ui/video_tool.h"

#include "kavrel/resources/module_resources.h"
#include "kavrel/ui/ui_messages.h"
#include "platform/window/surface.h"

namespace kavrel::ui {

using platform::RECT;
namespace res = resources;

std::array<std::optional<RECT>, kToolButtonCount> tool_layout(const ToolFlags& flags, const RECT& client) {
  std::array<std::optional<RECT>, kToolButtonCount> rects;
  RECT inner{client.left + 1, client.top + 1, client.right - 1, client.bottom - 1};
  int w = inner.right - inner.left;
  if (flags.exporting) {
    int half = w / 2;
    int left = inner.left + (w - half) / 2;
    rects[kToolClose] = RECT{left, inner.top, left + half, inner.bottom};
    return rects;
  }
  static constexpr ToolButton kLive[] = {kToolAlarm, kToolSnapshot, kToolRecord, kToolBlc,
                                         kToolHistory, kToolFreeze, kToolClose};
  static constexpr ToolButton kPlayback[] = {kToolSnapshot, kToolBlc, kToolHistory, kToolFreeze, kToolClose};
  const ToolButton* order = kLive;
  int n = 7;
  if (flags.playback) {
    order = kPlayback;
    n = 5;
  } else if (!flags.has_alarm) {
    order = kLive + 1;
    n = 6;
  }
  int slot = w / n;
  for (int i = 0; i < n; ++i) {
    int left = inner.left + i * slot;
    rects[order[i]] = RECT{left, inner.top, left + slot, inner.bottom};
  }
  return rects;
}

ButtonFace tool_button_face(ToolButton button, const ToolFlags& flags) {
  switch (button) {
    case kToolClose:
      if (flags.exporting) return {kCmdCancelExport, res::IDB_PNG_CLOSE, u"Cancelar exportação de vídeo"};
      return {kCmdClose, res::IDB_PNG_CLOSE, u"Fechar"};
    case kToolSnapshot: return {kCmdSnapshot, res::IDB_PNG_SNAPSHOT, u"Foto"};
    case kToolHistory:
      return {kCmdHistory, res::IDB_PNG_HISTORY, flags.history ? u"Ver simples" : u"Ver histórico"};
    case kToolBlc: return {kCmdBlc, res::IDB_PNG_BLC, flags.blc ? u"Desat. BLC" : u"Ativar BLC"};
    case kToolFreeze: return {kCmdFreeze, res::IDB_PNG_FREEZE, flags.freeze ? u"Descongelar" : u"Congelar"};
    case kToolRecord:
      return {kCmdRecord, flags.recording ? res::IDB_PNG_RECORDING : res::IDB_PNG_RECORD,
              flags.recording ? u"Parar" : u"Gravar"};
    case kToolAlarm:
      return {kCmdAlarmOutput, flags.alarm_on ? res::IDB_PNG_ALARM_ON : res::IDB_PNG_ALARM_OFF,
              flags.alarm_on ? u"Desativar" : u"Ativar"};
    case kToolButtonCount: break;
  }
  return {};
}

bool CVideoTool::Change(bool ToolFlags::*flag, bool on) {
  if (m_flags.*flag == on) return false;
  m_flags.*flag = on;
  Layout();
  if (m_hWnd != nullptr) platform::invalidate_rect(m_hWnd, nullptr);
  return true;
}

void CVideoTool::Layout() {
  RECT client;
  if (m_hWnd == nullptr || !platform::get_client_rect(m_hWnd, &client)) client = RECT{};
  auto rects = tool_layout(m_flags, client);
  for (int i = 0; i < kToolButtonCount; ++i) {
    m_laidOut[i] = rects[i].has_value();
    // A button that is not laid out has an empty rectangle, so the mouse never finds it.
    m_buttons[i].rect = rects[i].value_or(RECT{});
  }
  ApplyFaces();
}

void CVideoTool::ApplyFaces() {
  for (int i = 0; i < kToolButtonCount; ++i) {
    if (!m_laidOut[i]) continue;
    ButtonFace face = tool_button_face(static_cast<ToolButton>(i), m_flags);
    m_buttons[i].SetImage(face.picture, m_hWnd, face.command);
    m_buttons[i].SetText(std::move(face.text));
  }
}

void CVideoTool::Paint() {
  platform::PAINTSTRUCT paint;
  platform::HDC dc = platform::BeginPaint(m_hWnd, &paint);
  if (dc == nullptr) return;
  RECT client;
  platform::get_client_rect(m_hWnd, &client);
  PaintBarBackground(dc, client);
  ApplyFaces();
  for (int i = 0; i < kToolButtonCount; ++i) {
    if (m_laidOut[i]) m_buttons[i].Draw(dc);
  }
  platform::EndPaint(m_hWnd, &paint);
}

LRESULT CVideoTool::ProcessMessage(platform::UINT message, WPARAM wparam, LPARAM lparam) {
  if (LRESULT result = 0; HandleCommonMessage(message, &result)) return result;
  switch (message) {
    case platform::WM_SIZE: Layout(); return 0;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP: {
      platform::Point at = CursorInClient();
      for (CSkinDcButton& b : m_buttons) {
        if (message == WM_MOUSEMOVE) b.OnMouseMove(at.x, at.y);
        else if (message == WM_LBUTTONDOWN) b.OnLButtonDown(at.x, at.y);
        else b.OnLButtonUp(at.x, at.y);
      }
      return 1;
    }
    case kMsgCommand: PassToParent(message, wparam, lparam); return 1;
    default: return 0;
  }
}

}  // namespace kavrel::ui
