// CVideoWndManger: the video wall. It owns the sixteen panes, lays them out in one of the
// supported grids, pages through them, keeps the selection, maximises and restores a pane, and
// passes the panes' commands to its notification window (the control) with the selected index.
//
// One thread: the user-interface thread.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "kavrel/ui/video_wnd.h"
#include "kavrel/ui/wall_layout.h"
#include "kavrel/ui/window_wnd.h"

namespace kavrel::ui {

// Window styles of the wall and its panes.
inline constexpr uint32_t kWallStyle = 0x5000000B;
inline constexpr uint32_t kPaneStyle = 0x5200000B;

class CVideoWndManger final : public CWindowWnd {
 public:
  explicit CVideoWndManger(HWND notification_window = nullptr) : m_notify(notification_window) {}

  LRESULT ProcessMessage(platform::UINT message, WPARAM wparam, LPARAM lparam) override;
  // Destroys the sixteen pane objects after the wall's last message.
  void OnWindowDestroyed(HWND window) override;

  void SetNotifyWindow(HWND window) { m_notify = window; }

  // Applies the layout of `count` panes. False (and nothing changes) for a count outside the
  // supported set; true otherwise, also when the count is the current one (nothing happens then).
  bool SetLayout(int count);
  // Selects a pane and tells the notification window: command 0 for a plain selection.
  void SelectPane(CVideoWnd* pane, int32_t command);
  // Maximises the selected pane, or restores the saved layout when one is maximised.
  void MaximizeOrRestore();
  // Moves the panes of page `page` of `count` into the layout rectangles and shows them.
  void ShowPage(int count, int page);

  int count() const { return m_count; }
  int page() const { return m_page; }
  int saved_count() const { return m_savedCount; }
  int saved_page() const { return m_savedPage; }
  int selected_index() const { return m_selectedIndex; }
  const std::vector<platform::Rect>& layout_rects() const { return m_rects; }

  // The pane at `index` (0 to 15), null when out of range or the panes are gone.
  CVideoWnd* pane(int index) const;
  // Position of a pane among the sixteen, -1 when it is not one of them.
  int IndexOf(const CVideoWnd* pane) const;

 private:
  void CreatePanes();
  void HidePage(int count, int page);
  void ComputeRects(int count);
  void Paint() override;

  HWND m_notify = nullptr;
  std::array<std::unique_ptr<CVideoWnd>, kPaneCount> m_panes;
  int m_count = 4;
  int m_page = 0;
  int m_savedCount = 4;
  int m_savedPage = 0;
  CVideoWnd* m_selected = nullptr;
  int m_selectedIndex = 0;
  std::vector<platform::Rect> m_rects;
};

}  // namespace kavrel::ui
