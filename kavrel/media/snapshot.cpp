// Snapshots and local recordings of a pane: the tool bar's snapshot button captures the pane's
// picture into a temporary bitmap in the cache folder, lets the user choose a name and a format,
// converts the picture and hands it to the save; the record button starts and stops a local
// recording into a ".dav" file of the cache folder. Short sounds acknowledge both.
//
// User-interface thread only: script calls and tool bar clicks.
#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "kavrel/core/callback_names.h"
#include "kavrel/core/traced.h"
#include "kavrel/media/image_conversion.h"
#include "kavrel/media/save_functions.h"
#include "kavrel/resources/module_resources.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "kavrel/ui/video_wnd_manager.h"
#include "platform/window/host_site.h"
#include "trace/trace.h"

namespace kavrel {
namespace {

std::tm local_now() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

bool file_has_data(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
}

}  // namespace

#define KAVREL_TRACED(method) TracedMethod traced("CkavrelCtrl::" #method)

// ---- file names ----

std::string CkavrelCtrl::GetTempImageFileName() const {
  const std::tm t = local_now();
  char name[64];
  std::snprintf(name, sizeof name, "Temp_%04d-%02d-%02d_%02d-%02d-%02d.bmp", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return media::writable_cache_folder() + name;
}

std::string CkavrelCtrl::GetRecordingFileName(int32_t lPnlIndex) const {
  if (lPnlIndex < 0 || lPnlIndex > 15) return {};
  const LiveSlot& slot = m_liveSlots[static_cast<size_t>(lPnlIndex)];
  const std::string folder = media::writable_cache_folder();
  if (!slot.slotStreaming.load()) return folder;
  // The device identifier comes from the account's list: it must name a file of the folder.
  const std::string dev_id = slot.dev_id();
  if (!media::safe_name_part(dev_id)) {
    trace::error("CkavrelCtrl::GetVideoFileName", 0, "Device identifier cannot name a file");
    return {};
  }
  const std::tm t = local_now();
  char name[256];
  std::snprintf(name, sizeof name, "%s_Cam%d_%04d-%02d-%02d_%02d-%02d-%02d.dav", dev_id.c_str(),
                slot.slotChannel.load() + 1, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                t.tm_sec);
  return folder + name;
}

std::u16string CkavrelCtrl::CliCapturePicToInternetCache(int32_t lPnlIndex) {
  KAVREL_TRACED(CliCapturePicToInternetCache);
  trace::value("lPnlIndex", lPnlIndex);
  if (lPnlIndex < 0 || lPnlIndex > 15) return {};
  const std::string folder = media::writable_cache_folder();
  const LiveSlot& slot = m_liveSlots[static_cast<size_t>(lPnlIndex)];
  if (!slot.slotStreaming.load()) return to_wide(folder);
  const std::string dev_id = slot.dev_id();
  if (!media::safe_name_part(dev_id)) return to_wide(folder);
  const std::tm t = local_now();
  char name[256];
  std::snprintf(name, sizeof name, "%s_%04d-%02d-%02d_%02d-%02d-%02d.bmp", dev_id.c_str(), t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return to_wide(folder + name);
}

// ---- sounds ----

void CkavrelCtrl::PlayControlSound(uint32_t resource_id) {
  resources::ResourceBytes wave = resources::module_resources().Find(resource_id, resources::kTypeWave);
  if (!wave) return;
  platform::host_site()->play_sound(std::to_string(resource_id), wave.data, wave.size);
}

// ---- capture and recording ----

bool CkavrelCtrl::CliCapturePictureDev(int32_t lPnlIndex, const std::string& file, bool live) {
  KAVREL_TRACED(CliCapturePictureDev);
  trace::value("lPnlIndex", lPnlIndex);
  trace::value("file", file.c_str());
  trace::value("live", live ? 1 : 0);
  if (lPnlIndex < 0 || lPnlIndex > 15) return false;
  PlayControlSound(resources::IDR_WAVE_SNAPSHOT);
  // A file left from an earlier try must not pass for this capture.
  std::remove(file.c_str());
  const LiveSlot& slot = m_liveSlots[static_cast<size_t>(lPnlIndex)];
  int32_t result = -1;
  if (live) {
    if (slot.slotCamera == nullptr) return false;
    result = m_media.load()->save_picture(m_hClient.load(), slot.dev_id().c_str(), slot.slotChannel.load(),
                                          file.c_str());
  } else {
    // The control keeps no playback of its own yet: there is no playback picture to take.
    trace::error("CkavrelCtrl::CliCapturePictureDev", 0, "No playback running");
    return false;
  }
  if (result != 0) {
    trace::value("Error code", result);
    std::remove(file.c_str());
    return false;
  }
  return file_has_data(file);
}

bool CkavrelCtrl::CliStartVideoRecordDev(int32_t lPnlIndex, const std::string& file, bool live) {
  KAVREL_TRACED(CliStartVideoRecordDev);
  trace::value("lPnlIndex", lPnlIndex);
  trace::value("file", file.c_str());
  trace::value("live", live ? 1 : 0);
  if (lPnlIndex < 0 || lPnlIndex > 15) return false;
  PlayControlSound(resources::IDR_WAVE_RECORD);
  const LiveSlot& slot = m_liveSlots[static_cast<size_t>(lPnlIndex)];
  if (slot.slotCamera == nullptr) return false;
  const std::string dev_id = slot.dev_id();
  const MediaCalls& media = *m_media.load();
  const int32_t result = live ? media.start_recording(m_hClient.load(), dev_id.c_str(), slot.slotChannel.load(),
                                                      file.c_str())
                              : media.start_play_recording(m_hClient.load(), dev_id.c_str(), file.c_str());
  return result == 0;
}

bool CkavrelCtrl::CliStopVideoRecordDev(int32_t lPnlIndex, bool live) {
  KAVREL_TRACED(CliStopVideoRecordDev);
  trace::value("lPnlIndex", lPnlIndex);
  trace::value("live", live ? 1 : 0);
  if (lPnlIndex < 0 || lPnlIndex > 15) return false;
  PlayControlSound(resources::IDR_WAVE_RECORD);
  const LiveSlot& slot = m_liveSlots[static_cast<size_t>(lPnlIndex)];
  if (slot.slotCamera == nullptr) return false;
  const std::string dev_id = slot.dev_id();
  const MediaCalls& media = *m_media.load();
  const int32_t result = live ? media.stop_recording(m_hClient.load(), dev_id.c_str(), slot.slotChannel.load())
                              : media.stop_play_recording(m_hClient.load(), dev_id.c_str());
  return result == 0;
}

// ---- conversions ----

void CkavrelCtrl::ConvertBMP2PNG(const char* srcPath, const char* dstPath) {
  KAVREL_TRACED(ConvertBMP2PNG);
  media::convert_bitmap(srcPath, dstPath, media::ImageFormat::png, "CkavrelCtrl::ConvertBMP2PNG");
}

void CkavrelCtrl::ConvertBMP2BMP(const char* srcPath, const char* dstPath) {
  KAVREL_TRACED(ConvertBMP2BMP);
  media::convert_bitmap(srcPath, dstPath, media::ImageFormat::bmp, "CkavrelCtrl::ConvertBMP2BMP");
}

void CkavrelCtrl::ConvertBMP2JPG(const char* srcPath, const char* dstPath) {
  KAVREL_TRACED(ConvertBMP2JPG);
  media::convert_bitmap(srcPath, dstPath, media::ImageFormat::jpeg, "CkavrelCtrl::ConvertBMP2JPG");
}

// ---- tool bar buttons ----

void CkavrelCtrl::OnSnapshotButton(int32_t index) {
  KAVREL_TRACED(OnSnapshotButton);
  trace::value("index", index);
  if (index < 0 || index > 15) return;
  const bool live = m_lPage == 0;
  // The control keeps no playback of its own yet, so only a streaming live pane shows video.
  const bool shows_video = live && m_liveSlots[static_cast<size_t>(index)].slotStreaming.load();
  if (shows_video) {
    const std::string temporary = GetTempImageFileName();
    if (!CliCapturePictureDev(index, temporary, live)) {
      // Nothing to save: no dialog that could only end in a failed save.
      trace::error("CkavrelCtrl::OnSnapshotButton", 0, "Cannot capture picture of the pane");
    } else {
      media::SaveSession save;
      if (save.ShowDialog(m_hWnd.load(), "Image.bmp", "File BMP|*.bmp|File PNG|*.png|File JPG|*.jpg|", "bmp") !=
          media::kSaveOk) {
        save.Cancel();
      } else {
        const std::string extension = media::path_extension(save.chosen());
        std::string converted;
        const char* failure = nullptr;
        const char* success = nullptr;
        if (extension == ".png" || extension == ".PNG") {
          trace::step("Convert backup file to PNG");
          converted = temporary + ".png";
          ConvertBMP2PNG(temporary.c_str(), converted.c_str());
          failure = "Cannot save image file in destination folder (3020)";
          success = "Image file saved successfully (3016)";
        } else if (extension == ".jpg" || extension == ".JPG") {
          trace::step("Convert backup file to JPG");
          converted = temporary + ".jpg";
          ConvertBMP2JPG(temporary.c_str(), converted.c_str());
          failure = "Cannot save image file in destination folder (3052)";
          success = "Image file saved successfully (3048)";
        } else {
          trace::step("Convert backup file to BMP");
          converted = temporary + ".bmp";
          ConvertBMP2BMP(temporary.c_str(), converted.c_str());
          failure = "Cannot save image file in destination folder (3096)";
          success = "Image file saved successfully (3048)";
        }
        trace::step("Saving converted backup file to user-selected name");
        trace::value("pwszSelectedFilename", save.chosen().c_str());
        const int32_t saved = save.Save(converted);
        if (saved != media::kSaveOk) {
          trace::error("CkavrelCtrl::OnSnapshotButton", 0, failure);
          trace::value("Win32ErrorCode", media::win32_error_code(saved));
        } else {
          trace::step(success);
        }
        std::remove(converted.c_str());
      }
    }
    std::remove(temporary.c_str());
  }
  FireCliCallBackMsg(0, 0, kEventSnapshotTaken, index, 0, nullptr, 0);
}

bool CkavrelCtrl::local_recording(int32_t index) const {
  return index >= 0 && index < 16 && m_recordings[static_cast<size_t>(index)].on;
}

void CkavrelCtrl::OnRecordButton(int32_t index) {
  KAVREL_TRACED(OnRecordButton);
  trace::value("index", index);
  if (index < 0 || index > 15) return;
  const bool live = m_lPage == 0;
  if (!live || !m_liveSlots[static_cast<size_t>(index)].slotStreaming.load()) return;
  LocalRecording& recording = m_recordings[static_cast<size_t>(index)];
  ui::CVideoWnd* pane = m_videoWall != nullptr ? m_videoWall->pane(index) : nullptr;
  if (recording.on) {
    std::string file = recording.file;
    StopLocalRecording(index);
    SaveLocalRecording(file);
    return;
  }
  const std::string file = GetRecordingFileName(index);
  if (file.empty() || file.back() == '/') return;
  if (!CliStartVideoRecordDev(index, file, live)) return;
  recording.on = true;
  recording.live = live;
  recording.file = file;
  if (pane != nullptr) pane->panel().tool().SetRecording(true);
}

void CkavrelCtrl::StopLocalRecording(int32_t index) {
  if (!local_recording(index)) return;
  LocalRecording& recording = m_recordings[static_cast<size_t>(index)];
  CliStopVideoRecordDev(index, recording.live);
  recording.on = false;
  ui::CVideoWnd* pane = nullptr;
  if (recording.live) {
    pane = m_videoWall != nullptr ? m_videoWall->pane(index) : nullptr;
  } else {
    pane = m_playbackWnd.get();
  }
  if (pane != nullptr) pane->panel().tool().SetRecording(false);
}

void CkavrelCtrl::SaveLocalRecording(const std::string& file) {
  TracedMethod traced("CkavrelCtrl::SaveLocalRecording");
  // The save-video procedure of exports: dialog, optional MP4 conversion, save, file deleted.
  SaveVideoFile(file);
}

}  // namespace kavrel
