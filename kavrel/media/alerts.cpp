// Alerts, alarm outputs and the LAN device search as the control drives them.
//
// - Alert listening: CliStartListenAlertDev hands the login and the library call to the camera's
//   listen worker (one pass per start); CliStopListenAlertDev stops the channel's listening on
//   the calling thread without logging in. Which channels listen is the library's state; the
//   alarms come back as library callback 258 and reach the page as ALAERT_RES.
// - Alarm outputs: the pane tool bar's alarm-output button reads output 0 of the device behind
//   the selected live pane, switches it the other way and shows the button as the device then
//   reports it.
// - Device search: a new search always cancels the previous one; its report comes back as
//   library callback 1 and reaches the page as event 0x10000017.
//
// Threads: the script methods and the button run on the user-interface thread; the listen
// worker reaches the control only as the current control.
#include <exception>
#include <string>

#include "kavrel/core/current_control.h"
#include "kavrel/core/traced.h"
#include "kavrel/core/ui_wait.h"
#include "kavrel/resources/module_resources.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "kavrel/ui/video_wnd_manager.h"
#include "platform/window/host_site.h"
#include "trace/trace.h"

namespace kavrel {
namespace {

// The sound resource played when an alarm output is switched on.
constexpr uint32_t kAlarmOnSound = 303;
constexpr std::string_view kWaveType = "WAVE";

// Asynchronous, through the host site; a module without the sound plays nothing.
void play_alarm_on_sound() {
  resources::ResourceBytes wave = resources::module_resources().Find(kAlarmOnSound, kWaveType);
  if (!wave) return;
  platform::host_site()->play_sound(std::to_string(kAlarmOnSound), wave.data, wave.size);
}

}  // namespace

#define KAVREL_TRACED(method) TracedMethod traced("CkavrelCtrl::" #method)

// ---- alert listening ----

void CkavrelCtrl::CliStartListenAlertDev(const char16_t* camID, int32_t lAlertType) {
  KAVREL_TRACED(CliStartListenAlertDev);
  trace::wide_value("camID", camID);
  trace::value("lAlertType", lAlertType);
  try {
    if (camID == nullptr || *camID == 0) return;
    std::shared_ptr<CamInfo> camera = m_cameras.find(to_narrow(camID));
    if (camera == nullptr) {
      trace::error("CkavrelCtrl::CliStartListenAlertDev", 5221, "No camera instance");
      return;
    }
    camera->lAlertType.store(lAlertType);
    StartListenAlertThread(camera);
  } catch (const std::exception& e) {
    trace::exception("CkavrelCtrl::CliStartListenAlertDev", e.what());
  }
}

void CkavrelCtrl::CliStopListenAlertDev(const char16_t* camID) {
  KAVREL_TRACED(CliStopListenAlertDev);
  trace::wide_value("camID", camID);
  try {
    if (camID == nullptr || *camID == 0) return;
    std::shared_ptr<CamInfo> camera = m_cameras.find(to_narrow(camID));
    if (camera == nullptr) {
      trace::error("CkavrelCtrl::CliStopListenAlertDev", 5300, "No camera instance");
      return;
    }
    std::shared_ptr<DevInfo> device = m_devices.find(camera->text(&CamInfo::devid));
    // Without a login there is no session whose listening could be stopped, and none is made.
    if (device == nullptr || device->logincount.load() <= 0) return;
    brixa_handle client = m_hClient.load();
    int32_t channel = camera->chlid.load();
    call_blocking(UiWaitStyle(), [&] { return brixa_stop_listen_alert(client, device->id.c_str(), channel); });
  } catch (const std::exception& e) {
    trace::exception("CkavrelCtrl::CliStopListenAlertDev", e.what());
  }
}

void CkavrelCtrl::StartListenAlertThread(const std::shared_ptr<CamInfo>& camera) {
  KAVREL_TRACED(StartListenAlertThread);
  camera->listenWorker.start(
      [self = this, camera](TaskWorker::Context& context) {
        TracedMethod body("start_listen_address");
        CurrentControl::use(self, [&](CkavrelCtrl& control) { control.RunListenAlertThread(camera, context); });
      },
      UiWaitStyle());
}

void CkavrelCtrl::StopListenAlertThread(const std::shared_ptr<CamInfo>& camera) {
  KAVREL_TRACED(StopListenAlertThread);
  if (camera != nullptr) camera->listenWorker.stop(kThreadStopTimeoutMs, UiWaitStyle());
}

void CkavrelCtrl::RunListenAlertThread(const std::shared_ptr<CamInfo>& camera, TaskWorker::Context& context) {
  std::shared_ptr<DevInfo> device = m_devices.find(camera->text(&CamInfo::devid));
  if (device == nullptr) return;
  device->abortLogin.store(false);
  int login = LoginDev(device);
  if (login == 0) {
    // Stopped while logging in (CliUnInit): the control is going away, nothing more to start.
    if (!context.running()) return;
    brixa_start_listen_alert(m_hClient.load(), camera->text(&CamInfo::devid).c_str(), camera->chlid.load());
  } else if (login == -11) {
    if (device->status_sp.load() == 1) {
      device->status_sp.store(2);
      UpdateCamInfoToServer();
    }
  }
}

void CkavrelCtrl::CliQueryAlarm(const char16_t* devid, const char16_t* timeBegin, const char16_t* timeEnd) {
  KAVREL_TRACED(CliQueryAlarm);
  trace::wide_value("devid", devid);
  trace::wide_value("timeBegin", timeBegin);
  trace::wide_value("timeEnd", timeEnd);
}

// ---- alarm outputs ----

int32_t CkavrelCtrl::CallPaneAlarmOutput(int32_t lPnlIndex, const char* method, void (*before)(),
                                         AlarmOutputCall output_call) {
  try {
    if (before != nullptr) before();
    if (lPnlIndex < 0 || lPnlIndex > 15) return -1;
    const LiveSlot& slot = live_slot(lPnlIndex);
    if (slot.slotCamera == nullptr) return -3;
    brixa_handle client = m_hClient.load();
    std::string dev_id = slot.dev_id();
    return call_blocking(UiWaitStyle(), [&] { return output_call(client, dev_id.c_str(), 0); });
  } catch (const std::exception& e) {
    trace::exception(method, e.what());
    return -1;
  }
}

int32_t CkavrelCtrl::CliGetAlarmDev(int32_t lPnlIndex) {
  KAVREL_TRACED(CliGetAlarmDev);
  trace::value("lPnlIndex", lPnlIndex);
  return CallPaneAlarmOutput(lPnlIndex, "CkavrelCtrl::CliGetAlarmDev", nullptr, brixa_get_output);
}

int32_t CkavrelCtrl::CliSetAlarmOnDev(int32_t lPnlIndex) {
  KAVREL_TRACED(CliSetAlarmOnDev);
  trace::value("lPnlIndex", lPnlIndex);
  // The sound plays even for a pane that is refused. A closed output contact is an output that is on.
  return CallPaneAlarmOutput(lPnlIndex, "CkavrelCtrl::CliSetAlarmOnDev", play_alarm_on_sound, brixa_close_output);
}

int32_t CkavrelCtrl::CliSetAlarmOffDev(int32_t lPnlIndex) {
  KAVREL_TRACED(CliSetAlarmOffDev);
  trace::value("lPnlIndex", lPnlIndex);
  return CallPaneAlarmOutput(lPnlIndex, "CkavrelCtrl::CliSetAlarmOffDev", nullptr, brixa_open_output);
}

void CkavrelCtrl::OnAlarmOutputButton(int32_t lPnlIndex) {
  if (m_lPage != 0 || lPnlIndex < 0 || lPnlIndex > 15) return;
  if (!live_slot(lPnlIndex).slotStreaming.load()) return;
  int32_t state = CliGetAlarmDev(lPnlIndex);
  if (state == 0) {
    CliSetAlarmOnDev(lPnlIndex);
  } else if (state == 1) {
    CliSetAlarmOffDev(lPnlIndex);
  } else {
    return;
  }
  bool on = CliGetAlarmDev(lPnlIndex) == 1;
  if (m_videoWall == nullptr) return;
  if (ui::CVideoWnd* pane = m_videoWall->pane(lPnlIndex)) pane->panel().tool().SetAlarmOn(on);
}

// ---- device search ----

void CkavrelCtrl::CliDeviceSearch() {
  KAVREL_TRACED(CliDeviceSearch);
  // Without CliInit there is no client to report to, and no CliUnInit would end the search.
  if (!m_bInitialised.load()) {
    trace::error("CkavrelCtrl::CliDeviceSearch", 184, "AX control not initialized (184)");
    return;
  }
  // The library keeps one search thread recorded until it is stopped: the previous search is
  // stopped first (cancelled without a report if it is still collecting).
  call_blocking(UiWaitStyle(), [] { return brixa_stop_search_devices(); });
  brixa_start_search_devices(m_hClient.load());
}

}  // namespace kavrel
