#include "platform/window/browser_save.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <csignal>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/window/testing/scripted_site.h"

namespace {

namespace fs = std::filesystem;
using platform::testing::ScriptedSite;

class BrowserSaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/browser-save-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    site_ = std::make_shared<ScriptedSite>();
    platform::set_host_site(site_);
  }
  void TearDown() override {
    platform::set_host_site(nullptr);
    fs::remove_all(folder_);
  }
  std::string write(const std::string& name, const std::string& bytes) {
    std::string path = folder_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  platform::SaveDialogResult chosen(const std::string& name) {
    platform::SaveDialogResult result;
    result.chosen = true;
    result.path = folder_ + "/" + name;
    return result;
  }

  std::string folder_;
  std::shared_ptr<ScriptedSite> site_;
};

TEST_F(BrowserSaveTest, HeadlessSiteHasNoDialogAndNoFolder) {
  platform::set_host_site(nullptr);
  std::string path = "untouched";
  platform::SaveState state = 0;
  EXPECT_EQ(platform::show_save_file_dialog(nullptr, "Video.mp4", "A|*.a|", "mp4", &path, &state),
            platform::kSaveNotAvailable);
  EXPECT_EQ(path, "untouched");
  std::string folder = "untouched";
  EXPECT_EQ(platform::get_writeable_folder_path(&folder), platform::kSaveNotAvailable);
  EXPECT_EQ(folder, "untouched");
}

TEST_F(BrowserSaveTest, ChosenPathReceivesACopyOnceAndTheStateEnds) {
  site_->answer_save(chosen("saved.dav"));
  std::string path;
  platform::SaveState state = 0;
  ASSERT_EQ(platform::show_save_file_dialog(nullptr, "Video.mp4", "File video MP4|*.mp4|File video DAV|*.dav|", "mp4",
                                            &path, &state),
            platform::kSaveOk);
  EXPECT_EQ(path, folder_ + "/saved.dav");
  std::string source = write("source.dav", "DAV bytes");
  EXPECT_EQ(platform::save_file(state, source), platform::kSaveOk);
  EXPECT_EQ(read(path), "DAV bytes");
  EXPECT_TRUE(fs::exists(source)) << "the source is the caller's to delete";
  EXPECT_EQ(platform::save_file(state, source), platform::kSaveFailed) << "a state saves once";
  EXPECT_EQ(platform::cancel_save_file(state), platform::kSaveFailed);
}

