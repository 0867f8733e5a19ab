// Layouts: the script methods that save, load, list and delete named pane layouts, the automatic
// save of the "Default" layout after live video starts or stops, and its restore a few seconds
// after a camera list has arrived.
//
// Threads: everything here runs on the user-interface thread. The restore is a window timer of
// the control, armed when the DoCallbackThread reports a processed camera list (a posted
// message), so no thread of its own is left to outlive the control.
#include <cstring>
#include <exception>

#include "kavrel/core/traced.h"
#include "kavrel/persist/config_path.h"
#include "kavrel/persist/layout_file.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "kavrel/ui/ui_messages.h"
#include "kavrel/ui/video_wnd_manager.h"
#include "trace/trace.h"

namespace kavrel {
namespace {

constexpr uint32_t kDefaultLayoutDelayMs = 3000;

// The full name of a layout's file, or empty (traced) for a name that names no file of its own.
std::string layout_path(const char* method, const std::string& name) {
  std::string file = layout_file_name(name);
  if (file.empty()) {
    trace::error(method, __LINE__, "Invalid layout name");
    return {};
  }
  return config_file_name(file);
}

bool file_exists(const std::string& path) { return read_file(path).has_value(); }

class LayoutLoadScope {
 public:
  explicit LayoutLoadScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~LayoutLoadScope() { flag_ = false; }
  LayoutLoadScope(const LayoutLoadScope&) = delete;
  LayoutLoadScope& operator=(const LayoutLoadScope&) = delete;

