// The registry file of one host test process, in a temporary folder of its own. The folder is
// named by the process id and emptied first: an earlier process with the same id may have left
// its registrations there. The variable is set before main, while the process still has one
// thread.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace host::testing {

inline const std::string& registry_path() {
  static const std::string path = [] {
    auto folder = std::filesystem::temp_directory_path() / ("kavrel_host_test_" + std::to_string(getpid()));
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::string file = (folder / "registry").string();
    setenv("KAVREL_REGISTRY", file.c_str(), 1);
    return file;
  }();
  return path;
}

inline const bool registry_ready = !registry_path().empty();

}  // namespace host::testing
