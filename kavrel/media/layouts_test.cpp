// The layout script methods on a control with its wall: save, list, load and delete named
// layouts in the configuration folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "host/control_host.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "kavrel/ui/testing/ui_fixture.h"
#include "kavrel/ui/video_wnd_manager.h"

namespace kavrel {
namespace {

namespace fs = std::filesystem;
using com::Variant;

class LayoutsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "layouts-test-XXXXXX").string();
    home_ = ::mkdtemp(pattern.data());
    ::setenv("XDG_CONFIG_HOME", home_.c_str(), 1);
    folder_ = home_ + "/kavrel";
    site_ = std::make_shared<ui::testing::MenuSite>();
    platform::set_host_site(site_);
    std::string error;
    host_ = host::ControlHost::adopt(
        [this] {
          control_ = CkavrelCtrl::Create();
          return static_cast<com::IDispatch*>(control_);
        },
        &error);
    ASSERT_NE(host_, nullptr) << error;
    ASSERT_EQ(host_->create_window(platform::Rect{0, 0, 960, 600}), com::S_OK);
  }
  void TearDown() override {
    host_.reset();
    platform::set_host_site(nullptr);
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder_, ignored)) ::chmod(entry.path().c_str(), 0600);
    fs::remove_all(home_, ignored);
    ::unsetenv("XDG_CONFIG_HOME");
  }

  Variant call(const std::string& name, std::vector<Variant> args = {}) {
    Variant result;
    EXPECT_EQ(host_->call(name, args, &result), com::S_OK) << name;
    return result;
  }
  Variant text(const std::string& s) { return Variant::string(to_wide(s)); }
  std::string read(const std::string& file) {
    std::ifstream in(folder_ + "/" + file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void write(const std::string& file, const std::string& content) {
    fs::create_directories(folder_);
    std::ofstream(folder_ + "/" + file, std::ios::binary) << content;
  }
  std::string layouts() { return to_narrow(call("CliEnumLayouts").bstr); }

  std::string home_;
  std::string folder_;
  std::shared_ptr<ui::testing::MenuSite> site_;
  std::unique_ptr<host::ControlHost> host_;
  CkavrelCtrl* control_ = nullptr;
};

TEST_F(LayoutsTest, SavedLayoutsAreListedReadOnlyAndWithoutTheDefault) {
  EXPECT_EQ(layouts(), "{\"Layouts\":[]}");
  call("CliSetPicNum", {Variant::i4(9)});
  call("CliSaveLayout", {text("Entrance/North")});
  call("CliSaveLayout", {text("Default")});

  std::string saved = read("Entrance_North.zorlay");
  std::string expected = "9\n";
  for (int i = 0; i < 16; ++i) expected += "\n-1\n";
  EXPECT_EQ(saved, expected);
  struct stat info {};
  ASSERT_EQ(::stat((folder_ + "/Entrance_North.zorlay").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0222, 0u) << "saved layouts are read-only";

  EXPECT_EQ(layouts(), "{\"Layouts\":[\"Entrance_North\"]}");

  // Saving again over the read-only file works.
  call("CliSetPicNum", {Variant::i4(4)});
  call("CliSaveLayout", {text("Entrance/North")});
  EXPECT_EQ(read("Entrance_North.zorlay").substr(0, 2), "4\n");
}

TEST_F(LayoutsTest, LoadingSetsThePaneCountAndAssignment) {
  std::string file = "6\ncam-one\n0\n\n-1\ncam-three\n1\n";  // cut short after pane 2
  write("Night.zorlay", file);
  EXPECT_TRUE(call("CliLoadLayout", {text("Night")}).boolval);
  EXPECT_EQ(call("CliGetPicNum").lval, 6);
  host_->ui().run([&] {
    EXPECT_EQ(control_->pane_camera(0), "cam-one");
    EXPECT_EQ(control_->pane_stream(0), 0);
    EXPECT_EQ(control_->pane_camera(2), "cam-three");
    EXPECT_EQ(control_->pane_stream(2), 1);
    EXPECT_EQ(control_->pane_camera(3), "");
    EXPECT_EQ(control_->pane_stream(3), 0);
    EXPECT_EQ(control_->video_wall()->selected_index(), 0);
  });
}

TEST_F(LayoutsTest, LoadingAMissingLayoutFailsAndLeavesFourPanes) {
  call("CliSetPicNum", {Variant::i4(16)});
  EXPECT_FALSE(call("CliLoadLayout", {text("Nowhere")}).boolval);
  EXPECT_EQ(call("CliGetPicNum").lval, 4);
}

TEST_F(LayoutsTest, DeletingRemovesEvenAReadOnlyLayout) {
  call("CliSaveLayout", {text("Garage")});
  ASSERT_TRUE(fs::exists(folder_ + "/Garage.zorlay"));
  call("CliDeleteLayout", {text("Garage")});
  EXPECT_FALSE(fs::exists(folder_ + "/Garage.zorlay"));
  EXPECT_EQ(layouts(), "{\"Layouts\":[]}");
}

TEST_F(LayoutsTest, NamesThatCouldLeaveTheFolderOrNameNoFileAreRefused) {
  write("keep.txt", "x");
  for (const char* name : {"", ".", "..", "bad\nname"}) {
    call("CliSaveLayout", {text(name)});
    EXPECT_FALSE(call("CliLoadLayout", {text(name)}).boolval) << name;
    call("CliDeleteLayout", {text(name)});
  }
  // Nothing was written beside the folder or in it, and nothing was deleted.
  EXPECT_FALSE(fs::exists(home_ + "/.zorlay"));
  EXPECT_FALSE(fs::exists(folder_ + "/.zorlay"));
  EXPECT_TRUE(fs::exists(folder_ + "/keep.txt"));
  size_t layouts_found = 0;
  for (const auto& entry : fs::recursive_directory_iterator(home_)) {
    layouts_found += entry.path().extension() == ".zorlay" ? 1 : 0;
  }
  EXPECT_EQ(layouts_found, 0u);
  // A traversal attempt stays in the folder under an underscored name.
  call("CliSaveLayout", {text("../escape")});
  EXPECT_TRUE(fs::exists(folder_ + "/.._escape.zorlay"));
  EXPECT_FALSE(fs::exists(home_ + "/escape.zorlay"));
}

TEST_F(LayoutsTest, TheListSkipsFilesNoLayoutMethodCouldReach) {
  write("Lobby.zorlay", "4\n");
  write("odd\tname.zorlay", "4\n");  // put there by someone else
  EXPECT_EQ(layouts(), "{\"Layouts\":[\"Lobby\"]}");
}

}  // namespace
}  // namespace kavrel
