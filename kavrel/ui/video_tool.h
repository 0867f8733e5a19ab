// CVideoTool: the pane's tool bar, a 32-pixel strip at the bottom of the panel with up to seven
// skinned buttons (alarm output, snapshot, record, backlight compensation, history, freeze,
// close). Which buttons show, and their pictures and texts, follow the pane's flags.
//
// One thread: the user-interface thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "kavrel/ui/skin_button.h"
#include "kavrel/ui/window_wnd.h"

namespace kavrel::ui {

// The flags a tool bar shows.
struct ToolFlags {
  bool recording = false;  // toolRecording
  bool alarm_on = false;   // toolAlarmOn
  bool has_alarm = false;  // toolHasAlarm
  bool exporting = false;  // toolExporting
  bool playback = false;   // toolPlayback
  bool history = false;    // toolHistory
  bool blc = false;        // toolBlc
  bool freeze = false;     // toolFreeze
};

// The seven buttons, in the order the mouse is handed to them.
enum ToolButton : int {
  kToolAlarm = 0,
  kToolSnapshot,
  kToolRecord,
  kToolBlc,
  kToolHistory,
  kToolFreeze,
  kToolClose,
  kToolButtonCount
};

struct ButtonFace {
  int32_t command = 0;
  uint32_t picture = 0;
  std::u16string text;
};

// The rectangle of each button for the flags and a client rectangle; nullopt for a button that
// is not laid out.
std::array<std::optional<platform::RECT>, kToolButtonCount> tool_layout(const ToolFlags& flags,
                                                                        const platform::RECT& client);
// Command, picture and text of a button for the flags.
ButtonFace tool_button_face(ToolButton button, const ToolFlags& flags);

class CVideoTool final : public CWindowWnd {
 public:
  LRESULT ProcessMessage(platform::UINT message, WPARAM wparam, LPARAM lparam) override;

  const ToolFlags& flags() const { return m_flags; }
  // Changes one flag; a change lays the bar out again and repaints it. True when it changed.
  bool SetRecording(bool on) { return Change(&ToolFlags::recording, on); }
  bool SetAlarmOn(bool on) { return Change(&ToolFlags::alarm_on, on); }
  bool SetHasAlarm(bool on) { return Change(&ToolFlags::has_alarm, on); }
  bool SetExporting(bool on) { return Change(&ToolFlags::exporting, on); }
  bool SetHistory(bool on) { return Change(&ToolFlags::history, on); }
  bool SetBlc(bool on) { return Change(&ToolFlags::blc, on); }
  bool SetFreeze(bool on) { return Change(&ToolFlags::freeze, on); }
  // Set once at creation for the playback pane's bar.
  void SetPlayback(bool on) { m_flags.playback = on; }

  const CSkinDcButton& button(ToolButton which) const { return m_buttons[which]; }
  void Layout();

 private:
  bool Change(bool ToolFlags::*flag, bool on);
  void Paint() override;
  // Gives each laid-out button its picture, command and text for the current flags.
  void ApplyFaces();

  ToolFlags m_flags;
  std::array<CSkinDcButton, kToolButtonCount> m_buttons;
  std::array<bool, kToolButtonCount> m_laidOut{};
};

}  // namespace kavrel::ui
