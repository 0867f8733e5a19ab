// Video export: the page starts an export ("backup") of a camera's recordings; the library
// downloads the span into a temporary DAV file in the writable cache folder while the playback
// pane shows the progress; on completion the user chooses where to save it, as DAV or as MP4.
//
// Threads: CliStartBackup and CliStopBackup run on the user-interface thread (script or the
// playback pane's stop-export button); progress and completion arrive on the library's callback
// thread under the callback lock, and completion runs CliStopBackup there too. The export's
// state is the current camera (under m_playbackLock) and the camera's backupRunning flag (an
// atomic whose exchange makes one thread the one that stops the export). Panes are reached only
// through posted messages.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <vector>

#include "kavrel/core/callback_names.h"
#include "kavrel/core/traced.h"
#include "kavrel/core/ui_wait.h"
#include "kavrel/media/recording_calls.h"
#include "kavrel/media/save_video.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "kavrel/ui/ui_messages.h"
#include "kavrel/ui/video_wnd.h"
#include "platform/window/browser_save.h"
#include "trace/trace.h"

namespace kavrel {
namespace {

constexpr int32_t kDefaultBackupSeconds = 60;

// The camera identifier as an event carries it: a zero-filled field of kIdField bytes.
struct CameraIdField {
  explicit CameraIdField(const std::string& id) { std::memcpy(bytes, id.data(), std::min(id.size(), sizeof bytes - 1)); }
  char bytes[kIdField] = {};
};

// The writable cache folder with its separator; empty when there is none (bare names are used).
std::string cache_folder_prefix() {
  std::string folder;
  if (platform::get_writeable_folder_path(&folder) != platform::kSaveOk || folder.empty()) return {};
  return folder + "/";
}

std::tm local_now() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

}  // namespace

#define KAVREL_TRACED(method) TracedMethod traced("CkavrelCtrl::" #method)

// ---- state ----

std::shared_ptr<CamInfo> CkavrelCtrl::current_camera() const {
  std::lock_guard<std::mutex> hold(m_playbackLock);
  return m_currentCamera;
}

void CkavrelCtrl::SetCurrentCamera(std::shared_ptr<CamInfo> camera) {
  std::lock_guard<std::mutex> hold(m_playbackLock);
  m_currentCamera = std::move(camera);
}

void CkavrelCtrl::PostToPlaybackPane(platform::UINT message, platform::WPARAM wparam) {
  if (platform::HWND panel = m_playbackRenderWindow.load()) platform::post_message(panel, message, wparam, 0);
}

bool CkavrelCtrl::isBackupRunning() const {
  std::shared_ptr<CamInfo> camera = current_camera();
  return camera != nullptr && camera->backupRunning.load();
}

// ---- file names ----

std::string CkavrelCtrl::GetTempVideoFileName() const {
  std::tm t = local_now();
  char name[96];
  std::snprintf(name, sizeof name, "Temp_%04d-%02d-%02d_%02d-%02d-%02d.dav", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
  return cache_folder_prefix() + name;
}

std::string CkavrelCtrl::GetVideoFileName(int32_t lPnlIndex) const {
  if (lPnlIndex < 0 || lPnlIndex >= 16) return {};
  std::string folder = cache_folder_prefix();
  const LiveSlot& slot = live_slot(lPnlIndex);
  if (!slot.slotStreaming.load()) return folder;
  std::tm t = local_now();
  std::string dev_id = slot.dev_id();
  std::vector<char> name(dev_id.size() + 64);
  std::snprintf(name.data(), name.size(), "%s_Cam%d_%04d-%02d-%02d_%02d-%02d-%02d.dav", dev_id.c_str(),
                slot.slotChannel.load() + 1, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return folder + name.data();
}

// ---- script methods ----

int32_t CkavrelCtrl::CliStartBackup(const char16_t* camID, const char16_t* szStartTime, int32_t lBackupLenSecs) {
  KAVREL_TRACED(CliStartBackup);
  if (camID == nullptr || *camID == 0) {
    trace::step("Invalid camID");
    return -1;
  }
  if (lBackupLenSecs <= 0) lBackupLenSecs = kDefaultBackupSeconds;
  trace::wide_value("camID", camID);
  trace::wide_value("szStartTime", szStartTime);
  trace::value("lBackupLenSecs", lBackupLenSecs);
  std::shared_ptr<CamInfo> camera = m_cameras.find(to_narrow(camID));
  if (camera == nullptr) {
    trace::error("CkavrelCtrl::CliStartBackup", 4590, "No camera instance");
    return -6;
  }
  if (!m_bInitialised.load()) return 0;
  // A new export replaces a running one, as the library does: its flag must not stay set on a
  // camera that is no longer current (it would block playback once that camera is again).
  if (isBackupRunning()) CliStopBackup();

  PostToPlaybackPane(ui::kMsgExportIndicator, 0);
  SetCurrentCamera(camera);
  std::string dev_id = camera->text(&CamInfo::devid);
  std::shared_ptr<DevInfo> device = m_devices.find(dev_id);
  if (device == nullptr) {
    trace::error("CkavrelCtrl::CliStartBackup", 4404, "Device info not found (4404)");
    return -5;
  }
  device->abortLogin.store(false);
  int login = LoginDev(device);
  CameraIdField info(camera->id);
  if (login != 0) {
    if (login == -11) {
      OnLoginRefused(device);
    } else {
      Callback(0, 0, kEventLiveLoginFailed, camera->camPane.load(), login, info.bytes, static_cast<int32_t>(kIdField));
    }
    return -4;
  }

  std::string file = GetTempVideoFileName();
  std::string start_time = to_narrow(szStartTime);
  // The export counts as running before the library starts it: its completion may arrive on the
  // library's thread before the call below has returned, and must find the file name.
  camera->set_text(&CamInfo::backupFileName, file);
  camera->backupRunning.store(true);
  PostToPlaybackPane(ui::kMsgExportIndicator, ui::kIndicatorOn);
  if (platform::HWND window = m_hWnd.load()) platform::post_message(window, ui::kMsgExportButton, 1, 0);
  const RecordingCalls& calls = recording_calls();
  brixa_handle client = m_hClient.load();
  int32_t chl_id = camera->chlid.load();
  int32_t result = call_blocking(UiWaitStyle(), [&] {
    return calls.start_backup(client, 0, dev_id.c_str(), chl_id, start_time.c_str(), lBackupLenSecs, file.c_str());
  });
  if (result <= 0) {
    trace::step("Cannot start backup");
    trace::value("Error code", result);
    Callback(0, 0, kEventExportStarted, camera->camPane.load(), -1, info.bytes, static_cast<int32_t>(kIdField));
    if (camera->backupRunning.exchange(false)) {
      PostToPlaybackPane(ui::kMsgExportIndicator, 0);
      if (platform::HWND window = m_hWnd.load()) platform::post_message(window, ui::kMsgExportButton, 0, 0);
    }
    return -3;
  }
  trace::step("Backup started");
  Callback(0, 0, kEventExportStarted, camera->camPane.load(), 0, info.bytes, static_cast<int32_t>(kIdField));
  return 0;
}

int32_t CkavrelCtrl::CliStopBackup() {
  KAVREL_TRACED(CliStopBackup);
  std::shared_ptr<CamInfo> camera = current_camera();
  // The exchange makes the one thread that clears the flag the one that stops the export.
  if (camera != nullptr && camera->backupRunning.exchange(false)) {
    const RecordingCalls& calls = recording_calls();
    call_blocking(UiWaitStyle(), [&] { calls.stop_backup(); });
    PostToPlaybackPane(ui::kMsgExportIndicator, 0);
    // The button and the repaint belong to the user-interface thread.
    if (platform::HWND window = m_hWnd.load()) platform::post_message(window, ui::kMsgExportButton, 0, 0);
  }
  return 0;
}

void CkavrelCtrl::OnExportButton(bool pressed) {
  if (m_playbackWnd == nullptr) return;
  m_playbackWnd->panel().tool().SetExporting(pressed);
  if (!pressed) platform::invalidate_rect(m_playbackWnd->GetHWND(), nullptr);
}

// ---- library callbacks ----

void CkavrelCtrl::OnBackupProgress(int32_t total, int32_t done) {
  int32_t percent = export_progress_percent(total, done);
  trace::value("percent", percent);
  PostToPlaybackPane(ui::kMsgExportPercent, static_cast<platform::WPARAM>(percent));
}

void CkavrelCtrl::OnBackupCompleted() {
  trace::step("Backup completed");
  CliStopBackup();
  std::shared_ptr<CamInfo> camera = current_camera();
  if (camera == nullptr) return;
  std::string file = camera->text(&CamInfo::backupFileName);
  SaveVideoFile(file);
}

// ---- saving ----

bool CkavrelCtrl::ConvertDAV2MP4(const std::string& source, const std::string& destination) {
  return convert_dav_to_mp4(stream_converter_calls(), source, destination);
}

void CkavrelCtrl::SaveVideoFile(const std::string& source) {
  if (m_stopConnecting.load() != 0) {
    // The control is closing: no dialog is opened that would hold its shutdown; the file goes.
    trace::step("User canceled saving backup");
    std::error_code ignored;
    std::filesystem::remove(source, ignored);
    return;
  }
  save_video_file(m_hWnd.load(), source, stream_converter_calls());
}

}  // namespace kavrel
