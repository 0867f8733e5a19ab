#include "kavrel/persist/layout_file.h"

#include <cjson/cJSON.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>

namespace kavrel {
namespace {

bool is_replaced(char c) {
  return std::strchr("<>:\"/\\|?*", c) != nullptr && c != 0;
}

// The next line of `text` from `at` (without its line break); empty at the end.
std::string_view next_line(std::string_view text, size_t& at) {
  if (at >= text.size()) return {};
  size_t end = text.find('\n', at);
  if (end == std::string_view::npos) end = text.size();
  std::string_view line = text.substr(at, end - at);
  at = end + 1;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

int32_t read_number(std::string_view line) {
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  if (!line.empty() && line.front() == '+') line.remove_prefix(1);
  int32_t value = 0;
  auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), value);
  (void)end;
  return error == std::errc() ? value : 0;
}

std::string folder_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

bool write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace

std::string layout_file_name(std::string_view layout_name) {
  std::string name(layout_name);
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return {};
    if (is_replaced(c)) c = '_';
  }
  if (name.empty() || name == "." || name == "..") return {};
  return name + kLayoutExtension;
}

std::string format_layout(const Layout& layout) {
  std::string text = std::to_string(layout.pane_count) + "\n";
  for (size_t i = 0; i < kLayoutPanes; ++i) {
    bool shown = static_cast<int64_t>(i) < layout.pane_count;
    int32_t stream = shown ? layout.stream_ids[i] : -1;
    if (shown && stream != -1) text += layout.camera_ids[i];
    text += "\n" + std::to_string(stream) + "\n";
  }
  return text;
}

Layout parse_layout(std::string_view text) {
  Layout layout;
  size_t at = 0;
  layout.pane_count = read_number(next_line(text, at));
  for (size_t i = 0; i < kLayoutPanes; ++i) {
    layout.camera_ids[i] = std::string(next_line(text, at));
    layout.stream_ids[i] = read_number(next_line(text, at));
  }
  return layout;
}

bool replace_file(const std::string& path, std::string_view text, std::string* error) {
  std::string temp = path + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    if (error) *error = std::string("cannot create a temporary file: ") + std::strerror(errno);
    return false;
  }
  bool ok = write_all(fd, text);
  int saved_errno = errno;
  if (ok && ::fsync(fd) != 0) {
    ok = false;
    saved_errno = errno;
  }
  // A layout is readable by its owner only; the read-only attribute is set afterwards.
  if (ok && ::fchmod(fd, 0600) != 0) {
    ok = false;
    saved_errno = errno;
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    saved_errno = errno;
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    saved_errno = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    if (error) *error = std::strerror(saved_errno);
    return false;
  }
  // Make the rename itself durable.
  int folder = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return true;
}

std::optional<std::string> read_file(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[4096];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return text;
}

bool set_read_only(const std::string& path, bool read_only) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  mode_t mode = info.st_mode & 07777;
  mode = read_only ? (mode & ~static_cast<mode_t>(0222)) : (mode | S_IWUSR);
  return ::chmod(path.c_str(), mode) == 0;
}

std::vector<std::string> list_layouts(const std::string& folder) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "." : folder.c_str()), ::closedir);
  if (!dir) return names;
  const std::string extension = kLayoutExtension;
  const std::string default_file = std::string(kDefaultLayoutName) + kLayoutExtension;
  while (dirent* entry = ::readdir(dir.get())) {
    std::string name = entry->d_name;
    if (name.size() <= extension.size() || name.compare(name.size() - extension.size(), extension.size(), extension) != 0) {
      continue;
    }
    if (name == default_file) continue;
    // Temporary files of a save in progress end in ".zorlay.XXXXXX" and are not matched.
    names.push_back(name.substr(0, name.size() - extension.size()));
  }
  return names;
}

std::string layout_list_json(const std::vector<std::string>& names) {
  cJSON* root = cJSON_CreateObject();
  cJSON* list = cJSON_AddArrayToObject(root, "Layouts");
  for (const std::string& name : names) cJSON_AddItemToArray(list, cJSON_CreateString(name.c_str()));
  char* text = cJSON_PrintUnformatted(root);
  std::string json = text != nullptr ? text : "{\"Layouts\":[]}";
  cJSON_free(text);
  cJSON_Delete(root);
  return json;
}

}  // namespace kavrel
