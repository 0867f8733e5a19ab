// Sound and pan-tilt-zoom of the live panes: the script methods map a pane to its live slot and
// call the library with the slot's device and channel. The PTZ memory (last command and
// parameter, one for the whole control) keeps a held button from resending the same move.
//
// User-interface thread only.
#include "kavrel/core/traced.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "trace/trace.h"

namespace kavrel {
namespace {

constexpr int32_t kPtzUp = 0;
constexpr int32_t kPtzDown = 1;
constexpr int32_t kPtzLeft = 2;
constexpr int32_t kPtzRight = 3;
constexpr int32_t kPtzZoomIn = 4;
constexpr int32_t kPtzZoomOut = 5;
constexpr int32_t kPtzGoToPreset = 10;
constexpr int32_t kPtzSetPreset = 11;
constexpr int32_t kPtzDeletePreset = 12;

bool pane_ok(const char* method, int32_t pane) {
  if (pane >= 0 && pane <= 15) return true;
  trace::error(method, 0, "Invalid window index");
  return false;
}

}  // namespace

#define KAVREL_TRACED(method) TracedMethod traced("CkavrelCtrl::" #method)

void CkavrelCtrl::set_live_slot_for_testing(int32_t pane, const std::string& dev_id, int32_t channel, bool streaming,
                                            std::shared_ptr<CamInfo> camera) {
  if (pane < 0 || pane > 15) return;
  LiveSlot& slot = m_liveSlots[static_cast<size_t>(pane)];
  {
    std::lock_guard<std::mutex> hold(slot.lock);
    slot.slotDevId = dev_id;
  }
  slot.slotChannel.store(channel);
  slot.slotStreaming.store(streaming);
  slot.slotCamera = std::move(camera);
}

// ---- sound ----

int32_t CkavrelCtrl::CliSetVolume(int32_t lPnlIndex, int32_t nVolume) {
  KAVREL_TRACED(CliSetVolume);
  trace::value("lPnlIndex", lPnlIndex);
  trace::value("nVolume", nVolume);
  if (!pane_ok("CkavrelCtrl::CliSetVolume", lPnlIndex)) return -1;
  const LiveSlot& slot = m_liveSlots[static_cast<size_t>(lPnlIndex)];
  if (slot.slotStreaming.load()) {
    m_media.load()->setvolume(m_hClient.load(), slot.dev_id().c_str(), slot.slotChannel.load(), nVolume);
  }
  return 0;
}

int32_t CkavrelCtrl::CliGetVolume(int32_t lPnlIndex) {
  KAVREL_TRACED(CliGetVolume);
  trace::value("lPnlIndex", lPnlIndex);
  return pane_ok("CkavrelCtrl::CliGetVolume", lPnlIndex) ? 0 : -1;
}

int32_t CkavrelCtrl::CliSetAudioState(int32_t lPnlIndex, int32_t lState) {
  KAVREL_TRACED(CliSetAudioState);
  trace::value("lPnlIndex", lPnlIndex);
  trace::value("lState", lState);
  if (!pane_ok("CkavrelCtrl::CliSetAudioState", lPnlIndex)) return -1;
  LiveSlot& slot = m_liveSlots[static_cast<size_t>(lPnlIndex)];
  if (!slot.slotStreaming.load()) return 0;
  const std::string dev_id = slot.dev_id();
  const int32_t channel = slot.slotChannel.load();
  if (lState == 0) {
    m_media.load()->close_sound(m_hClient.load(), dev_id.c_str(), channel);
    slot.slotAudioOn.store(0);
  } else {
    // The library plays one stream's sound at a time: opening this one closes any other's.
    const bool opened = m_media.load()->open_sound(m_hClient.load(), dev_id.c_str(), channel) == 0;
    for (LiveSlot& other : m_liveSlots) other.slotAudioOn.store(0);
    slot.slotAudioOn.store(opened ? 1 : 0);
  }
  return 0;
}

int32_t CkavrelCtrl::CliGetAudioState(int32_t lPnlIndex) {
  KAVREL_TRACED(CliGetAudioState);
  trace::value("lPnlIndex", lPnlIndex);
  if (!pane_ok("CkavrelCtrl::CliGetAudioState", lPnlIndex)) return -1;
  const LiveSlot& slot = m_liveSlots[static_cast<size_t>(lPnlIndex)];
  if (!slot.slotStreaming.load()) return 0;
  return slot.slotAudioOn.load();
}

int32_t CkavrelCtrl::CliStartAudio(int32_t lPnlIndex) {
  KAVREL_TRACED(CliStartAudio);
  trace::value("lPnlIndex", lPnlIndex);
  return pane_ok("CkavrelCtrl::CliStartAudio", lPnlIndex) ? 0 : -1;
}

void CkavrelCtrl::CliStopAudio(int32_t lPnlIndex) {
  KAVREL_TRACED(CliStopAudio);
  trace::value("lPnlIndex", lPnlIndex);
}

// ---- PTZ ----

int32_t CkavrelCtrl::CLiPTZCtrl(int32_t lDevHandle, int32_t nChannel, int32_t nStream, int32_t nControlType,
                                int32_t nSpeed) {
  KAVREL_TRACED(CLiPTZCtrl);
  trace::value("lDevHandle", lDevHandle);
  trace::value("nChannel", nChannel);
  trace::value("nStream", nStream);
  trace::value("nControlType", nControlType);
  trace::value("nSpeed", nSpeed);
  return 0;
}

void CkavrelCtrl::CliPTZGenericCommand(int32_t lPnlIndex, int32_t command, int32_t parameter) {
  KAVREL_TRACED(CliPTZGenericCommand);
  trace::value("lPnlIndex", lPnlIndex);
  trace::value("command", command);
  trace::value("parameter", parameter);
  if (!pane_ok("CkavrelCtrl::CliPTZGenericCommand", lPnlIndex)) return;
  const LiveSlot& slot = m_liveSlots[static_cast<size_t>(lPnlIndex)];
  if (slot.slotCamera == nullptr) return;
  if (command == m_ptzLastCommand && parameter == m_ptzLastParam) return;
  m_ptzLastCommand = command;
  m_ptzLastParam = parameter;
  m_media.load()->ptz_command(m_hClient.load(), slot.dev_id().c_str(), slot.slotChannel.load(), command, parameter, 0);
}

void CkavrelCtrl::CliPTZStop(int32_t lPnlIndex) {
  KAVREL_TRACED(CliPTZStop);
  trace::value("lPnlIndex", lPnlIndex);
  if (!pane_ok("CkavrelCtrl::CliPTZStop", lPnlIndex)) return;
  const LiveSlot& slot = m_liveSlots[static_cast<size_t>(lPnlIndex)];
  if (slot.slotCamera == nullptr) return;
  m_media.load()->ptz_command(m_hClient.load(), slot.dev_id().c_str(), slot.slotChannel.load(), m_ptzLastCommand, 0,
                              1);
  m_ptzLastCommand = -1;
  m_ptzLastParam = 0;
}

void CkavrelCtrl::CliPTZZoomStop(int32_t lPnlIndex) {
  KAVREL_TRACED(CliPTZZoomStop);
  trace::value("lPnlIndex", lPnlIndex);
  CliPTZStop(lPnlIndex);
}

#define KAVREL_PTZ_MOVE(method, command)                        \
  void CkavrelCtrl::method(int32_t lPnlIndex, int32_t lSpeed) { \
    KAVREL_TRACED(method);                                      \
    trace::value("lPnlIndex", lPnlIndex);                       \
    trace::value("lSpeed", lSpeed);                             \
    CliPTZGenericCommand(lPnlIndex, command, lSpeed);           \
  }
KAVREL_PTZ_MOVE(CliPTZZoomIn, kPtzZoomIn)
KAVREL_PTZ_MOVE(CliPTZZoomOut, kPtzZoomOut)
KAVREL_PTZ_MOVE(CliPTZMoveUp, kPtzUp)
KAVREL_PTZ_MOVE(CliPTZMoveDown, kPtzDown)
KAVREL_PTZ_MOVE(CliPTZMoveLeft, kPtzLeft)
KAVREL_PTZ_MOVE(CliPTZMoveRight, kPtzRight)
#undef KAVREL_PTZ_MOVE

#define KAVREL_PTZ_PRESET(method, command)                       \
  void CkavrelCtrl::method(int32_t lPnlIndex, int32_t lPreset) { \
    KAVREL_TRACED(method);                                       \
    trace::value("lPnlIndex", lPnlIndex);                        \
    trace::value("lPreset", lPreset);                            \
    CliPTZStop(lPnlIndex);                                       \
    CliPTZGenericCommand(lPnlIndex, command, lPreset);           \
  }
KAVREL_PTZ_PRESET(CliPTZRecallPreset, kPtzGoToPreset)
KAVREL_PTZ_PRESET(CliPTZSetPreset, kPtzSetPreset)
KAVREL_PTZ_PRESET(CliPTZDeletePreset, kPtzDeletePreset)
#undef KAVREL_PTZ_PRESET

}  // namespace kavrel
