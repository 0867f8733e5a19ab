#include "kavrel/persist/config_path.h"

#include <cstdlib>
#include <system_error>
#include <filesystem>

namespace kavrel {

std::string config_folder() {
  std::string base;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != 0) {
    base = config;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != 0) {
    base = std::string(home) + "/.config";
  } else {
    return {};
  }
  std::string folder = base + "/kavrel";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error || !std::filesystem::is_directory(folder, error)) return {};
  return folder;
}

std::string config_file_name(const std::string& file) {
  std::string folder = config_folder();
  return folder.empty() ? file : folder + "/" + file;
}

}  // namespace kavrel
