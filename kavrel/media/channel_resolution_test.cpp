// The channel-resolution cache and its file: records survive a save and a load in their order,
// records without a size or with an identifier too long for a record are not taken, and a file
// cut anywhere gives back only the records it holds whole.
#include "kavrel/media/channel_resolution.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kavrel {
namespace {

namespace fs = std::filesystem;

class ChannelResolutionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/chanres-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    path_ = folder_ + "/ChanRes.dat";
  }
  void TearDown() override { fs::remove_all(folder_); }
  void write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string read() {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

  std::string folder_;
  std::string path_;
};

TEST_F(ChannelResolutionTest, SaveAndLoadKeepTheRecordsInTheirOrder) {
  ChannelResolutionCache cache;
  EXPECT_TRUE(cache.Add("KVR-B", 1, 0, 704, 576));
  EXPECT_TRUE(cache.Add("KVR-A", 0, 1, 352, 288));
  EXPECT_TRUE(cache.Add("KVR-B", 1, 0, 1280, 720));  // same key: the size is replaced
  EXPECT_FALSE(cache.Add("KVR-B", 1, 0, 1280, 720));
  ASSERT_TRUE(cache.Save(path_));
  EXPECT_EQ(read(), "KVR-B\n1\n0\n1280\n720\nKVR-A\n0\n1\n352\n288\n");
  EXPECT_FALSE(fs::exists(path_ + ".tmp"));

  ChannelResolutionCache loaded;
  ASSERT_TRUE(loaded.Load(path_));
  ASSERT_EQ(loaded.records().size(), 2u);
  EXPECT_EQ(loaded.records(), cache.records());
  ASSERT_TRUE(loaded.Find("KVR-A", 0, 1).has_value());
  EXPECT_EQ(loaded.Find("KVR-A", 0, 1)->width, 352);
  EXPECT_FALSE(loaded.Find("KVR-A", 0, 0).has_value());
  EXPECT_FALSE(loaded.Find("KVR-A", 1, 1).has_value());
  EXPECT_FALSE(loaded.Find("KVR-", 0, 1).has_value());
}

TEST_F(ChannelResolutionTest, RecordsWithoutASizeOrWithAnOverlongIdentifierAreSkipped) {
  std::string long_id(kResolutionDevIdMax + 1, 'x');
  std::string fits_id(kResolutionDevIdMax, 'y');
  // Either line end is read; each skipped record leaves the ones after it in place.
  write("KVR-ZERO\n0\n0\n0\n576\r\nKVR-OK\r\n2\r\n1\r\n352\r\n288\r\nKVR-NEG 0 0 704 -1\n" + long_id +
        " 0 0 704 576\n" + fits_id + " 3 0 640 480\n");
  ChannelResolutionCache cache;
  ASSERT_TRUE(cache.Load(path_));
  std::vector<ChannelResolution> expected = {{"KVR-OK", 2, 1, 352, 288}, {fits_id, 3, 0, 640, 480}};
  EXPECT_EQ(cache.records(), expected);
}

TEST_F(ChannelResolutionTest, AFileCutAnywhereGivesOnlyItsWholeRecords) {
  const std::string whole = "KVR-A\n0\n0\n1920\n1080\nKVR-B\n1\n1\n352\n288\n";
  const size_t first_end = std::string("KVR-A\n0\n0\n1920\n1080\n").size();
  for (size_t cut = 0; cut <= whole.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    write(whole.substr(0, cut));
    ChannelResolutionCache cache;
    ASSERT_TRUE(cache.Load(path_));
    size_t expected = cut >= whole.size() ? 2 : cut >= first_end ? 1 : 0;
    ASSERT_EQ(cache.records().size(), expected);
    if (expected >= 1) {
      EXPECT_EQ(cache.records()[0], (ChannelResolution{"KVR-A", 0, 0, 1920, 1080}));
    }
    if (expected == 2) {
      EXPECT_EQ(cache.records()[1], (ChannelResolution{"KVR-B", 1, 1, 352, 288}));
    }
  }
}

TEST_F(ChannelResolutionTest, ReadingStopsAtADamagedRecord) {
  write("KVR-A 0 0 704 576\nKVR-B 1 x1 704 576\nKVR-C 2 0 704 576\nKVR-D 0 0 99999999999 576\n");
  ChannelResolutionCache cache;
  ASSERT_TRUE(cache.Load(path_));
  ASSERT_EQ(cache.records().size(), 1u);
  EXPECT_EQ(cache.records()[0].dev_id, "KVR-A");
}

TEST_F(ChannelResolutionTest, AMissingFileIsNotLoaded) {
  ChannelResolutionCache cache;
  EXPECT_FALSE(cache.Load(path_));
  EXPECT_TRUE(cache.records().empty());
}

TEST_F(ChannelResolutionTest, AFailedSaveLeavesTheOldFileWhole) {
  ChannelResolutionCache cache;
  cache.Add("KVR-A", 0, 0, 704, 576);
  ASSERT_TRUE(cache.Save(path_));
  const std::string before = read();
  // The temporary file cannot be made: the old file must stay as it was.
  fs::create_directory(path_ + ".tmp");
  cache.Add("KVR-B", 0, 0, 352, 288);
  EXPECT_FALSE(cache.Save(path_));
  EXPECT_EQ(read(), before);
}

}  // namespace
}  // namespace kavrel
