#include "platform/registry/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace platform {
namespace {

// An exclusive lock on "<registry>.lock" for the duration of one operation.
class FileLock {
 public:
  explicit FileLock(const std::string& registry_path) {
    fd_ = ::open((registry_path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

std::string escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      char next = text[++i];
      out.push_back(next == 'n' ? '\n' : next == 'r' ? '\r' : next);
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

// Reads the file; a missing file is an empty registry.
std::optional<Registry::Keys> load(const std::string& path) {
  Registry::Keys keys;
  std::ifstream in(path);
  if (!in) {
    if (!std::filesystem::exists(path)) return keys;
    return std::nullopt;
  }
  std::string line;
  std::string current;
  bool in_key = false;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      current = unescape(line.substr(1, line.size() - 2));
      keys[current];
      in_key = true;
      continue;
    }
    auto equals = line.find('=');
    if (!in_key || equals == std::string::npos) continue;  // not ours: skipped, not fatal
    std::string name = unescape(line.substr(0, equals));
    keys[current][name == "@" ? std::string() : name] = unescape(line.substr(equals + 1));
  }
  return keys;
}

bool store(const std::string& path, const Registry::Keys& keys) {
  std::filesystem::path target(path);
  std::error_code error;
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), error);
  std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    if (!out) return false;
    out << "; kavrel registry\n";
    for (const auto& [key, values] : keys) {
      out << '[' << escape(key) << "]\n";
      for (const auto& [name, value] : values) {
        out << (name.empty() ? std::string("@") : escape(name)) << '=' << escape(value) << '\n';
      }
    }
    out.flush();
    if (!out) {
      std::filesystem::remove(temporary, error);
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::filesystem::remove(temporary, error);
    return false;
  }
  return true;
}

}  // namespace

std::string Registry::default_path() {
  if (const char* explicit_path = std::getenv("KAVREL_REGISTRY"); explicit_path != nullptr && *explicit_path != 0) {
    return explicit_path;
  }
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != 0) {
    return std::string(config) + "/kavrel/registry";
  }
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : ".") + "/.config/kavrel/registry";
}

Registry::Registry(std::string path) : path_(std::move(path)) {}

bool Registry::update(const std::function<void(Keys&)>& change) {
  std::error_code error;
  std::filesystem::path target(path_);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), error);
  FileLock lock(path_);
  if (!lock.held()) return false;
  std::optional<Keys> keys = load(path_);
  if (!keys) return false;
  change(*keys);
  return store(path_, *keys);
}

std::optional<Registry::Keys> Registry::read() const {
  FileLock lock(path_);
  if (!lock.held()) return std::filesystem::exists(path_) ? std::nullopt : std::optional<Keys>(Keys{});
  return load(path_);
}

bool Registry::set_value(const std::string& key, const std::string& name, const std::string& value) {
  return update([&](Keys& keys) { keys[key][name] = value; });
}

std::optional<std::string> Registry::get_value(const std::string& key, const std::string& name) const {
  std::optional<Keys> keys = read();
  if (!keys) return std::nullopt;
  auto k = keys->find(key);
  if (k == keys->end()) return std::nullopt;
  auto v = k->second.find(name);
  if (v == k->second.end()) return std::nullopt;
  return v->second;
}

bool Registry::key_exists(const std::string& key) const {
  std::optional<Keys> keys = read();
  return keys && keys->count(key) != 0;
}

bool Registry::delete_tree(const std::string& key) {
  return update([&](Keys& keys) { erase_tree(keys, key); });
}

void Registry::erase_tree(Keys& keys, const std::string& key) {
  std::string below = key + "\\";
  for (auto it = keys.begin(); it != keys.end();) {
    if (it->first == key || it->first.compare(0, below.size(), below) == 0) {
      it = keys.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace platform
