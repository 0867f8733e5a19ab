#include "platform/version/version_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

// The test module is built into the folder of this test program, so its bare name resolves.
constexpr const char* kModule = "versioned.mod";

std::vector<char> block_of(const std::string& name) {
  uint32_t size = platform::get_file_version_info_size(name);
  std::vector<char> block(size);
  if (size == 0 || !platform::get_file_version_info(name, size, block.data())) return {};
  return block;
}

TEST(VersionInfo, BareNameIsFoundBesideTheProgramAndCarriesItsFixedInfo) {
  std::vector<char> block = block_of(kModule);
  ASSERT_FALSE(block.empty());
  const void* value = nullptr;
  uint32_t length = 0;
  ASSERT_TRUE(platform::query_version_value(block.data(), "\\", &value, &length));
  ASSERT_EQ(length, sizeof(platform::FixedFileInfo));
  platform::FixedFileInfo fixed;
  memcpy(&fixed, value, sizeof fixed);
  EXPECT_EQ(fixed.signature, platform::kFixedFileInfoSignature);
  EXPECT_EQ(fixed.file_version_ms, (3u << 16) | 4u);
  EXPECT_EQ(fixed.file_version_ls, (567u << 16) | 8u);
  EXPECT_EQ(fixed.product_version_ls, (1112u << 16) | 13u);
}

TEST(VersionInfo, StringsAreFoundByKey) {
  std::vector<char> block = block_of(kModule);
  ASSERT_FALSE(block.empty());
  const void* value = nullptr;
  uint32_t length = 0;
  ASSERT_TRUE(platform::query_version_value(block.data(), "\\StringFileInfo\\041604b0\\ProductName", &value, &length));
  EXPECT_EQ(std::string(static_cast<const char*>(value), length), "kavrel tests");
  EXPECT_FALSE(platform::query_version_value(block.data(), "\\StringFileInfo\\041604b0\\Missing", &value, &length));
}

TEST(VersionInfo, FilesWithoutABlockGiveNothing) {
  auto folder = std::filesystem::temp_directory_path() / "kavrel_version_test";
  std::filesystem::create_directories(folder);
  auto garbage = folder / "garbage.mod";
  std::ofstream(garbage) << "\x7f" "ELF but then nothing sensible";
  auto truncated = folder / "truncated.mod";
  {
    // The first bytes of a real module, cut off before its section table.
    std::string real = platform::find_module_file(kModule);
    ASSERT_FALSE(real.empty());
    std::ifstream in(real, std::ios::binary);
    std::vector<char> head(256);
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    std::ofstream(truncated, std::ios::binary).write(head.data(), in.gcount());
  }
  struct Case {
    std::string name;
  } cases[] = {{"no-such-module.ocx"}, {garbage.string()}, {truncated.string()}, {"/proc/self/exe"}, {""}};
  for (const auto& c : cases) {
    EXPECT_EQ(platform::get_file_version_info_size(c.name), 0u) << c.name;
    char buffer[64];
    EXPECT_FALSE(platform::get_file_version_info(c.name, sizeof buffer, buffer)) << c.name;
  }
  std::filesystem::remove_all(folder);
}

TEST(VersionInfo, ABufferSmallerThanTheBlockIsRefused) {
  uint32_t size = platform::get_file_version_info_size(kModule);
  ASSERT_GT(size, 8u);
  std::vector<char> small(size - 4);
  EXPECT_FALSE(platform::get_file_version_info(kModule, size - 4, small.data()));
}

TEST(VersionInfo, ModuleSearchTakesPathsAsTheyAreAndBareNamesFromTheProgramFolder) {
  std::string found = platform::find_module_file(kModule);
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(platform::find_module_file(found), found);
  EXPECT_EQ(platform::find_module_file("/nonexistent/versioned.mod"), "");
  EXPECT_EQ(platform::find_module_file("surely-not-here.ocx"), "");
}

}  // namespace
