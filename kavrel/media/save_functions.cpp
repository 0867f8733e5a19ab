#include "kavrel/media/save_functions.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

namespace kavrel::media {

SaveSession::~SaveSession() { Cancel(); }

int32_t SaveSession::ShowDialog(platform::HWND owner, const std::string& initial_name, const std::string& filter,
                                const std::string& default_extension) {
  Cancel();
  const int32_t result =
      platform::show_save_file_dialog(owner, initial_name, filter, default_extension, &chosen_, &state_);
  if (result != kSaveOk) {
    chosen_.clear();
    state_ = 0;
  }
  return result;
}

int32_t SaveSession::Save(const std::string& file) {
  if (state_ == 0) return kSaveFailed;
  const platform::SaveState state = std::exchange(state_, 0);
  return platform::save_file(state, file);
}

void SaveSession::Cancel() {
  if (state_ != 0) platform::cancel_save_file(std::exchange(state_, 0));
  chosen_.clear();
}

std::string writable_cache_folder() {
  // "kavrel" in the user's cache directory ($XDG_CACHE_HOME, or ~/.cache): temporary files the
  // browser may throw away.
  std::string base;
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && cache[0] == '/') {
    base = cache;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    base = std::string(home) + "/.cache";
  } else {
    return {};
  }
  std::error_code error;
  std::filesystem::create_directories(base + "/kavrel", error);
  if (error) return {};
  return base + "/kavrel/";
}

int32_t win32_error_code(int32_t result) {
  const uint32_t bits = static_cast<uint32_t>(result);
  if ((bits & 0xFFFF0000u) == 0x80070000u) return static_cast<int32_t>(bits & 0xFFFFu);
  return 1003;
}

std::string path_extension(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos) return {};
  const size_t slash = path.find_last_of("/\\");
  if (slash != std::string::npos && slash > dot) return {};
  return path.substr(dot);
}

bool safe_name_part(const std::string& name) {
  if (name.empty()) return false;
  if (name.find_first_of("/\\") != std::string::npos) return false;
  if (name.find("..") != std::string::npos) return false;
  return name.find('\0') == std::string::npos;
}

}  // namespace kavrel::media
