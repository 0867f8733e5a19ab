// The main of every test program: runs the tests with the user's configuration and cache
// folders pointed at a fresh folder of this process, so no test reads or leaves files (layouts,
// resolution caches, registrations) in the home of whoever runs them, and tests running side by
// side never see each other's files.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

int main(int argc, char** argv) {
  std::error_code error;
  std::string pattern = (std::filesystem::temp_directory_path(error) / "kavrel-test-home-XXXXXX").string();
  std::string home;
  if (::mkdtemp(pattern.data()) != nullptr) {
    home = pattern;
    ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
  }
  ::testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  if (!home.empty()) std::filesystem::remove_all(home, error);
  return result;
}
