// The control's command dispatcher: a pressed tool-bar button or a pane menu item arrives here
// as a command number with the wall's selected pane, and is carried out by the operation that
// owns it. User-interface thread only; commands are handled one at a time, in arrival order.
#include "kavrel/core/callback_names.h"
#include "kavrel/core/traced.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "kavrel/ui/picture_modes.h"
#include "kavrel/ui/ui_messages.h"
#include "kavrel/ui/video_wnd_manager.h"
#include "trace/trace.h"

namespace kavrel {
namespace {

// Intervals of the history menu, intensities of the backlight menu.
constexpr int32_t kHistoryIntervalsMs[] = {1500, 5000, 15000};
constexpr int32_t kWdrIntensities[] = {10, 25, 40};

}  // namespace

void CkavrelCtrl::OnCmsBtnLButtonDown(int32_t index, int32_t command) {
  TracedMethod traced("CkavrelCtrl::OnCmsBtnLButtonDown");
  trace::value("index", index);
  trace::value("command", command);
  const bool live_page = m_lPage == 0;
  const bool pane_index = index >= 0 && index < 16;
  // The pane picture modes act on: the selected live pane while it streams, or the playback pane
  // on the playback page; null when neither.
  ui::CVideoWnd* target = nullptr;
  if (live_page && pane_index && m_videoWall != nullptr && live_slot(index).slotStreaming.load()) {
    target = m_videoWall->pane(index);
  } else if (m_lPage == 1) {
    target = m_playbackWnd.get();
  }
  const ui::PictureModeCalls& modes = ui::picture_mode_calls();

  switch (command) {
    case ui::kCmdSelectionChanged:
      FireCliCallBackMsg(0, 0, kEventSelectionChanged, index, 0, nullptr, 0);
      break;
    case ui::kCmdClose:
      StopLocalRecording(index);
      if (live_page) {
        CliStopPlayDev(index);
      } else if (m_lPage == 1) {
        CliStopPlaybackDev(index);
      }
      FireCliCallBackMsg(0, 0, kEventPaneClosed, index, 0, nullptr, 0);
      break;
    case ui::kCmdCancelExport:
      CliStopBackup();
      break;
    case ui::kCmdReconnect: {
      if (!live_page || !pane_index) break;
      std::string cam_id = pane_camera(index);
      int32_t stream = pane_stream(index);
      CliStopPlayDev(index);
      if (stream != -1) {
        std::u16string wide = to_wide(cam_id);
        CliStartPlayDev(wide.c_str(), stream, index);
      }
      break;
    }
    case ui::kCmdHistory:
      if (target == nullptr) break;
      if (!target->panel().tool().flags().history) target->SetFreezeMode(false, 0);
      target->SetHistoryMode(!target->panel().tool().flags().history);
      break;
    case ui::kCmdHistoryOff:
      if (target != nullptr) target->SetHistoryMode(false);
      break;
    case ui::kCmdHistoryShort:
    case ui::kCmdHistoryMedium:
    case ui::kCmdHistoryLong:
      if (target == nullptr) break;
      target->SetHistoryMode(true);
      modes.set_history_interval(target->render_window(), kHistoryIntervalsMs[command - ui::kCmdHistoryShort]);
      break;
    case ui::kCmdBlc:
      if (target != nullptr) target->SetWdrMode(!target->panel().tool().flags().blc);
      break;
    case ui::kCmdBlcOff:
      // The intensity stays as it was in the library for the next time the filter is on.
      if (target != nullptr) target->SetWdrMode(false);
      break;
    case ui::kCmdBlcLow:
    case ui::kCmdBlcDefault:
    case ui::kCmdBlcHigh:
      if (target == nullptr) break;
      target->SetWdrMode(true);
      modes.set_wdr_intensity(target->render_window(), kWdrIntensities[command - ui::kCmdBlcLow]);
      break;
    case ui::kCmdFreeze:
      if (target == nullptr) break;
      if (!target->panel().tool().flags().freeze) target->SetHistoryMode(false);
      target->SetFreezeMode(!target->panel().tool().flags().freeze, 1);
      break;
    case ui::kCmdFreezeOff:
      if (target != nullptr) target->SetFreezeMode(false, 0);
      break;
    case ui::kCmdFreezeTopLeft:
    case ui::kCmdFreezeTopRight:
    case ui::kCmdFreezeBottomLeft:
    case ui::kCmdFreezeBottomRight:
      if (target != nullptr) target->SetFreezeMode(true, command - ui::kCmdFreezeTopLeft);
      break;
    case ui::kCmdSnapshot:
      OnSnapshotButton(index);
      break;
    case ui::kCmdRecord:
      OnRecordButton(index);
      break;
    case ui::kCmdFisheyeCeiling:
    case ui::kCmdFisheyeFloor:
    case ui::kCmdFisheyeWall:
      if (live_page && pane_index && live_slot(index).slotStreaming.load()) CliSetFisheyeMounting(index, command);
      break;
    case ui::kCmdFisheyeOriginal:
    case ui::kCmdFisheyePanorama1:
    case ui::kCmdFisheyeOriginal2:
    case ui::kCmdFisheyeOriginal3:
    case ui::kCmdFisheyeOriginal4:
    case ui::kCmdFisheyePanorama6:
    case ui::kCmdFisheyeOriginal8:
    case ui::kCmdFisheyeWallPanorama:
    case ui::kCmdFisheyeWallPanorama3:
    case ui::kCmdFisheyeWallPanorama4:
    case ui::kCmdFisheyeWallPanorama8:
    case 218:  // a visualization without a menu item of its own
      if (live_page && pane_index && live_slot(index).slotStreaming.load()) {
        CliSetFisheyeVisualization(index, command);
      }
      break;
    case ui::kCmdAlarmOutput:
      OnAlarmOutputButton(index);
      break;
    default:
      // A command outside the table is only traced.
      trace::value("Command not handled", command);
      break;
  }
}

}  // namespace kavrel
