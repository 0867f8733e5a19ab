#include "kavrel/media/save_functions.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/window/host_site.h"

namespace kavrel::media {
namespace {

std::vector<std::pair<std::string, std::string>> parse_filter(const std::string& filter) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : filter) {
    if (c == '|') {
      parts.push_back(std::move(part));
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(std::move(part));
  std::vector<std::pair<std::string, std::string>> pairs;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) pairs.emplace_back(parts[i], parts[i + 1]);
  return pairs;
}

}  // namespace

int32_t SaveSession::ShowDialog(platform::HWND owner, const std::string& initial_name, const std::string& filter,
                                const std::string& default_extension) {
  chosen_.clear();
  open_ = false;
  platform::SaveDialogRequest request;
  request.initial_name = initial_name;
  request.filters = parse_filter(filter);
  request.default_extension = default_extension;
  platform::SaveDialogResult result = platform::host_site()->save_file_dialog(owner, request);
  if (!result.chosen || result.path.empty()) return kSaveCancelled;
  chosen_ = std::move(result.path);
  open_ = true;
  return kSaveOk;
}

int32_t SaveSession::Save(const std::string& file) {
  if (!open_) return kSaveFailed;
  open_ = false;
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return kSavePathNotFound;
  // Copied in one write: whoever watches the chosen folder takes the file once it is closed.
  std::filesystem::copy_file(file, chosen_, std::filesystem::copy_options::overwrite_existing, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(chosen_, ignored);
    return error.value() == EACCES ? kSaveAccessDenied : kSaveFailed;
  }
  return kSaveOk;
}

void SaveSession::Cancel() {
  open_ = false;
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
