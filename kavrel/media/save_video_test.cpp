// Saving a finished export: the name the user chooses decides between MP4 and the raw DAV data,
// the converter is driven in its order and closed on every failure, and the temporary files go
// whatever happens.
#include "kavrel/media/save_video.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/window/testing/scripted_site.h"

namespace {

namespace fs = std::filesystem;
using kavrel::SaveOutcome;

// A converter that writes "MP4:" and the bytes it was given; its failures are switchable.
struct FakeConverter {
  static inline bool fail_init = false;
  static inline bool fail_open = false;
  static inline bool write_nothing = false;
  static inline std::vector<std::string> calls;
  static inline std::string destination;
  static inline std::string received;
  static inline int32_t largest_block = 0;
  static inline int handle_tag = 0;

  static void reset() {
    fail_init = fail_open = write_nothing = false;
    calls.clear();
    destination.clear();
    received.clear();
    largest_block = 0;
  }
  static int32_t init() {
    calls.push_back("init");
    return fail_init ? 0x100 : 1;  // only the low byte counts
  }
  static int32_t open(int32_t format, const char* path, int32_t bytes, void** handle) {
    calls.push_back("open " + std::to_string(format));
    if (fail_open) return -1;
    destination.assign(path, static_cast<size_t>(bytes));
    *handle = &handle_tag;
    return 0;
  }
  static void input(void* handle, const uint8_t* data, int32_t size) {
    if (handle != &handle_tag) calls.push_back("input to a stranger");
    if (calls.back() != "input") calls.push_back("input");
    largest_block = std::max(largest_block, size);
    received.append(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
  }
  static void close(void*) {
    calls.push_back("close");
    if (!write_nothing) std::ofstream(destination, std::ios::binary) << "MP4:" << received;
  }
  static void release(void*) { calls.push_back("release"); }
  static int32_t cleanup() {
    calls.push_back("cleanup");
    return 1;
  }
  static constexpr kavrel::StreamConverterCalls table = {init, open, input, close, release, cleanup};
};

size_t open_descriptors() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

class SaveVideoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/save-video-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    fs::create_directories(folder_ + "/cache");
    fs::create_directories(folder_ + "/chosen");
    site_ = std::make_shared<platform::testing::ScriptedSite>();
    platform::set_host_site(site_);
    FakeConverter::reset();
    // More than one block of the converter's input.
    dav_bytes_ = "DAV";
    for (int i = 0; i < 3000; ++i) dav_bytes_ += static_cast<char>('a' + i % 26);
    source_ = folder_ + "/cache/Temp_2026-12-10_12-00-00.dav";
    std::ofstream(source_, std::ios::binary) << dav_bytes_;
  }
  void TearDown() override {
    platform::set_host_site(nullptr);
    fs::remove_all(folder_);
  }
  std::string choose(const std::string& name) {
    platform::SaveDialogResult result;
    result.chosen = true;
    result.path = folder_ + "/chosen/" + name;
    site_->answer_save(result);
    return result.path;
  }
  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool cache_empty() const { return fs::is_empty(folder_ + "/cache"); }
  bool nothing_chosen_written() const { return fs::is_empty(folder_ + "/chosen"); }

  std::string folder_;
  std::string source_;
  std::string dav_bytes_;
  std::shared_ptr<platform::testing::ScriptedSite> site_;
};

