// A small registry kept in one text file: keys (backslash-separated paths) holding named string
// values, the unnamed one being the key's default value. Modules register classes into it; hosts
// read it to find the module of a class.
//
// Every operation reads the file, applies its change and writes the file back whole (through a
// temporary file and a rename) while holding an exclusive lock on a lock file beside it, so
// several threads and processes may use one registry file.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace platform {

class Registry {
 public:
  using Values = std::map<std::string, std::string>;  // value name ("" = default) -> text
  using Keys = std::map<std::string, Values>;          // key path -> its values

  // The registry of this user: $KAVREL_REGISTRY when set, else $XDG_CONFIG_HOME/kavrel/registry,
  // else $HOME/.config/kavrel/registry.
  static std::string default_path();

  explicit Registry(std::string path);
  const std::string& path() const { return path_; }

  // Applies `change` to the whole content in one locked read-modify-write. False when the file
  // cannot be read (other than not existing yet) or written; nothing is written then.
  bool update(const std::function<void(Keys&)>& change);
  // The content, or nothing when the file exists but cannot be read.
  std::optional<Keys> read() const;

  bool set_value(const std::string& key, const std::string& name, const std::string& value);
  std::optional<std::string> get_value(const std::string& key, const std::string& name = "") const;
  bool key_exists(const std::string& key) const;
  // Removes the key and every key below it.
  bool delete_tree(const std::string& key);

  // Helpers for `update` callbacks.
  static void erase_tree(Keys& keys, const std::string& key);

 private:
  std::string path_;
};

}  // namespace platform