 private:
  bool& flag_;
};

}  // namespace

Layout CkavrelCtrl::CurrentLayout() {
  Layout layout;
  layout.pane_count = CliGetPicNum();
  for (size_t i = 0; i < kLayoutPanes; ++i) {
    layout.camera_ids[i] = m_paneCamId[i];
    layout.stream_ids[i] = m_paneStreamId[i];
  }
  return layout;
}

void CkavrelCtrl::SaveLayoutFile(const char* method, const std::string& name) {
  if (m_stopConnecting.load() != 0) return;
  std::string path = layout_path(method, name);
  if (path.empty()) return;
  trace::value("Output file name", path.c_str());
  if (file_exists(path) && !set_read_only(path, false)) {
    trace::error(method, 2700, "Cannot reset read-only flag (2700)");
  }
  std::string why;
  if (!replace_file(path, format_layout(CurrentLayout()), &why)) {
    // The previous file, if any, is left as it was.
    trace::error(method, __LINE__, "Cannot create output file");
    trace::value("Reason", why.c_str());
  }
  if (file_exists(path) && !set_read_only(path, true)) {
    trace::error(method, 2721, "Cannot set read-only flag (2721)");
  }
}

void CkavrelCtrl::CliSaveLayout(const char16_t* szLayoutName) {
  TracedMethod traced("CkavrelCtrl::CliSaveLayout");
  trace::wide_value("szLayoutName", szLayoutName);
  try {
    SaveLayoutFile("CkavrelCtrl::CliSaveLayout", to_narrow(szLayoutName));
  } catch (const std::exception& e) {
    trace::exception("CkavrelCtrl::CliSaveLayout", e.what());
  }
}

bool CkavrelCtrl::LoadLayoutFile(const char* method, const std::string& name, bool only_when_changed) {
  std::string path = layout_path(method, name);
  if (path.empty()) return false;
  trace::value("Input file name", path.c_str());
  std::optional<std::string> text = read_file(path);
  if (!text) {
    trace::error(method, 2685, "Config file not found (2685)");
    // The automatic restore has nothing to restore and leaves the wall as it is.
    if (!only_when_changed) CliSetPicNum(4);
    return false;
  }
  trace::step("Config file found (2643)");
  Layout layout = parse_layout(*text);
  if (only_when_changed && format_layout(layout) == format_layout(CurrentLayout())) {
    // The wall already shows this layout: restarting every pane would only interrupt the video.
    trace::step("Layout already shown");
    return true;
  }
  // The steps of the load are not the user's wall: the default layout is saved once the resume
  // has run.
  LayoutLoadScope loading(m_loadingLayout);
  CloseAllConnections();
  trace::value("PicNum", layout.pane_count);
  CliSetPicNum(16);
  if (m_videoWall != nullptr) m_videoWall->SelectPane(m_videoWall->pane(0), ui::kCmdSelectionChanged);
  CliSetPicNum(layout.pane_count);
  for (size_t i = 0; i < kLayoutPanes; ++i) {
    m_paneCamId[i] = layout.camera_ids[i];
    trace::value("CamID", layout.camera_ids[i].c_str());
    m_paneStreamId[i] = layout.stream_ids[i];
    trace::value("LiveCacheStreamID[i]", layout.stream_ids[i]);
  }
  ResumeLive();
  CliSetPicNum(layout.pane_count);
  return true;
}

bool CkavrelCtrl::CliLoadLayout(const char16_t* szLayoutName) {
  TracedMethod traced("CkavrelCtrl::CliLoadLayout");
  trace::wide_value("szLayoutName", szLayoutName);
  try {
    return LoadLayoutFile("CkavrelCtrl::CliLoadLayout", to_narrow(szLayoutName), false);
  } catch (const std::exception& e) {
    trace::exception("CkavrelCtrl::CliLoadLayout", e.what());
    return false;
  }
}

std::u16string CkavrelCtrl::CliEnumLayouts() {
  TracedMethod traced("CkavrelCtrl::CliEnumLayouts");
  std::vector<std::string> found = list_layouts(config_folder());
  if (found.empty()) trace::error("CkavrelCtrl::CliEnumLayouts", 208, "Error finding first file (208)");
  // Only names the other layout methods can reach again are listed.
  std::vector<std::string> names;
  for (const std::string& name : found) {
    if (layout_file_name(name) != name + kLayoutExtension) continue;
    trace::value("Layout name", name.c_str());
    names.push_back(name);
  }
  std::string json = layout_list_json(names);
  trace::value("JSON Layout list", json.c_str());
  return to_wide(json);
}

void CkavrelCtrl::CliDeleteLayout(const char16_t* szLayoutName) {
  TracedMethod traced("CkavrelCtrl::CliDeleteLayout");
  trace::wide_value("szLayoutName", szLayoutName);
  std::string path = layout_path("CkavrelCtrl::CliDeleteLayout", to_narrow(szLayoutName));
  if (path.empty()) return;
  if (!set_read_only(path, false)) trace::error("CkavrelCtrl::CliDeleteLayout", 261, "Cannot set read-only flag (261)");
  if (std::remove(path.c_str()) != 0) trace::error("CkavrelCtrl::CliDeleteLayout", 263, "Cannot delete file (263)");
}

void CkavrelCtrl::SaveSetup() {
  // A bulk restart or close of all panes saves once at its end.
  if (m_bulkRestart.load() || m_loadingLayout) return;
  TracedMethod traced("CkavrelCtrl::SaveSetup");
  SaveLayoutFile("CkavrelCtrl::SaveSetup", kDefaultLayoutName);
}

bool CkavrelCtrl::LoadSetup() {
  TracedMethod traced("CkavrelCtrl::LoadSetup");
  try {
    return LoadLayoutFile("CkavrelCtrl::LoadSetup", kDefaultLayoutName, true);
  } catch (const std::exception& e) {
    trace::exception("CkavrelCtrl::LoadSetup", e.what());
    return false;
  }
}

void CkavrelCtrl::OpenDefaultLayout() {
  TracedMethod traced("CkavrelCtrl::OpenDefaultLayoutThread");
  if (m_stopConnecting.load() != 0 || m_hWnd == nullptr) return;
  // A newer camera list restarts the wait.
  platform::set_timer(m_hWnd, kDefaultLayoutTimerId, kDefaultLayoutDelayMs);
}

void CkavrelCtrl::OnDefaultLayoutTimer() {
  platform::kill_timer(m_hWnd, kDefaultLayoutTimerId);
  if (m_stopConnecting.load() != 0 || !m_bInitialised) return;
  trace::step("Resuming default layout (2112)");
  LoadSetup();
}

}  // namespace kavrel