TEST_F(SaveVideoTest, TheChosenExtensionDecidesMp4OrRawDav) {
  struct Case {
    const char* name;
    SaveOutcome outcome;
    bool converted;
  };
  const Case cases[] = {
      {"clip.mp4", SaveOutcome::saved_mp4, true},
      {"clip.MP4", SaveOutcome::saved_mp4, true},
      {"clip.Mp4", SaveOutcome::saved_dav, false},  // only the two exact spellings convert
      {"clip.mP4", SaveOutcome::saved_dav, false},
      {"clip.dav", SaveOutcome::saved_dav, false},
      {"clip", SaveOutcome::saved_dav, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeConverter::reset();
    std::ofstream(source_, std::ios::binary) << dav_bytes_;
    std::string chosen = choose(c.name);
    EXPECT_EQ(kavrel::save_video_file(nullptr, source_, FakeConverter::table), c.outcome);
    EXPECT_EQ(read(chosen), c.converted ? "MP4:" + dav_bytes_ : dav_bytes_);
    EXPECT_EQ(FakeConverter::calls.empty(), !c.converted);
    EXPECT_TRUE(cache_empty()) << "the temporary and the converted file are deleted";
    fs::remove(chosen);
  }
}

TEST_F(SaveVideoTest, TheDialogOffersVideoMp4WithBothFilters) {
  struct Recorder : platform::testing::ScriptedSite {
    platform::SaveDialogResult save_file_dialog(platform::HWND, const platform::SaveDialogRequest& r) override {
      request = r;
      return {};
    }
    platform::SaveDialogRequest request;
  };
  auto site = std::make_shared<Recorder>();
  platform::set_host_site(site);
  kavrel::save_video_file(nullptr, source_, FakeConverter::table);
  EXPECT_EQ(site->request.initial_name, "Video.mp4");
  EXPECT_EQ(site->request.default_extension, "mp4");
  ASSERT_EQ(site->request.filters.size(), 2u);
  EXPECT_EQ(site->request.filters[0].second, "*.mp4");
  EXPECT_EQ(site->request.filters[1].second, "*.dav");
}

TEST_F(SaveVideoTest, CancelDeletesTheTemporaryFileAndSavesNothing) {
  EXPECT_EQ(kavrel::save_video_file(nullptr, source_, FakeConverter::table), SaveOutcome::cancelled);
  EXPECT_TRUE(cache_empty());
  EXPECT_TRUE(nothing_chosen_written());
  EXPECT_TRUE(FakeConverter::calls.empty());

  // A site without a save dialog counts as a cancel.
  platform::set_host_site(nullptr);
  std::ofstream(source_, std::ios::binary) << dav_bytes_;
  EXPECT_EQ(kavrel::save_video_file(nullptr, source_, FakeConverter::table), SaveOutcome::cancelled);
  EXPECT_TRUE(cache_empty());
}

TEST_F(SaveVideoTest, TheConverterIsFedTheWholeFileInOrderAndClosedInOrder) {
  std::string destination = folder_ + "/cache/out.mp4";
  ASSERT_TRUE(kavrel::convert_dav_to_mp4(FakeConverter::table, source_, destination));
  EXPECT_EQ(FakeConverter::calls,
            (std::vector<std::string>{"init", "open 3", "input", "close", "release", "cleanup"}));
  EXPECT_EQ(FakeConverter::destination, destination);
  EXPECT_EQ(FakeConverter::received, dav_bytes_);
  EXPECT_LE(FakeConverter::largest_block, 1024);
}

// A failed conversion closes what it opened, leaves no partial MP4 and never hands a missing or
// partial file to the save as if it were the user's video.
TEST_F(SaveVideoTest, AFailedConversionSavesNothingAndLeaksNothing) {
  struct Case {
    const char* what;
    bool* fault;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"init fails", &FakeConverter::fail_init, {"init"}},
      {"open fails", &FakeConverter::fail_open, {"init", "open 3", "cleanup"}},
      {"nothing written", &FakeConverter::write_nothing, {"init", "open 3", "input", "close", "release", "cleanup"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeConverter::reset();
    *c.fault = true;
    std::ofstream(source_, std::ios::binary) << dav_bytes_;
    choose("clip.mp4");
    size_t descriptors = open_descriptors();
    EXPECT_EQ(kavrel::save_video_file(nullptr, source_, FakeConverter::table), SaveOutcome::conversion_failed);
    EXPECT_EQ(open_descriptors(), descriptors) << "the source file was left open";
    EXPECT_EQ(FakeConverter::calls, c.calls);
    EXPECT_TRUE(nothing_chosen_written());
    EXPECT_TRUE(cache_empty());
  }
}

TEST_F(SaveVideoTest, AMissingSourceIsAFailedConversion) {
  fs::remove(source_);
  std::string destination = folder_ + "/cache/out.mp4";
  EXPECT_FALSE(kavrel::convert_dav_to_mp4(FakeConverter::table, source_, destination));
  EXPECT_EQ(FakeConverter::calls, (std::vector<std::string>{"init", "cleanup"}));
  EXPECT_FALSE(fs::exists(destination));
}

TEST_F(SaveVideoTest, TheConverterLibraryNeverSavesBytesThatAreNoVideoAsAnMp4) {
  choose("clip.mp4");
  EXPECT_EQ(kavrel::save_video_file(nullptr, source_, kavrel::stream_converter_calls()), SaveOutcome::conversion_failed);
  EXPECT_TRUE(nothing_chosen_written());
  EXPECT_TRUE(cache_empty());
}

}  // namespace
