// CVideoInfoTool: the pane's information bar, a 16-pixel strip at the top of the panel showing
// the stream title on the tool bar's dark background.
//
// One thread: the user-interface thread.
#pragma once

#include <string>

#include "kavrel/ui/skin_button.h"
#include "kavrel/ui/window_wnd.h"

namespace kavrel::ui {

class CVideoInfoTool final : public CWindowWnd {
 public:
  LRESULT ProcessMessage(platform::UINT message, WPARAM wparam, LPARAM lparam) override;

  void SetInfo(std::u16string text);
  const std::u16string& info() const { return m_info; }
  const CSkinDcButton& label() const { return m_label; }

 private:
  void Layout();
  void Paint() override;

  CSkinDcButton m_label;  // a label: no picture, no mouse handling
  std::u16string m_info;
};

}  // namespace kavrel::ui
