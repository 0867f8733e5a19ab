#include "platform/module_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

int function_in_this_executable() { return 7; }

TEST(ModulePath, FolderOfTheExecutableHoldsTheExecutable) {
  std::string folder = platform::folder_of_module_containing(
      reinterpret_cast<const void*>(&function_in_this_executable));
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(folder) / "platform_test"));
}

TEST(ModulePath, AnAddressOutsideEveryModuleHasNoFolder) {
  int on_stack = 0;
  EXPECT_EQ(platform::folder_of_module_containing(&on_stack), "");
}

TEST(ModulePath, TryLoadLibrary) {
  EXPECT_TRUE(platform::try_load_library(KAVREL_TEST_MARKER));
  EXPECT_FALSE(platform::try_load_library("/nonexistent/ExDebug.dll"));
  // A file that exists but is not a library does not count.
  auto junk = std::filesystem::temp_directory_path() / "kavrel_not_a_library.dll";
  std::ofstream(junk) << "not an ELF file";
  EXPECT_FALSE(platform::try_load_library(junk.string()));
  std::filesystem::remove(junk);
}

}  // namespace
