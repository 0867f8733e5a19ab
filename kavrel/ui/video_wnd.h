// CVideoWnd: one video pane of the wall (or the playback pane). It draws its border (green when
// selected), fits its panel to the video's aspect ratio, reports clicks and double clicks to the
// wall, passes its panel's commands up with itself attached, and shows the right-click menu.
//
// One thread: the user-interface thread.
#pragma once

#include <string>

#include "kavrel/ui/video_pannel.h"
#include "kavrel/ui/wall_layout.h"
#include "kavrel/ui/window_wnd.h"

namespace kavrel::ui {

class CVideoWnd final : public CWindowWnd {
 public:
  // Creates the pane and its panel under `parent`.
  HWND CreatePane(HWND parent, const char* name, uint32_t style, int index, bool playback);
  LRESULT ProcessMessage(platform::UINT message, WPARAM wparam, LPARAM lparam) override;

  int index() const { return m_index; }
  bool selected() const { return m_selected; }
  // Changes the selected flag; a change repaints only the four border strips.
  void SetSelected(bool selected);
  // Fits the panel to a video of width x height (corrected for field-based sizes); also run on
  // every resize with the stored size.
  void OptimizeView(int width, int height);
  VideoSize video_size() const { return m_video; }
  // The stream title shown in the information bar.
  void SetVideoInfo(const std::u16string& text);

  // Picture modes of the pane's render window: call the library switch and follow with the tool
  // bar's flag.
  void SetHistoryMode(bool on);
  void SetWdrMode(bool on);
  void SetFreezeMode(bool on, int corner);
  // Switches all three modes off (the pane leaves a layout of more than eight panes, or stops).
  void ResetPictureModes(int freeze_corner);

  CVideoPannel& panel() { return m_panel; }
  const CVideoPannel& panel() const { return m_panel; }
  // The window video is rendered into.
  HWND render_window() const { return m_panel.GetHWND(); }

 private:
  void Paint() override;
  // Shows the menu at a screen point and sends the chosen command up.
  void ShowMenu(platform::Point screen);
  void SendCommand(int32_t command);

  int m_index = 0;
  bool m_selected = false;
  VideoSize m_video;
  CVideoPannel m_panel;
};

}  // namespace kavrel::ui
