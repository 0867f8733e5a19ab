// Script methods whose work lives in the device model, the device connections, the media
// operations and the layouts. Each traces its entry, arguments and exit; until the subsystem
// behind it exists it returns its neutral result (nothing, 0, an empty text or false). The cloud
// account methods are complete here; the video wall's are in kavrel/ui/control_wall.cpp.
#include "kavrel/core/traced.h"
#include "kavrel/core/ui_wait.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "trace/trace.h"

namespace kavrel {
namespace {

void arg(const char* name, int32_t value) { trace::value(name, value); }
void arg(const char* name, const char16_t* text) { trace::wide_value(name, text); }
// Passwords, keys and passes: the trace shows only that one was given.
void secret_arg(const char* name, const char16_t* text) { trace::wide_secret(name, text); }

}  // namespace

#define KAVREL_TRACED(method) TracedMethod traced("CkavrelCtrl::" #method)
#define KAVREL_ARG(name) arg(#name, name)
#define KAVREL_SECRET_ARG(name) secret_arg(#name, name)

// ---- cloud account ----

void CkavrelCtrl::CliCloudInitSimple(const char16_t* szUser, const char16_t* szPass) {
  KAVREL_TRACED(CliCloudInitSimple);
  KAVREL_ARG(szUser);
  KAVREL_SECRET_ARG(szPass);
  // The persistent state is initialised as the object is created; nothing waits for a container.
  m_stopConnecting.store(0);
  m_devListSn.store(-1);
  m_camListSn.store(-1);
  m_accountMode.store(1);
  std::string user = to_narrow(szUser);
  std::string pass = to_narrow(szPass);
  std::string url = to_narrow(m_serverAddr);
  std::string app_pass = to_narrow(m_appPass);
  std::string app_key = to_narrow(m_appKey);
  if (m_cloud.load()->create(m_hClient.load(), app_key.c_str(), app_pass.c_str(), url.c_str(), user.c_str(),
                             pass.c_str(), 0) == 0) {
    PostCmd("{ \"cmd\": \"cmd_get_list\" }");
  }
}

void CkavrelCtrl::CliCloudSync() {
  KAVREL_TRACED(CliCloudSync);
  // The cloud calls below are whole HTTP exchanges: the page stays served while they last.
  const CloudCalls& cloud = *m_cloud.load();
  brixa_handle client = m_hClient.load();
  call_blocking(UiWaitStyle(), [&] { cloud.get_list_sn(client); });
}

void CkavrelCtrl::CliCloudGetDeviceListSp() {
  KAVREL_TRACED(CliCloudGetDeviceListSp);
  const CloudCalls& cloud = *m_cloud.load();
  brixa_handle client = m_hClient.load();
  call_blocking(UiWaitStyle(), [&] { cloud.get_device_list(client); });
}

void CkavrelCtrl::CliCloudGetCamListSp() {
  KAVREL_TRACED(CliCloudGetCamListSp);
  const CloudCalls& cloud = *m_cloud.load();
  brixa_handle client = m_hClient.load();
  call_blocking(UiWaitStyle(), [&] { cloud.get_cam_list(client); });
}

// ---- snapshots, audio, PTZ (live viewing is in kavrel/media/live_view.cpp) ----

std::u16string CkavrelCtrl::CliCapturePicToInternetCache(int32_t lPnlIndex) {
  KAVREL_TRACED(CliCapturePicToInternetCache);
  KAVREL_ARG(lPnlIndex);
  return {};
}

int32_t CkavrelCtrl::CLiPTZCtrl(int32_t lDevHandle, int32_t nChannel, int32_t nStream, int32_t nControlType,
                                int32_t nSpeed) {
  KAVREL_TRACED(CLiPTZCtrl);
  KAVREL_ARG(lDevHandle);
  KAVREL_ARG(nChannel);
  KAVREL_ARG(nStream);
  KAVREL_ARG(nControlType);
  KAVREL_ARG(nSpeed);
  return 0;
}

int32_t CkavrelCtrl::CliSetVolume(int32_t lPnlIndex, int32_t nVolume) {
  KAVREL_TRACED(CliSetVolume);
  KAVREL_ARG(lPnlIndex);
  KAVREL_ARG(nVolume);
  return -1;  // not built yet: never report success for work that was not done
}

int32_t CkavrelCtrl::CliGetVolume(int32_t lPnlIndex) {
  KAVREL_TRACED(CliGetVolume);
  KAVREL_ARG(lPnlIndex);
  return 0;
}

int32_t CkavrelCtrl::CliSetAudioState(int32_t lPnlIndex, int32_t lState) {
  KAVREL_TRACED(CliSetAudioState);
  KAVREL_ARG(lPnlIndex);
  KAVREL_ARG(lState);
  return -1;  // not built yet: never report success for work that was not done
}

int32_t CkavrelCtrl::CliGetAudioState(int32_t lPnlIndex) {
  KAVREL_TRACED(CliGetAudioState);
  KAVREL_ARG(lPnlIndex);
  return -1;  // not built yet: never report success for work that was not done
}

int32_t CkavrelCtrl::CliStartAudio(int32_t lPnlIndex) {
  KAVREL_TRACED(CliStartAudio);
  KAVREL_ARG(lPnlIndex);
  return 0;
}

void CkavrelCtrl::CliStopAudio(int32_t lPnlIndex) {
  KAVREL_TRACED(CliStopAudio);
  KAVREL_ARG(lPnlIndex);
}

#define KAVREL_PTZ_MOVE(method)                                 \
  void CkavrelCtrl::method(int32_t lPnlIndex, int32_t lSpeed) { \
    KAVREL_TRACED(method);                                      \
    KAVREL_ARG(lPnlIndex);                                      \
    KAVREL_ARG(lSpeed);                                         \
  }
KAVREL_PTZ_MOVE(CliPTZZoomIn)
KAVREL_PTZ_MOVE(CliPTZZoomOut)
KAVREL_PTZ_MOVE(CliPTZMoveUp)
KAVREL_PTZ_MOVE(CliPTZMoveDown)
KAVREL_PTZ_MOVE(CliPTZMoveLeft)
KAVREL_PTZ_MOVE(CliPTZMoveRight)
#undef KAVREL_PTZ_MOVE

#define KAVREL_PTZ_PRESET(method)                                \
  void CkavrelCtrl::method(int32_t lPnlIndex, int32_t lPreset) { \
    KAVREL_TRACED(method);                                       \
    KAVREL_ARG(lPnlIndex);                                       \
    KAVREL_ARG(lPreset);                                         \
  }
KAVREL_PTZ_PRESET(CliPTZRecallPreset)
KAVREL_PTZ_PRESET(CliPTZSetPreset)
KAVREL_PTZ_PRESET(CliPTZDeletePreset)
#undef KAVREL_PTZ_PRESET

void CkavrelCtrl::CliPTZStop(int32_t lPnlIndex) {
  KAVREL_TRACED(CliPTZStop);
  KAVREL_ARG(lPnlIndex);
}

void CkavrelCtrl::CliPTZZoomStop(int32_t lPnlIndex) {
  KAVREL_TRACED(CliPTZZoomStop);
  KAVREL_ARG(lPnlIndex);
}

// ---- recordings, playback, export (alerts are in kavrel/media/alerts.cpp) ----

void CkavrelCtrl::CliQueryRecordDev(const char16_t* camID, const char16_t* szStartTime, const char16_t* szEndTime) {
  KAVREL_TRACED(CliQueryRecordDev);
  KAVREL_ARG(camID);
  KAVREL_ARG(szStartTime);
  KAVREL_ARG(szEndTime);
}

void CkavrelCtrl::CliQueryRecordStatusDev(const char16_t* camID, const char16_t* szMonth) {
  KAVREL_TRACED(CliQueryRecordStatusDev);
  KAVREL_ARG(camID);
  KAVREL_ARG(szMonth);
}

void CkavrelCtrl::CliStartPlaybackDev(const char16_t* camID, const char16_t* szStartTime, int32_t lPnlIndex) {
  KAVREL_TRACED(CliStartPlaybackDev);
  KAVREL_ARG(camID);
  KAVREL_ARG(szStartTime);
  KAVREL_ARG(lPnlIndex);
}

void CkavrelCtrl::CliStopPlaybackDev(int32_t lPnlIndex) {
  KAVREL_TRACED(CliStopPlaybackDev);
  KAVREL_ARG(lPnlIndex);
}

void CkavrelCtrl::CliControlPlaybackDev(int32_t lPnlIndex, int32_t lCtrlCmd) {
  KAVREL_TRACED(CliControlPlaybackDev);
  KAVREL_ARG(lPnlIndex);
  KAVREL_ARG(lCtrlCmd);
}

int32_t CkavrelCtrl::CliStartBackup(const char16_t* camID, const char16_t* szStartTime, int32_t lBackupLenSecs) {
  KAVREL_TRACED(CliStartBackup);
  KAVREL_ARG(camID);
  KAVREL_ARG(szStartTime);
  KAVREL_ARG(lBackupLenSecs);
  return -1;  // not built yet: never report success for work that was not done
}

int32_t CkavrelCtrl::CliStopBackup() {
  KAVREL_TRACED(CliStopBackup);
  return -1;  // not built yet: never report success for work that was not done
}

// ---- layouts ----

}  // namespace kavrel
