#include "platform/registry/registry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <thread>
#include <vector>

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() / ("kavrel_registry_test_" + std::to_string(getpid()));
    std::filesystem::remove_all(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::string path() const { return (folder_ / "sub" / "registry").string(); }

  std::filesystem::path folder_;
};

TEST_F(RegistryTest, ValuesSurviveARoundTripThroughTheFile) {
  platform::Registry registry(path());
  EXPECT_FALSE(registry.get_value("CLSID\\{X}").has_value());
  ASSERT_TRUE(registry.set_value("CLSID\\{X}", "", "default text"));
  ASSERT_TRUE(registry.set_value("CLSID\\{X}\\InprocServer32", "ThreadingModel", "Apartment"));
  ASSERT_TRUE(registry.set_value("odd", "name", "with\\backslash\nand newline = sign"));

  platform::Registry again(path());
  EXPECT_EQ(again.get_value("CLSID\\{X}"), "default text");
  EXPECT_EQ(again.get_value("CLSID\\{X}\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(again.get_value("odd", "name"), "with\\backslash\nand newline = sign");
  EXPECT_FALSE(again.get_value("CLSID\\{X}", "missing").has_value());
}

TEST_F(RegistryTest, DeletingATreeRemovesTheKeyAndEverythingBelowOnly) {
  platform::Registry registry(path());
  ASSERT_TRUE(registry.update([](platform::Registry::Keys& keys) {
    keys["A"][""] = "1";
    keys["A\\B"][""] = "2";
    keys["A\\B\\C"]["x"] = "3";
    keys["AB"][""] = "kept: only shares a prefix";
  }));
  ASSERT_TRUE(registry.delete_tree("A"));
  EXPECT_FALSE(registry.key_exists("A"));
  EXPECT_FALSE(registry.key_exists("A\\B"));
  EXPECT_FALSE(registry.key_exists("A\\B\\C"));
  EXPECT_EQ(registry.get_value("AB"), "kept: only shares a prefix");
}

TEST_F(RegistryTest, ConcurrentWritersLoseNoUpdate) {
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([this, t] {
      platform::Registry registry(path());
      for (int i = 0; i < 20; ++i) registry.set_value("k" + std::to_string(t), std::to_string(i), "v");
    });
  }
  for (auto& w : writers) w.join();
  auto keys = platform::Registry(path()).read();
  ASSERT_TRUE(keys.has_value());
  for (int t = 0; t < 4; ++t) EXPECT_EQ((*keys)["k" + std::to_string(t)].size(), 20u);
}

TEST_F(RegistryTest, AnUnwritableLocationFailsWithoutWriting) {
  platform::Registry registry("/proc/kavrel-cannot-write-here/registry");
  EXPECT_FALSE(registry.set_value("A", "", "1"));
}

}  // namespace
