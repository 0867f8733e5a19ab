// Playback of a camera's recordings in the control's one playback pane: start at a time, stop,
// pause, speeds and 10-second skips.
//
// Threads: the script methods and StopPlaybackDev run on the user-interface thread. The play
// worker (the camera's start thread, shared with live viewing) logs in and starts the playback;
// the skip workers run in the same slot. The workers reach the pane only through posted
// messages: 2226 to its panel, kMsgPlaybackChanged to the control window with the title and
// size left under m_playbackLock. The playback handle is an atomic; whoever takes it to 0 with
// an exchange is the one that stops that playback.
#include <cstdio>
#include <cstring>
#include <string>

#include "kavrel/core/callback_names.h"
#include "kavrel/core/current_control.h"
#include "kavrel/core/traced.h"
#include "kavrel/core/ui_wait.h"
#include "kavrel/media/recording_calls.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "kavrel/ui/picture_modes.h"
#include "kavrel/ui/ui_messages.h"
#include "kavrel/ui/video_wnd.h"
#include "platform/window/host_site.h"
#include "trace/trace.h"

namespace kavrel {
namespace {

constexpr const char* kExportRunningText = "Aguarde a conclusão da exportação de vídeo para poder iniciar uma reprodução";
constexpr const char* kExportRunningCaption = "Quenlar Cloud";
// The stream whose resolution the playback pane is sized for.
constexpr int32_t kPlaybackStream = 0;
constexpr size_t kPlaybackDevIdChars = 119;

struct CameraIdField {
  explicit CameraIdField(const std::string& id) { std::memcpy(bytes, id.data(), std::min(id.size(), sizeof bytes - 1)); }
  char bytes[kIdField] = {};
};

}  // namespace

#define KAVREL_TRACED(method) TracedMethod traced("CkavrelCtrl::" #method)

// ---- script methods ----

void CkavrelCtrl::CliStartPlaybackDev(const char16_t* camID, const char16_t* szStartTime, int32_t lPnlIndex) {
  KAVREL_TRACED(CliStartPlaybackDev);
  trace::wide_value("camID", camID);
  trace::wide_value("szStartTime", szStartTime);
  trace::value("lPnlIndex", lPnlIndex);
  if (camID == nullptr || *camID == 0) {
    trace::step("Invalid camID");
    return;
  }
  std::string start_time = to_narrow(szStartTime);
  // A time that does not fit its field would reach the library as some other time.
  if (start_time.empty() || start_time.size() >= kTimeField) {
    trace::step("Invalid szStartTime");
    return;
  }
  if (isBackupRunning()) {
    trace::step("Backup is running");
    platform::host_site()->message_box(m_hWnd.load(), kExportRunningText, kExportRunningCaption, platform::MB_OK);
    return;
  }
  std::shared_ptr<CamInfo> camera = m_cameras.find(to_narrow(camID));
  if (camera == nullptr) {
    trace::error("CkavrelCtrl::CliStartPlaybackDev", 4536, "No camera instance");
    return;
  }
  camera->camPane.store(lPnlIndex);
  camera->set_text(&CamInfo::playbackStartTime, start_time);
  camera->camStartMode.store(2);
  if (!m_bInitialised.load()) return;
  if (m_playbackHandle.load() > 0) {
    trace::error("CkavrelCtrl::CliStartPlaybackDev", 4548, "Existing play handle (4548)");
    return;
  }
  SetCurrentCamera(camera);
  PostToPlaybackPane(ui::kMsgConnecting, ui::kIndicatorOn);
  StartPlaybackThread(camera);
}

void CkavrelCtrl::CliStopPlaybackDev(int32_t lPnlIndex) {
  KAVREL_TRACED(CliStopPlaybackDev);
  trace::value("lPnlIndex", lPnlIndex);
  if (isBackupRunning()) {
    trace::step("Backup is running (4807)");
    return;
  }
  if (std::shared_ptr<CamInfo> camera = current_camera()) {
    StopPlayThread(camera);
    camera->camStartMode.store(0);
    SetCurrentCamera(nullptr);
  }
  StopPlaybackDev();
}

void CkavrelCtrl::CliControlPlaybackDev(int32_t lPnlIndex, int32_t lCtrlCmd) {
  KAVREL_TRACED(CliControlPlaybackDev);
  trace::value("lPnlIndex", lPnlIndex);
  trace::value("lCtrlCmd", lCtrlCmd);
  std::shared_ptr<CamInfo> camera = current_camera();
  if (camera == nullptr) return;
  std::shared_ptr<DevInfo> device = m_devices.find(camera->text(&CamInfo::devid));
  if (device == nullptr || device->logincount.load() <= 0) return;
  if (lCtrlCmd == BRIXA_PLAYBACK_SKIP_BACK || lCtrlCmd == BRIXA_PLAYBACK_SKIP_FORWARD) {
    PostToPlaybackPane(ui::kMsgConnecting, ui::kIndicatorOn);
    if (lCtrlCmd == BRIXA_PLAYBACK_SKIP_FORWARD) {
      StartPlaySkipForwardThread(camera);
    } else {
      StartPlaySkipBackwardThread(camera);
    }
    return;
  }
  const RecordingCalls& calls = recording_calls();
  int32_t handle = m_playbackHandle.load();
  call_blocking(UiWaitStyle(), [&] { calls.control_playback(handle, static_cast<uint32_t>(lCtrlCmd)); });
}

// ---- the play worker and the skips ----

void CkavrelCtrl::StartPlaybackThread(const std::shared_ptr<CamInfo>& camera) {
  camera->startWorker.start(
      [self = this, camera](TaskWorker::Context& context) {
        TracedMethod body("StartPlayThread");
        CurrentControl::use(self, [&](CkavrelCtrl& control) { control.RunPlaybackThread(camera, context); });
      },
      UiWaitStyle());
}

void CkavrelCtrl::RunPlaybackThread(const std::shared_ptr<CamInfo>& camera, TaskWorker::Context& context) {
  std::string dev_id = camera->text(&CamInfo::devid);
  std::shared_ptr<DevInfo> device = m_devices.find(dev_id);
  if (device == nullptr) {
    trace::error("CkavrelCtrl::StartPlayThread", 4404, "Device info not found (4404)");
    return;
  }
  device->abortLogin.store(false);
  int login = LoginDev(device);
  if (login == 0) {
    // Stopped while logging in: the playback is no longer wanted.
    if (!context.running() || camera->camStartMode.load() != 2) return;
    int32_t handle = StartPlaybackDev(dev_id, camera->chlid.load(), camera->text(&CamInfo::playbackStartTime),
                                      camera->camPane.load());
    if (handle > 0 && !context.running() && m_playbackHandle.compare_exchange_strong(handle, 0)) {
      // Stopped while the playback was starting, after the stop looked for it: it goes again.
      recording_calls().stop_playback(handle);
    }
    PostToPlaybackPane(ui::kMsgConnecting, 0);
  } else if (login == -11) {
    OnLoginRefused(device);
  } else {
    CameraIdField info(camera->id);
    Callback(0, 0, kEventLiveLoginFailed, camera->camPane.load(), login, info.bytes, static_cast<int32_t>(kIdField));
  }
}

void CkavrelCtrl::StartPlaySkipForwardThread(const std::shared_ptr<CamInfo>& camera) {
  TracedMethod traced("CkavrelCtrl::StartPlaySkipForwardThread");
  StartPlaySkipThread(camera, true);
}

void CkavrelCtrl::StartPlaySkipBackwardThread(const std::shared_ptr<CamInfo>& camera) {
  TracedMethod traced("CkavrelCtrl::StartPlaySkipBackwardThread");
  StartPlaySkipThread(camera, false);
}

void CkavrelCtrl::StartPlaySkipThread(const std::shared_ptr<CamInfo>& camera, bool forward) {
  // Starting the slot stops the camera's play worker first.
  camera->startWorker.start(
      [self = this, forward](TaskWorker::Context&) {
        TracedMethod body(forward ? "start_skip_forward_address" : "start_skip_backward_address");
        CurrentControl::use(self, [&](CkavrelCtrl& control) {
          int32_t handle = recording_calls().control_playback(
              control.m_playbackHandle.load(), forward ? BRIXA_PLAYBACK_SKIP_FORWARD : BRIXA_PLAYBACK_SKIP_BACK);
          if (handle > 0) control.m_playbackHandle.store(handle);
          control.PostToPlaybackPane(ui::kMsgConnecting, 0);
        });
      },
      UiWaitStyle());
}

// ---- starting and stopping ----

int32_t CkavrelCtrl::StartPlaybackDev(const std::string& szDevID, int32_t nChannel, const std::string& szStartTime,
                                      int32_t lPnlIndex) {
  KAVREL_TRACED(StartPlaybackDev);
  trace::value("szDevID", szDevID.c_str());
  trace::value("nChannel", nChannel);
  trace::value("szStartTime", szStartTime.c_str());
  trace::value("lPnlIndex", lPnlIndex);
  if (!m_bInitialised.load() || m_playbackHandle.load() > 0) return -1;
  brixa_handle client = m_hClient.load();

  PlaybackPending pending;
  if (std::shared_ptr<DevInfo> device = m_devices.find(szDevID)) {
    std::string name = device->text(&DevInfo::name);
    std::vector<char> title(name.size() + 16);
    std::snprintf(title.data(), title.size(), "%s : %d", name.c_str(), nChannel + 1);
    pending.title_set = true;
    pending.title = title.data();
  }
  int32_t width = 0;
  int32_t height = 0;
  if (std::optional<ChannelResolution> cached = m_channelResolutions.Find(szDevID, nChannel, kPlaybackStream)) {
    trace::step("using cached video resolution (4768)");
    width = cached->width;
    height = cached->height;
  } else {
    trace::step("get video resolution (4774)");
    brixa_get_channel_resolution(client, szDevID.c_str(), nChannel, kPlaybackStream, &width, &height);
    if (width > 0 && height > 0) {
      AddChannelResolution(szDevID, nChannel, kPlaybackStream, width, height);
      SaveChannelResolutionList();
    }
  }
  if (width > 0 && height > 0) {
    pending.size_set = true;
    pending.width = width;
    pending.height = height;
  }
  if (pending.title_set || pending.size_set) {
    {
      std::lock_guard<std::mutex> hold(m_playbackLock);
      m_playbackPending = pending;
    }
    if (platform::HWND window = m_hWnd.load()) platform::post_message(window, ui::kMsgPlaybackChanged, 0, 0);
  }

  int32_t result = recording_calls().start_playback(client, m_playbackRenderWindow.load(), szDevID.c_str(), nChannel,
                                                    szStartTime.c_str());
  if (result > 0) {
    {
      std::lock_guard<std::mutex> hold(m_playbackLock);
      m_playbackDevId = szDevID.substr(0, kPlaybackDevIdChars);
    }
    m_playbackChannel.store(nChannel);
    m_playbackHandle.store(result);
  }
  return result;
}

void CkavrelCtrl::OnPlaybackChanged() {
  PlaybackPending pending;
  {
    std::lock_guard<std::mutex> hold(m_playbackLock);
    pending = std::move(m_playbackPending);
    m_playbackPending = PlaybackPending{};
  }
  if (m_playbackWnd == nullptr) return;
  if (pending.size_set) m_playbackWnd->OptimizeView(pending.width, pending.height);
  if (pending.title_set) m_playbackWnd->SetVideoInfo(to_wide(pending.title));
}

void CkavrelCtrl::StopPlaybackDev() {
  KAVREL_TRACED(StopPlaybackDev);
  PostToPlaybackPane(ui::kMsgConnecting, 0);
  int32_t handle = m_playbackHandle.exchange(0);
  if (handle <= 0) return;
  const RecordingCalls& calls = recording_calls();
  call_blocking(UiWaitStyle(), [&] { calls.stop_playback(handle); });
  m_playbackChannel.store(0);
  {
    std::lock_guard<std::mutex> hold(m_playbackLock);
    m_playbackDevId.clear();
  }
  if (m_playbackWnd != nullptr) {
    platform::HWND render = m_playbackWnd->render_window();
    const ui::PictureModeCalls& modes = ui::picture_mode_calls();
    modes.set_wdr_mode(render, 0);
    modes.set_history_mode(render, 0);
    modes.set_freeze_mode(render, 0, 1);
    ui::CVideoTool& tool = m_playbackWnd->panel().tool();
    tool.SetBlc(false);
    tool.SetHistory(false);
    tool.SetFreeze(false);
    platform::invalidate_rect(render, nullptr);
  }
}

}  // namespace kavrel