TEST_F(BrowserSaveTest, MissingSourceFailsAndWritesNothing) {
  site_->answer_save(chosen("out.mp4"));
  std::string path;
  platform::SaveState state = 0;
  ASSERT_EQ(platform::show_save_file_dialog(nullptr, "Video.mp4", "", "mp4", &path, &state), platform::kSaveOk);
  EXPECT_EQ(platform::save_file(state, folder_ + "/missing.mp4"), platform::kSaveFailed);
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(BrowserSaveTest, CancelledDialogAndCancelledState) {
  std::string path;
  platform::SaveState state = 0;
  EXPECT_EQ(platform::show_save_file_dialog(nullptr, "Video.mp4", "", "mp4", &path, &state),
            platform::kSaveCancelled);
  site_->answer_save(chosen("later.mp4"));
  ASSERT_EQ(platform::show_save_file_dialog(nullptr, "Video.mp4", "", "mp4", &path, &state), platform::kSaveOk);
  EXPECT_EQ(platform::cancel_save_file(state), platform::kSaveOk);
  EXPECT_EQ(platform::save_file(state, write("x.dav", "x")), platform::kSaveFailed);
  EXPECT_FALSE(fs::exists(path));
}

// A file the user chose and then does not get is told to the site once, by its name; a declined
// dialog and a saved file tell nothing.
TEST_F(BrowserSaveTest, AChosenFileThatIsNotSavedIsToldToTheSite) {
  struct Case {
    const char* what;
    std::function<void(platform::SaveState)> end;  // how the chosen save ends
    bool told;
  };
  const Case cases[] = {
      {"saved", [&](platform::SaveState s) { EXPECT_EQ(platform::save_file(s, write("a.dav", "a")), platform::kSaveOk); }, false},
      {"cancelled by the caller", [](platform::SaveState s) { EXPECT_EQ(platform::cancel_save_file(s), platform::kSaveOk); }, true},
      {"source missing", [&](platform::SaveState s) { EXPECT_EQ(platform::save_file(s, folder_ + "/none"), platform::kSaveFailed); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    site_ = std::make_shared<ScriptedSite>();
    platform::set_host_site(site_);
    site_->answer_save(chosen("clip.mp4"));
    std::string path;
    platform::SaveState state = 0;
    ASSERT_EQ(platform::show_save_file_dialog(nullptr, "Video.mp4", "", "mp4", &path, &state), platform::kSaveOk);
    c.end(state);
    EXPECT_EQ(platform::cancel_save_file(state), platform::kSaveFailed) << "the state has ended";
    std::vector<std::string> told;
    for (const auto& call : site_->calls())
      if (call.kind == "not_saved") told.push_back(call.text);
    EXPECT_EQ(told, c.told ? std::vector<std::string>{"clip.mp4"} : std::vector<std::string>{});
    fs::remove(path);
  }
  // A declined dialog leaves nothing to tell.
  site_ = std::make_shared<ScriptedSite>();
  platform::set_host_site(site_);
  std::string path;
  platform::SaveState state = 0;
  EXPECT_EQ(platform::show_save_file_dialog(nullptr, "Video.mp4", "", "mp4", &path, &state), platform::kSaveCancelled);
  EXPECT_EQ(platform::cancel_save_file(state), platform::kSaveFailed);
  for (const auto& call : site_->calls()) EXPECT_NE(call.kind, "not_saved");
}

// A copy cut short (the file size limit stands in for a full disk) leaves nothing under the
// chosen name, no temporary file, and the site hears that the file was not saved.
TEST_F(BrowserSaveTest, ACopyCutShortLeavesNoFileAndIsToldToTheSite) {
  site_->answer_save(chosen("big.dav"));
  std::string path;
  platform::SaveState state = 0;
  ASSERT_EQ(platform::show_save_file_dialog(nullptr, "Video.mp4", "", "dav", &path, &state), platform::kSaveOk);
  const std::string source = write("source.dav", std::string(64 * 1024, 'v'));

  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const int32_t result = platform::save_file(state, source);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_EQ(result, platform::kSaveFailed);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(fs::exists(path + ".part"));
  size_t told = 0;
  for (const auto& call : site_->calls()) told += call.kind == "not_saved" && call.text == "big.dav";
  EXPECT_EQ(told, 1u);
}

TEST_F(BrowserSaveTest, FilterReachesTheSiteAsPairs) {
  struct FilterSite : ScriptedSite {
    platform::SaveDialogResult save_file_dialog(platform::HWND, const platform::SaveDialogRequest& request) override {
      seen = request;
      return {};
    }
    platform::SaveDialogRequest seen;
  };
  auto site = std::make_shared<FilterSite>();
  platform::set_host_site(site);
  std::string path;
  platform::SaveState state = 0;
  platform::show_save_file_dialog(nullptr, "Video.mp4", "File video MP4|*.mp4|File video DAV|*.dav|", "mp4", &path,
                                  &state);
  ASSERT_EQ(site->seen.filters.size(), 2u);
  EXPECT_EQ(site->seen.filters[0], std::make_pair(std::string("File video MP4"), std::string("*.mp4")));
  EXPECT_EQ(site->seen.filters[1], std::make_pair(std::string("File video DAV"), std::string("*.dav")));
  EXPECT_EQ(site->seen.initial_name, "Video.mp4");
  EXPECT_EQ(site->seen.default_extension, "mp4");
}

TEST_F(BrowserSaveTest, WriteableFolderIsTheSitesWithoutTrailingSlash) {
  site_->set_cache_folder(folder_ + "/cache/");
  std::string folder;
  ASSERT_EQ(platform::get_writeable_folder_path(&folder), platform::kSaveOk);
  EXPECT_EQ(folder, folder_ + "/cache");
}

}  // namespace
