// Fisheye mount mode and visualization of a live pane, chosen from the pane's menu. The pane
// remembers both, so a menu item that changes nothing sends nothing; a layout made for another
// mount switches the camera's mount first.
//
// User-interface thread only (the command dispatcher).
#include "kavrel/core/traced.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/ui/ui_messages.h"
#include "trace/trace.h"

namespace kavrel {
namespace {

constexpr int32_t kMountCeiling = 1;
constexpr int32_t kMountWall = 2;
constexpr int32_t kMountFloor = 3;
// A fisheye camera is a one-channel device: its view is set on channel 0.
constexpr int32_t kFisheyeChannel = 0;

// Menu commands 213 "Teto", 214 "Chão", 215 "Parede".
int32_t mount_for_command(int32_t command) {
  switch (command) {
    case ui::kCmdFisheyeCeiling: return kMountCeiling;
    case ui::kCmdFisheyeFloor: return kMountFloor;
    case ui::kCmdFisheyeWall: return kMountWall;
    default: return 0;
  }
}

// Menu commands 216 to 227: the visualization values of the ceiling/floor layouts (216-223) and
// the wall layouts (224-227); 0 for anything else.
int32_t visualization_for_command(int32_t command) {
  constexpr int32_t kValues[] = {2, 4, 15, 9, 7, 10, 12, 13, 3, 8, 11, 14};
  if (command < ui::kCmdFisheyeOriginal || command > ui::kCmdFisheyeWallPanorama8) return 0;
  return kValues[command - ui::kCmdFisheyeOriginal];
}


}  // namespace

int32_t CkavrelCtrl::pane_mount_mode(int32_t pane) const {
  return pane >= 0 && pane < 16 ? m_paneMountMode[static_cast<size_t>(pane)] : 0;
}

int32_t CkavrelCtrl::pane_visualization(int32_t pane) const {
  return pane >= 0 && pane < 16 ? m_paneVisualization[static_cast<size_t>(pane)] : 0;
}

void CkavrelCtrl::CliSetFisheyeMounting(int32_t lPnlIndex, int32_t command) {
  TracedMethod traced("CkavrelCtrl::CliSetFisheyeMounting");
  trace::value("lPnlIndex", lPnlIndex);
  trace::value("command", command);
  if (lPnlIndex < 0 || lPnlIndex > 15) return;
  const size_t pane = static_cast<size_t>(lPnlIndex);
  const LiveSlot& slot = m_liveSlots[pane];
  if (slot.slotCamera == nullptr) return;
  const int32_t mode = mount_for_command(command);
  if (mode == 0 || mode == m_paneMountMode[pane]) return;
  const int32_t previous = m_paneMountMode[pane];
  m_paneMountMode[pane] = mode;
  m_media.load()->set_fisheye_mount_mode(m_hClient.load(), slot.dev_id().c_str(), kFisheyeChannel, mode);
  if (previous == kMountWall && (mode == kMountCeiling || mode == kMountFloor)) {
    CliSetFisheyeVisualization(lPnlIndex, ui::kCmdFisheyeOriginal3);
  } else if (mode == kMountWall) {
    CliSetFisheyeVisualization(lPnlIndex, ui::kCmdFisheyeWallPanorama3);
  }
}

void CkavrelCtrl::CliSetFisheyeVisualization(int32_t lPnlIndex, int32_t command) {
  TracedMethod traced("CkavrelCtrl::CliSetFisheyeVisualization");
  trace::value("lPnlIndex", lPnlIndex);
  trace::value("command", command);
  if (lPnlIndex < 0 || lPnlIndex > 15) return;
  const size_t pane = static_cast<size_t>(lPnlIndex);
  const LiveSlot& slot = m_liveSlots[pane];
  if (slot.slotCamera == nullptr) return;
  const int32_t value = visualization_for_command(command);
  if (value == 0 || value == m_paneVisualization[pane]) return;
  m_paneVisualization[pane] = value;
  const MediaCalls& media = *m_media.load();
  const std::string dev_id = slot.dev_id();
  const brixa_handle client = m_hClient.load();
  const int32_t mount = m_paneMountMode[pane];
  if (command >= ui::kCmdFisheyeWallPanorama && mount != kMountWall) {
    media.set_fisheye_mount_mode(client, dev_id.c_str(), kFisheyeChannel, kMountWall);
    m_paneMountMode[pane] = kMountWall;
  } else if (command < ui::kCmdFisheyeWallPanorama && mount != kMountCeiling && mount != kMountFloor) {
    media.set_fisheye_mount_mode(client, dev_id.c_str(), kFisheyeChannel, kMountCeiling);
    m_paneMountMode[pane] = kMountCeiling;
  }
  media.set_fisheye_visualization(client, dev_id.c_str(), kFisheyeChannel, value);
}

}  // namespace kavrel
