// CVideoPannel: the window a pane's video is rendered into. It carries the pane's tool bar,
// information bar, connecting indicator and export progress indicator; the two bars show while
// the mouse is over their strips and the pane has a title.
//
// One thread: the user-interface thread. Workers reach the panel only through posted messages
// (2226, 2228, 2229).
#pragma once

#include <string>

#include "kavrel/ui/video_flash.h"
#include "kavrel/ui/video_info_tool.h"
#include "kavrel/ui/video_tool.h"
#include "kavrel/ui/window_wnd.h"

namespace kavrel::ui {

// Where the panel's children go for a client rectangle.
struct PanelLayout {
  platform::RECT tool;      // also the tool bar's hover strip
  platform::RECT info;      // also the information bar's hover strip
  platform::RECT flash;
  platform::RECT progress;
};
PanelLayout panel_layout(const platform::RECT& client);

class CVideoPannel final : public CWindowWnd {
 public:
  // Creates the panel and its four children (hidden) under `parent`.
  HWND CreatePanel(HWND parent, bool playback);
  LRESULT ProcessMessage(platform::UINT message, WPARAM wparam, LPARAM lparam) override;

  CVideoTool& tool() { return m_tool; }
  CVideoInfoTool& info_tool() { return m_info; }
  CVideoFlash& flash() { return m_flash; }
  CVideoBackupProgress& progress() { return m_progress; }
  const CVideoTool& tool() const { return m_tool; }
  const CVideoInfoTool& info_tool() const { return m_info; }

  bool bars_shown() const { return m_hoverTimerId != -1; }
  bool progress_visible() const { return m_progressVisible; }

 private:
  void Layout();
  void Paint() override;
  // Mouse at `at` (panel coordinates): shows or hides the bars.
  void TrackHover(platform::Point at);
  void HideBars();
  bool InHoverStrips(platform::Point at) const;

  CVideoTool m_tool;
  CVideoInfoTool m_info;
  CVideoFlash m_flash;
  CVideoBackupProgress m_progress;
  PanelLayout m_layout{};
  intptr_t m_hoverTimerId = -1;
  bool m_progressVisible = false;
};

}  // namespace kavrel::ui
