// Layout files: names, the text format, replacing a file without ever leaving a cut one, and the
// list of layouts as JSON.
#include "kavrel/persist/layout_file.h"

#include <gtest/gtest.h>
#include <cjson/cJSON.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>

namespace kavrel {
namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "layout-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(path_, ignored)) ::chmod(entry.path().c_str(), 0600);
    fs::remove_all(path_, ignored);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void write_raw(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(LayoutFileName, SeparatorsAndReservedCharactersBecomeUnderscores) {
  struct Case {
    const char* name;
    const char* file;
  } cases[] = {
      {"Lobby", "Lobby.zorlay"},
      {"Floor 1/East", "Floor 1_East.zorlay"},
      {"a<b>c:d\"e/f\\g|h?i*j", "a_b_c_d_e_f_g_h_i_j.zorlay"},
      {"../../etc/passwd", ".._.._etc_passwd.zorlay"},
      {"Câmeras da entrada", "Câmeras da entrada.zorlay"},
      {"...", "....zorlay"},
  };
  for (const Case& c : cases) EXPECT_EQ(layout_file_name(c.name), c.file) << c.name;
}

TEST(LayoutFileName, NamesThatNameNoFileOfTheirOwnAreRefused) {
  for (const char* name : {"", ".", "..", "tab\there", "line\nbreak", "bell\a", "del\x7f"}) {
    EXPECT_EQ(layout_file_name(name), "") << name;
  }
}

TEST(LayoutFormat, FourPanesWriteThirtyThreeLines) {
  Layout layout;
  layout.pane_count = 4;
  layout.stream_ids.fill(-1);
  layout.camera_ids[0] = "cam-a";
  layout.stream_ids[0] = 0;
  layout.camera_ids[1] = "cam-b";  // a camera without a stream is not kept
  layout.camera_ids[2] = "cam-c";
  layout.stream_ids[2] = 1;
  layout.camera_ids[7] = "cam-hidden";  // beyond the pane count
  layout.stream_ids[7] = 0;
  std::string text = format_layout(layout);
  std::string expected = "4\ncam-a\n0\n\n-1\ncam-c\n1\n\n-1\n";
  for (int i = 4; i < 16; ++i) expected += "\n-1\n";
  EXPECT_EQ(text, expected);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 33);
}

TEST(LayoutFormat, ReadsBackWhatItWrites) {
  Layout layout;
  layout.pane_count = 16;
  for (size_t i = 0; i < kLayoutPanes; ++i) {
    layout.camera_ids[i] = "camera-" + std::to_string(i);
    layout.stream_ids[i] = static_cast<int32_t>(i % 3);
  }
  Layout back = parse_layout(format_layout(layout));
  EXPECT_EQ(back.pane_count, 16);
  EXPECT_EQ(back.camera_ids, layout.camera_ids);
  EXPECT_EQ(back.stream_ids, layout.stream_ids);
}

TEST(LayoutFormat, AFileCutShortReadsMissingLinesAsEmptyAndZero) {
  Layout layout = parse_layout("9\r\ncam-a\r\n1\r\ncam-b");
  EXPECT_EQ(layout.pane_count, 9);
  EXPECT_EQ(layout.camera_ids[0], "cam-a");
  EXPECT_EQ(layout.stream_ids[0], 1);
  EXPECT_EQ(layout.camera_ids[1], "cam-b");
  EXPECT_EQ(layout.stream_ids[1], 0);
  for (size_t i = 2; i < kLayoutPanes; ++i) {
    EXPECT_EQ(layout.camera_ids[i], "");
    EXPECT_EQ(layout.stream_ids[i], 0);
  }
  Layout empty = parse_layout("");
  EXPECT_EQ(empty.pane_count, 0);
  Layout garbage = parse_layout("lots\nx\ny\n");
  EXPECT_EQ(garbage.pane_count, 0);
  EXPECT_EQ(garbage.stream_ids[0], 0);
}

TEST(ReplaceFile, ReplacesAReadOnlyFileAndLeavesNoTemporaryFile) {
  TempFolder folder;
  std::string path = folder.file("Lobby.zorlay");
  ASSERT_TRUE(replace_file(path, "old\n", nullptr));
  ASSERT_TRUE(set_read_only(path, true));
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0222, 0u);
  ASSERT_TRUE(set_read_only(path, false));
  ASSERT_TRUE(replace_file(path, "new\n", nullptr));
  EXPECT_EQ(read_file(path), "new\n");
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(folder.path())) files += entry.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 1u);
  EXPECT_FALSE(set_read_only(folder.file("missing.zorlay"), false));
}

// A disk that fills up during the write: the file size limit makes the write fail as a full disk
// does, and the old layout must survive whole.
TEST(ReplaceFile, AFailedWriteLeavesTheOldFileIntact) {
  TempFolder folder;
  std::string path = folder.file("Lobby.zorlay");
  ASSERT_TRUE(replace_file(path, "4\nold\n0\n", nullptr));
  std::string big(64 * 1024, 'x');

  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string why;
  bool replaced = replace_file(path, big, &why);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_FALSE(replaced);
  EXPECT_FALSE(why.empty());
  EXPECT_EQ(read_file(path), "4\nold\n0\n");
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(folder.path())) files += entry.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 1u) << "the temporary file is removed";
}

TEST(ReplaceFile, AMissingFolderFailsWithAReason) {
  std::string why;
  EXPECT_FALSE(replace_file("/nonexistent-folder-for-layouts/Lobby.zorlay", "x", &why));
  EXPECT_FALSE(why.empty());
}

TEST(LayoutList, ListsLayoutFilesButNotTheDefaultOrOtherFiles) {
  TempFolder folder;
  for (const char* name : {"Default.zorlay", "Lobby.zorlay", "Garage_East.zorlay", "notes.txt", "ChanRes.dat",
                           "Lobby.zorlay.Ab12Cd", ".zorlay"}) {
    write_raw(folder.file(name), "4\n");
  }
  std::vector<std::string> names = list_layouts(folder.path());
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), (std::set<std::string>{"Lobby", "Garage_East"}));
  EXPECT_EQ(layout_list_json({}), "{\"Layouts\":[]}");
}

TEST(LayoutList, IsValidJsonWhateverTheNames) {
  std::vector<std::string> names = {"plain", "quote\"d", "back\\slash", "tab\tin", "Câmera"};
  std::string json = layout_list_json(names);
  cJSON* root = cJSON_Parse(json.c_str());
  ASSERT_NE(root, nullptr) << json;
  cJSON* list = cJSON_GetObjectItemCaseSensitive(root, "Layouts");
  ASSERT_TRUE(cJSON_IsArray(list));
  ASSERT_EQ(cJSON_GetArraySize(list), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(cJSON_GetArrayItem(list, i)->valuestring, names[static_cast<size_t>(i)]);
  cJSON_Delete(root);
}

}  // namespace
}  // namespace kavrel
