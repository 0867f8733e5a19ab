// Live viewing: starting and stopping a camera's live stream in a pane of the wall, the start
// thread that logs in to the device and starts the stream, the resume and close of all panes,
// and the channel-resolution cache's place in the control.
//
// Threads: the script methods, StopPlayDev, the resume pass and the close of all panes run on
// the user-interface thread. A camera's start thread (one per camera, reaching the control as
// the current control) runs the device login and StartPlayDev; it touches panes only through
// posted messages (2226 to the panel, kMsgLiveSlotChanged to the control window) and through the
// pane's live slot (see LiveSlot).
#include <algorithm>
#include <chrono>
#include <cstring>

#include "kavrel/core/callback_names.h"
#include "kavrel/core/current_control.h"
#include "kavrel/core/traced.h"
#include "kavrel/core/ui_wait.h"
#include "kavrel/media/live_title.h"
#include "kavrel/media/pane_picture.h"
#include "kavrel/persist/config_path.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "kavrel/ui/picture_modes.h"
#include "kavrel/ui/ui_messages.h"
#include "kavrel/ui/video_wnd_manager.h"
#include "trace/trace.h"

namespace kavrel {
namespace {

constexpr int32_t kPaneSlots = 16;
// The highest stream identifier the library accepts (3 to 8 play as the main stream).
constexpr int32_t kMaxStreamId = 8;
constexpr auto kResumeDelay = std::chrono::milliseconds(500);
constexpr auto kStreamEndWait = std::chrono::milliseconds(kThreadStopTimeoutMs);
constexpr const char* kResolutionFile = "ChanRes.dat";

bool valid_pane(int32_t pane) { return pane >= 0 && pane < kPaneSlots; }

// The camera identifier as an event carries it: a zero-filled field of kIdField bytes.
struct CameraInfoField {
  explicit CameraInfoField(const std::string& id) {
    std::memcpy(bytes, id.data(), std::min(id.size(), sizeof bytes - 1));
  }
  char bytes[kIdField] = {};
};

}  // namespace

#define KAVREL_TRACED(method) TracedMethod traced("CkavrelCtrl::" #method)

// ---- state ----

const LiveSlot& CkavrelCtrl::live_slot(int32_t pane) const {
  return valid_pane(pane) ? m_liveSlots[static_cast<size_t>(pane)] : m_idleSlot;
}

std::string CkavrelCtrl::pane_camera(int32_t pane) const {
  return valid_pane(pane) ? m_paneCamId[static_cast<size_t>(pane)] : std::string();
}

int32_t CkavrelCtrl::pane_stream(int32_t pane) const {
  return valid_pane(pane) ? m_paneStreamId[static_cast<size_t>(pane)] : -1;
}

std::string CkavrelCtrl::GetConfigFileName(const std::string& file) const { return config_file_name(file); }

void CkavrelCtrl::PostConnecting(int32_t pane, bool on) {
  if (!valid_pane(pane)) return;
  platform::HWND panel = m_paneRenderWindows[static_cast<size_t>(pane)].load();
  if (panel != nullptr) platform::post_message(panel, ui::kMsgConnecting, on ? ui::kIndicatorOn : 0, 0);
}

// ---- channel resolutions ----

void CkavrelCtrl::AddChannelResolution(const std::string& dev_id, int32_t channel, int32_t stream, int32_t width,
                                       int32_t height) {
  m_channelResolutions.Add(dev_id, channel, stream, width, height);
}

void CkavrelCtrl::SaveChannelResolutionList() {
  if (!m_channelResolutions.Save(GetConfigFileName(kResolutionFile))) {
    trace::error("CkavrelCtrl::SaveChannelResolutionList", 402, "Cannot write file of channel resolutions (402)");
  }
}

void CkavrelCtrl::LoadChannelResolutionList() {
  if (!m_channelResolutions.Load(GetConfigFileName(kResolutionFile))) {
    trace::error("CkavrelCtrl::LoadChannelResolutionList", 425, "Cannot open file of channel resolutions (425)");
  }
}

// ---- script methods ----

int32_t CkavrelCtrl::CliStartPlayDev(const char16_t* camID, int32_t lStreamID, int32_t lPnlIndex) {
  KAVREL_TRACED(CliStartPlayDev);
  trace::wide_value("camID", camID);
  trace::value("lStreamID", lStreamID);
  trace::value("lPnlIndex", lPnlIndex);
  auto refuse = [](int line, const char* text) {
    trace::error("CkavrelCtrl::CliStartPlayDev", line, text);
    return -1;
  };
  // A negative stream or pane would reach the library or the slots as some other one.
  if (lStreamID > kMaxStreamId || lStreamID < 0) return refuse(4352, "Invalid Stream ID");
  if (camID == nullptr || *camID == 0) return refuse(4357, "Invalid Camera ID");
  if (!valid_pane(lPnlIndex)) return refuse(4362, "Invalid window index");
  std::string cam_id = to_narrow(camID);
  std::shared_ptr<CamInfo> camera = m_cameras.find(cam_id);
  if (camera == nullptr) return refuse(4369, "No camera instance");
  LiveSlot& slot = m_liveSlots[static_cast<size_t>(lPnlIndex)];
  if (slot.slotConnecting.load()) return refuse(4375, "Already connecting to camera");
  std::string dev_id = camera->text(&CamInfo::devid);
  if (std::shared_ptr<DevInfo> device = m_devices.find(dev_id); device != nullptr && !device->online.load()) {
    return refuse(4382, "Cannot open live stream from disconnected device");
  }
  // Without CliInit there is no library client to start anything with: the pane stays free
  // rather than being marked as connecting with nothing ever to clear the mark.
  if (!m_bInitialised.load() || m_videoWall == nullptr) return refuse(4388, "AX control not initialized (4388)");
  slot.slotConnecting.store(true);

  if (!m_bulkRestart.load() && m_videoWall->count() != 1) {
    int next = m_videoWall->selected_index() + 1;
    if (next >= m_videoWall->count()) next = 0;
    m_videoWall->SelectPane(m_videoWall->pane(next), ui::kCmdSelectionChanged);
  }

  if (slot.slotStreaming.load()) {
    trace::step("Channel is already streaming (4399)");
    CliStopPlayDev(lPnlIndex);
    wait_until(UiWaitStyle(), [&] { return !slot.slotStreaming.load(); }, kStreamEndWait,
               std::chrono::milliseconds(1));
  }

  // Marked after the old stream's stop: when the pane streamed this very camera, that stop
  // clears the camera's start mode, and the new start would find itself unwanted.
  camera->camPane.store(lPnlIndex);
  camera->camStreamId.store(lStreamID);
  camera->camStartMode.store(1);
  slot.slotCamera = camera;
  SetLiveSlotInUse(lPnlIndex, true);
  trace::step("starting live streaming thread (4236)");
  trace::step("loading picture of current frame (4436)");
  if (ui::CVideoWnd* pane = m_videoWall->pane(lPnlIndex)) {
    pane->panel().flash().SetPicture(pane_picture_file(dev_id, camera->chlid.load()));
  }
  PostConnecting(lPnlIndex, true);

  StartPlayThread(camera, lPnlIndex);
  m_paneCamId[static_cast<size_t>(lPnlIndex)] = cam_id;
  m_paneStreamId[static_cast<size_t>(lPnlIndex)] = lStreamID;
  SaveSetup();
  return 0;
}

void CkavrelCtrl::CliStopPlayDev(int32_t lPnlIndex) {
  KAVREL_TRACED(CliStopPlayDev);
  trace::value("lPnlIndex", lPnlIndex);
  if (!valid_pane(lPnlIndex)) {
    trace::error("CkavrelCtrl::CliStopPlayDev", 4160, "Invalid window index");
    return;
  }
  LiveSlot& slot = m_liveSlots[static_cast<size_t>(lPnlIndex)];
  ui::CVideoWnd* pane = m_videoWall != nullptr ? m_videoWall->pane(lPnlIndex) : nullptr;
  // A local recording ends with its stream; its file stays in the cache folder.
  StopLocalRecording(lPnlIndex);
  if (std::shared_ptr<CamInfo> camera = slot.slotCamera) {
    // Only a pane that shows its stream has a frame worth keeping; a pane that never started
    // would replace the last good picture with an empty one.
    if (slot.slotStreaming.load() && pane != nullptr) {
      trace::step("saving picture of current frame (3929)");
      save_window_picture(pane->render_window(),
                          pane_picture_file(camera->text(&CamInfo::devid), camera->chlid.load()));
    }
    if (pane != nullptr) pane->ResetPictureModes(1);
    trace::step("starting thread to close connection (4176)");
    StopPlayThread(camera);
    camera->camStartMode.store(0);
    slot.slotCamera = nullptr;
    SetLiveSlotInUse(lPnlIndex, false);
  }
  StopPlayDev(lPnlIndex);
  slot.slotStreaming.store(false);
  SaveSetup();
}

int32_t CkavrelCtrl::CliPlayerSetOsd(int32_t lPnlIndex, const char16_t* bstrOsd, int32_t nPos, int32_t x, int32_t y) {
  KAVREL_TRACED(CliPlayerSetOsd);
  trace::value("lPnlIndex", lPnlIndex);
  trace::wide_value("bstrOsd", bstrOsd);
  trace::value("nPos", nPos);
  trace::value("x", x);
  trace::value("y", y);
  return lPnlIndex > 15 ? -1 : 0;
}

// ---- start thread ----

void CkavrelCtrl::StartPlayThread(const std::shared_ptr<CamInfo>& camera, int32_t pane) {
  camera->startWorker.start(
      [self = this, camera, pane](TaskWorker::Context& context) {
        TracedMethod body("StartPlayThread");
        CurrentControl::use(self, [&](CkavrelCtrl& control) { control.RunStartPlayThread(camera, pane, context); });
      },
      UiWaitStyle());
}

void CkavrelCtrl::RunStartPlayThread(const std::shared_ptr<CamInfo>& camera, int32_t pane,
                                     TaskWorker::Context& context) {
  LiveSlot& slot = m_liveSlots[static_cast<size_t>(pane)];
  // Whatever happens below, the pane takes starts again once this thread is done.
  struct EndConnecting {
    LiveSlot& slot;
    ~EndConnecting() { slot.slotConnecting.store(false); }
  } end_connecting{slot};

  std::string dev_id = camera->text(&CamInfo::devid);
  std::shared_ptr<DevInfo> device = m_devices.find(dev_id);
  if (device == nullptr) {
    trace::error("CkavrelCtrl::StartPlayThread", 4404, "Device info not found (4404)");
    return;
  }
  device->abortLogin.store(false);
  int login = LoginDev(device);
  CameraInfoField info(camera->id);
  if (login == 0) {
    // Stopped while logging in: the pane no longer wants this stream.
    if (!context.running() || camera->camStartMode.load() != 1) {
      LogoutDev(device);
      return;
    }
    int result = StartPlayDev(dev_id, camera->chlid.load(), camera->camStreamId.load(), pane);
    if (result == 0 && !context.running() && slot.slotStreaming.exchange(false)) {
      // The pane was stopped while the stream was starting and did not see it: it goes again.
      brixa_stop_realplay(m_hClient.load(), dev_id.c_str(), slot.slotChannel.load());
      LogoutDev(device);
      result = -1;
    } else {
      Callback(0, 0, kEventLiveStarted, pane, result, info.bytes, static_cast<int32_t>(kIdField));
      if (result != 0) LogoutDev(device);
    }
    PostConnecting(pane, false);
  } else if (login == -11) {
    if (device->status_sp.load() == 1) {
      device->status_sp.store(2);
      UpdateCamInfoToServer();
    }
  } else {
    Callback(0, 0, kEventLiveLoginFailed, pane, login, info.bytes, static_cast<int32_t>(kIdField));
  }
}

void CkavrelCtrl::StopPlayThread(const std::shared_ptr<CamInfo>& camera) {
  TracedMethod traced("CkavrelCtrl::StopPlayThread");
  if (camera == nullptr) return;
  camera->startWorker.stop(kThreadStopTimeoutMs, UiWaitStyle());
}

// ---- starting and stopping a stream ----

int CkavrelCtrl::StartPlayDev(const std::string& szDevID, int32_t nChannel, int32_t nStreamID, int32_t lPnlIndex) {
  KAVREL_TRACED(StartPlayDev);
  trace::value("szDevID", szDevID.c_str());
  trace::value("nChannel", nChannel);
  trace::value("nStreamID", nStreamID);
  trace::value("lPnlIndex", lPnlIndex);
  if (!m_bInitialised.load()) return -1;
  if (!valid_pane(lPnlIndex)) {
    trace::error("CkavrelCtrl::StartPlayDev", 3955, "Invalid window index");
    return -1;
  }
  LiveSlot& slot = m_liveSlots[static_cast<size_t>(lPnlIndex)];
  if (slot.slotStreaming.load()) return -1;
  PostConnecting(lPnlIndex, true);
  brixa_handle client = m_hClient.load();

  int32_t width = 0;
  int32_t height = 0;
  if (std::optional<ChannelResolution> cached = m_channelResolutions.Find(szDevID, nChannel, nStreamID)) {
    trace::step("using cached video resolution (3970)");
    width = cached->width;
    height = cached->height;
  } else {
    trace::step("get video resolution (3974)");
    brixa_get_channel_resolution(client, szDevID.c_str(), nChannel, nStreamID, &width, &height);
    if (width > 0 && height > 0) {
      AddChannelResolution(szDevID, nChannel, nStreamID, width, height);
      SaveChannelResolutionList();
    }
  }
  if (width <= 0 || height <= 0) width = height = 0;  // the view fills the pane
  slot.slotWidth.store(width);
  slot.slotHeight.store(height);

  LiveConnectionFacts facts;
  brixa_get_connection_type(client, szDevID.c_str(), &facts.using_relay, &facts.local_nat, &facts.remote_nat,
                            &facts.remote_version);
  std::string title;
  if (std::shared_ptr<DevInfo> device = m_devices.find(szDevID)) {
    title = live_title(device->text(&DevInfo::name), nChannel, nStreamID, width, height, facts);
  }
  platform::HWND control_window = m_hWnd.load();
  {
    std::lock_guard<std::mutex> hold(slot.lock);
    slot.pending.size_set = true;
    slot.pending.width = width;
    slot.pending.height = height;
    slot.pending.title_set = true;
    slot.pending.title = title;
  }
  if (control_window != nullptr) {
    platform::post_message(control_window, ui::kMsgLiveSlotChanged, static_cast<platform::WPARAM>(lPnlIndex), 0);
  }

  platform::HWND render = m_paneRenderWindows[static_cast<size_t>(lPnlIndex)].load();
  int32_t result = brixa_start_realplay(client, render, szDevID.c_str(), nChannel, nStreamID);
  PostConnecting(lPnlIndex, false);
  if (result != 0) return result;

  slot.slotChannel.store(nChannel);
  {
    std::lock_guard<std::mutex> hold(slot.lock);
    slot.slotDevId = szDevID.substr(0, kSlotDevIdField - 1);
  }
  slot.slotStreaming.store(true);
  trace::step("get number of output alarms");
  SlotAlarm alarm = SlotAlarm::none;
  if (brixa_get_output_count(client, szDevID.c_str()) > 0) {
    trace::step("get status of output alarms");
    alarm = brixa_get_output(client, szDevID.c_str(), 0) == 1 ? SlotAlarm::on : SlotAlarm::off;
  }
  {
    std::lock_guard<std::mutex> hold(slot.lock);
    slot.pending.alarm = alarm;
  }
  if (control_window != nullptr) {
    platform::post_message(control_window, ui::kMsgLiveSlotChanged, static_cast<platform::WPARAM>(lPnlIndex), 0);
  }
  return result;
}

void CkavrelCtrl::OnLiveSlotChanged(int32_t pane_index) {
  if (!valid_pane(pane_index) || m_videoWall == nullptr) return;
  ui::CVideoWnd* pane = m_videoWall->pane(pane_index);
  if (pane == nullptr) return;
  LiveSlot::Pending pending;
  {
    LiveSlot& slot = m_liveSlots[static_cast<size_t>(pane_index)];
    std::lock_guard<std::mutex> hold(slot.lock);
    pending = std::move(slot.pending);
    slot.pending = LiveSlot::Pending{};
  }
  if (pending.size_set) pane->OptimizeView(pending.width, pending.height);
  if (pending.title_set) pane->SetVideoInfo(to_wide(pending.title));
  ui::CVideoTool& tool = pane->panel().tool();
  switch (pending.alarm) {
    case SlotAlarm::unknown: break;
    case SlotAlarm::none: tool.SetHasAlarm(false); break;
    case SlotAlarm::off:
      tool.SetHasAlarm(true);
      tool.SetAlarmOn(false);
      break;
    case SlotAlarm::on:
      tool.SetHasAlarm(true);
      tool.SetAlarmOn(true);
      break;
  }
}

void CkavrelCtrl::StopPlayDev(int32_t lPnlIndex) {
  KAVREL_TRACED(StopPlayDev);
  trace::value("lPnlIndex", lPnlIndex);
  if (!valid_pane(lPnlIndex)) {
    trace::error("CkavrelCtrl::StopPlayDev", 4027, "Invalid window index");
    return;
  }
  LiveSlot& slot = m_liveSlots[static_cast<size_t>(lPnlIndex)];
  ui::CVideoWnd* pane = m_videoWall != nullptr ? m_videoWall->pane(lPnlIndex) : nullptr;
  // Hidden at once: a hide posted now would arrive after the next start's picture was set.
  if (pane != nullptr) pane->panel().flash().Stop();
  m_paneMountMode[static_cast<size_t>(lPnlIndex)] = 0;
  m_paneVisualization[static_cast<size_t>(lPnlIndex)] = 0;
  // The exchange makes the one who clears the flag the one who stops the stream, should a start
  // thread that was given up on find its stream unwanted at the same moment.
  if (slot.slotStreaming.exchange(false)) {
    std::string dev_id = slot.dev_id();
    int32_t channel = slot.slotChannel.load();
    brixa_handle client = m_hClient.load();
    // The streaming flag is already down, so the sound is closed here rather than through
    // CliSetAudioState, which acts on streaming panes only.
    if (slot.slotAudioOn.exchange(0) != 0) m_media.load()->close_sound(client, dev_id.c_str(), channel);
    call_blocking(UiWaitStyle(), [&] {
      brixa_stop_realplay(client, dev_id.c_str(), channel);
      brixa_logout(client, dev_id.c_str());
    });
    if (std::shared_ptr<DevInfo> device = m_devices.find(dev_id)) device->logincount.fetch_sub(1);
    slot.slotChannel.store(0);
    {
      std::lock_guard<std::mutex> hold(slot.lock);
      slot.slotDevId.clear();
    }
    if (pane != nullptr) {
      pane->ResetPictureModes(1);
      platform::invalidate_rect(pane->render_window(), nullptr);
    }
  }
  if (pane != nullptr) {
    ui::CVideoTool& tool = pane->panel().tool();
    tool.SetHasAlarm(false);
    tool.SetAlarmOn(false);
    tool.SetRecording(false);
  }
}

// ---- all panes ----

void CkavrelCtrl::ResumeLive() {
  TracedMethod traced("CkavrelCtrl::ResumeLive");
  if (m_stopConnecting.load() != 0) return;
  m_resumeThread.start(
      [self = this](TaskWorker::Context& context) {
        auto until = std::chrono::steady_clock::now() + kResumeDelay;
        while (context.running() && std::chrono::steady_clock::now() < until) {
          auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
          context.idle(static_cast<uint32_t>(std::max<int64_t>(1, left.count())));
        }
        if (!context.running()) return;
        // The panes belong to the user-interface thread: the pass runs there.
        CurrentControl::use(self, [](CkavrelCtrl& control) {
          if (control.m_stopConnecting.load() != 0) return;
          if (platform::HWND window = control.m_hWnd.load()) {
            platform::post_message(window, ui::kMsgResumeLive, 0, 0);
          }
        });
      },
      UiWaitStyle());
}

void CkavrelCtrl::OnResumeLive() {
  if (m_stopConnecting.load() != 0 || m_videoWall == nullptr) return;
  trace::step("Resuming live streams (45)");
  m_bulkRestart.store(true);
  int count = std::min(m_videoWall->count(), kPaneSlots);
  for (int i = 0; i < count; ++i) {
    std::string cam_id = m_paneCamId[static_cast<size_t>(i)];
    int32_t stream = m_paneStreamId[static_cast<size_t>(i)];
    if (stream != -1 && !cam_id.empty()) {
      m_videoWall->SelectPane(m_videoWall->pane(i), ui::kCmdSelectionChanged);
      std::u16string wide = to_wide(cam_id);
      CliStartPlayDev(wide.c_str(), stream, i);
    } else {
      CliStopPlayDev(i);
    }
  }
  m_bulkRestart.store(false);
  SaveSetup();
}

void CkavrelCtrl::CloseAllConnections() {
  TracedMethod traced("CkavrelCtrl::CloseAllConnections");
  m_bulkRestart.store(true);
  for (int32_t i = 0; i < kPaneSlots; ++i) {
    CliStopPlayDev(i);
    FireCliCallBackMsg(0, 0, kEventPaneClosed, i, 0, nullptr, 0);
  }
  m_bulkRestart.store(false);
}

}  // namespace kavrel
