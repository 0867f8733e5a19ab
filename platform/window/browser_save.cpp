#include "platform/window/browser_save.h"

#include <filesystem>
#include <map>
#include <optional>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/window/host_site.h"

namespace platform {
namespace {

// Save states: id -> chosen path. Any thread; guarded by states_lock.
std::mutex states_lock;
std::map<SaveState, std::string>& states() {
  static auto* map = new std::map<SaveState, std::string>();
  return *map;
}
SaveState next_state = 1;  // guarded by states_lock

std::vector<std::pair<std::string, std::string>> parse_filter(const std::string& filter) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : filter) {
    if (c == '|') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  std::vector<std::pair<std::string, std::string>> pairs;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) pairs.emplace_back(parts[i], parts[i + 1]);
  return pairs;
}

std::optional<std::string> take_state(SaveState state) {
  std::lock_guard<std::mutex> hold(states_lock);
  auto it = states().find(state);
  if (it == states().end()) return std::nullopt;
  std::string path = std::move(it->second);
  states().erase(it);
  return path;
}

// A chosen file that will not come: the site tells the user.
void not_saved(const std::string& path) { host_site()->file_not_saved(std::filesystem::path(path).filename().string()); }

}  // namespace

int32_t show_save_file_dialog(HWND owner, const std::string& initial_name, const std::string& filter,
                              const std::string& default_extension, std::string* chosen_path, SaveState* state) {
  if (chosen_path == nullptr || state == nullptr) return kSaveFailed;
  SaveDialogRequest request;
  request.initial_name = initial_name;
  request.filters = parse_filter(filter);
  request.default_extension = default_extension;
  SaveDialogResult result = host_site()->save_file_dialog(owner, request);
  if (!result.available) return kSaveNotAvailable;
  if (!result.chosen || result.path.empty()) return kSaveCancelled;
  std::lock_guard<std::mutex> hold(states_lock);
  *state = next_state++;
  states()[*state] = result.path;
  *chosen_path = result.path;
  return kSaveOk;
}

int32_t save_file(SaveState state, const std::string& source) {
  std::optional<std::string> path = take_state(state);
  if (!path) return kSaveFailed;
  std::error_code error;
  if (!std::filesystem::is_regular_file(source, error)) {
    not_saved(*path);
    return kSaveFailed;
  }
  // The copy is made under a temporary name beside the chosen one and renamed when whole: the
  // host takes the file that appears under the chosen name, so a copy cut short (a full disk)
  // never reaches the user as their file.
  const std::string partial = *path + ".part";
  std::filesystem::copy_file(source, partial, std::filesystem::copy_options::overwrite_existing, error);
  if (!error) std::filesystem::rename(partial, *path, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(partial, ignored);
    not_saved(*path);
    return kSaveFailed;
  }
  return kSaveOk;
}

int32_t cancel_save_file(SaveState state) {
  std::optional<std::string> path = take_state(state);
  if (!path) return kSaveFailed;
  not_saved(*path);
  return kSaveOk;
}

int32_t get_writeable_folder_path(std::string* folder) {
  if (folder == nullptr) return kSaveFailed;
  std::string path = host_site()->writable_cache_folder();
  if (path.empty()) return kSaveNotAvailable;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  *folder = path;
  return kSaveOk;
}

void cancel_save_dialogs() { host_site()->cancel_dialogs(); }

}  // namespace platform
