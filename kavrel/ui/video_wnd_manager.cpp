#include "kavrel/ui/video_wnd_manager.h"

#include "kavrel/ui/ui_messages.h"
#include "platform/gdi/gdi.h"
#include "platform/window/surface.h"

namespace kavrel::ui {

void CVideoWndManger::CreatePanes() {
  for (int i = 0; i < kPaneCount; ++i) {
    m_panes[i] = std::make_unique<CVideoWnd>();
    m_panes[i]->CreatePane(m_hWnd, "ViewWnd", kPaneStyle, i, false);
  }
  // Pane 0 starts selected; this is the initial state, not a change to report.
  m_selected = m_panes[0].get();
  m_selectedIndex = 0;
  m_selected->SetSelected(true);
}

void CVideoWndManger::OnWindowDestroyed(HWND) {
  m_selected = nullptr;
  for (auto& pane : m_panes) pane.reset();
}

CVideoWnd* CVideoWndManger::pane(int index) const {
  if (index < 0 || index >= kPaneCount) return nullptr;
  return m_panes[index].get();
}

int CVideoWndManger::IndexOf(const CVideoWnd* target) const {
  if (target == nullptr) return -1;
  for (int i = 0; i < kPaneCount; ++i) {
    if (m_panes[i].get() == target) return i;
  }
  return -1;
}

void CVideoWndManger::ComputeRects(int count) {
  std::vector<platform::Rect> rects = ui::layout_rects(count, 0, 0);
  if (rects.empty()) return;  // any other count leaves the rectangles as they were
  platform::Rect client;
  if (m_hWnd == nullptr || !platform::get_client_rect(m_hWnd, &client)) client = platform::Rect{};
  m_rects = ui::layout_rects(count, client.right, client.bottom);
}

void CVideoWndManger::HidePage(int count, int page) {
  int start = page_start(count, page);
  for (int i = 0; i < count && start + i < kPaneCount; ++i) {
    if (CVideoWnd* p = pane(start + i)) p->Show(false);
  }
}

void CVideoWndManger::ShowPage(int count, int page) {
  if (count != 1) {
    m_savedCount = count;
    m_savedPage = page;
  }
  int start = page_start(count, page);
  for (int i = 0; i < count && i < static_cast<int>(m_rects.size()) && start + i < kPaneCount; ++i) {
    CVideoWnd* p = pane(start + i);
    if (p == nullptr) continue;
    p->Move(m_rects[i]);
    p->Show(true);
  }
}

bool CVideoWndManger::SetLayout(int count) {
  if (!is_supported_count(count)) return false;
  if (count == m_count) return true;
  int start = page_start(m_count, m_page);
  for (int i = 0; i < m_count && start + i < kPaneCount; ++i) {
    CVideoWnd* p = pane(start + i);
    if (p == nullptr) continue;
    p->Show(false);
    // Picture modes cost a filter per frame; small panes of a large layout get them switched off.
    if (count > 8) p->ResetPictureModes(0);
  }
  m_count = count;
  ComputeRects(count);
  m_page = page_containing(count, m_selectedIndex);
  ShowPage(count, m_page);
  return true;
}

void CVideoWndManger::SelectPane(CVideoWnd* target, int32_t command) {
  if (IndexOf(target) < 0) target = nullptr;  // only the wall's own panes can be selected
  if (target != m_selected) {
    if (m_selected != nullptr) m_selected->SetSelected(false);
    if (target != nullptr) target->SetSelected(true);
  }
  m_selected = target;
  m_selectedIndex = IndexOf(target);
  if (m_notify != nullptr) {
    platform::send_message(m_notify, kMsgCommand, static_cast<WPARAM>(static_cast<intptr_t>(m_selectedIndex)),
                           static_cast<LPARAM>(command));
  }
}

void CVideoWndManger::MaximizeOrRestore() {
  if (m_selectedIndex < 0) return;  // nothing of the wall is selected
  if (m_count == 1) {
    if (m_selected != nullptr) m_selected->Show(false);
    ComputeRects(m_savedCount);
    m_page = page_containing(m_savedCount, m_selectedIndex);
    m_count = m_savedCount;
    ShowPage(m_count, m_page);
    return;
  }
  HidePage(m_count, m_page);
  ComputeRects(1);
  m_savedCount = m_count;
  m_savedPage = m_page;
  m_count = 1;
  m_page = m_selectedIndex;
  ShowPage(m_count, m_page);
}

void CVideoWndManger::Paint() {
  platform::PAINTSTRUCT paint;
  platform::HDC dc = platform::BeginPaint(m_hWnd, &paint);
  if (dc == nullptr) return;
  platform::RECT client;
  platform::get_client_rect(m_hWnd, &client);
  platform::SetBkColor(dc, kPaneBackground);
  platform::ExtTextOutW(dc, 0, 0, platform::ETO_OPAQUE, &client, nullptr, 0, nullptr);
  platform::EndPaint(m_hWnd, &paint);
}

LRESULT CVideoWndManger::ProcessMessage(platform::UINT message, WPARAM wparam, LPARAM lparam) {
  if (LRESULT result = 0; HandleCommonMessage(message, &result)) return result;
  switch (message) {
    case platform::WM_CREATE: CreatePanes(); return 0;
    case platform::WM_SIZE:
      for (int i = 0; i < kPaneCount; ++i) {
        if (CVideoWnd* p = pane(i)) p->Show(false);
      }
      ComputeRects(m_count);
      ShowPage(m_count, m_page);
      return 0;
    case kMsgSelectPane: SelectPane(reinterpret_cast<CVideoWnd*>(wparam), kCmdSelectionChanged); return 1;
    case kMsgMaximizeRestore: MaximizeOrRestore(); return 1;
    case kMsgCommand: SelectPane(reinterpret_cast<CVideoWnd*>(wparam), static_cast<int32_t>(lparam)); return 1;
    default: return 0;
  }
}

}  // namespace kavrel::ui
