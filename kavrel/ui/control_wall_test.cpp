// The control's window builds the wall; the wall's script methods, pages and full screen, and a
// click in a pane reaching the page as the selection event.
#include <gtest/gtest.h>

#include <chrono>

#include "host/control_host.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/ui/testing/ui_fixture.h"
#include "kavrel/ui/video_wnd_manager.h"
#include "platform/gdi/user.h"

namespace kavrel::ui {
namespace {

using namespace std::chrono_literals;
using com::Variant;

class ControlWallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site_ = std::make_shared<testing::MenuSite>();
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
  }
  template <class Fn>
  void on_ui(Fn fn) {
    host_->ui().run([&] { fn(*control_); });
  }
  int32_t call_long(const std::string& name, std::vector<Variant> args = {}) {
    Variant result;
    EXPECT_EQ(host_->call(name, args, &result), com::S_OK) << name;
    return result.lval;
  }
  bool visible(platform::HWND window) { return (platform::get_window_style(window) & platform::WS_VISIBLE) != 0; }

  std::shared_ptr<testing::MenuSite> site_;
  std::unique_ptr<host::ControlHost> host_;
  CkavrelCtrl* control_ = nullptr;
};

TEST_F(ControlWallTest, WindowCreationBuildsTheWallAndThePlaybackPane) {
  on_ui([&](CkavrelCtrl& c) {
    ASSERT_NE(c.video_wall(), nullptr);
    ASSERT_NE(c.playback_pane(), nullptr);
    platform::HWND wall = c.video_wall()->GetHWND();
    EXPECT_EQ(platform::get_window_name(wall), "VideoManager");
    EXPECT_EQ(platform::get_parent(wall), c.window());
    EXPECT_TRUE(visible(wall));
    platform::Rect r;
    platform::get_window_rect(wall, &r);
    EXPECT_EQ(r, (platform::Rect{0, 0, 960, 600}));
    platform::HWND playback = c.playback_pane()->GetHWND();
    EXPECT_EQ(platform::get_window_name(playback), "RecordVideoWnd");
    EXPECT_FALSE(visible(playback));
    EXPECT_TRUE(c.playback_pane()->panel().tool().flags().playback);
    for (int i = 0; i < 16; ++i) EXPECT_NE(c.video_wall()->pane(i), nullptr);
  });
  auto created = host_->wait_for_events([](const host::ScriptEvent& e) { return e.id == 34; }, 1, 5s);
  EXPECT_EQ(created.size(), 1u);
}

TEST_F(ControlWallTest, PaneCountsOutsideTheLayoutsAreRefused) {
  EXPECT_EQ(call_long("CliGetPicNum"), 4);
  for (int32_t count : {0, 2, 5, 7, 25, 100, -1}) {
    EXPECT_EQ(call_long("CliSetPicNum", {Variant::i4(count)}), -1) << count;
    EXPECT_EQ(call_long("CliGetPicNum"), 4);
  }
  EXPECT_EQ(call_long("CliSetPicNum", {Variant::i4(9)}), 0);
  EXPECT_EQ(call_long("CliGetPicNum"), 9);
  EXPECT_EQ(call_long("CliGetCurrPicIndex"), 0);
}

TEST_F(ControlWallTest, FirstIdlePaneIsMinusOneOnlyWhenAllSixteenAreInUse) {
  EXPECT_EQ(call_long("CliGetFirstIdelPicIndex"), 0);
  on_ui([](CkavrelCtrl& c) {
    for (int i = 0; i < 16; ++i) c.SetLiveSlotInUse(i, i != 11);
  });
  EXPECT_EQ(call_long("CliGetFirstIdelPicIndex"), 11);
  on_ui([](CkavrelCtrl& c) { c.SetLiveSlotInUse(11, true); });
  EXPECT_EQ(call_long("CliGetFirstIdelPicIndex"), -1);
}

TEST_F(ControlWallTest, PagesShowTheWallOrThePlaybackPane) {
  platform::HWND wall = nullptr;
  platform::HWND playback = nullptr;
  on_ui([&](CkavrelCtrl& c) {
    wall = c.video_wall()->GetHWND();
    playback = c.playback_pane()->GetHWND();
  });
  ASSERT_EQ(host_->call("CliChangePageTo", {Variant::i4(1)}), com::S_OK);
  on_ui([&](CkavrelCtrl& c) {
    EXPECT_FALSE(visible(wall));
    EXPECT_TRUE(visible(playback));
    EXPECT_EQ(c.current_page(), 1);
  });
  ASSERT_EQ(host_->call("CliChangePageTo", {Variant::i4(2)}), com::S_OK);
  on_ui([&](CkavrelCtrl&) {
    EXPECT_FALSE(visible(wall));
    EXPECT_FALSE(visible(playback)) << "page 2 hides the current page and shows nothing";
  });
  ASSERT_EQ(host_->call("CliChangePageTo", {Variant::i4(0)}), com::S_OK);
  on_ui([&](CkavrelCtrl&) { EXPECT_TRUE(visible(wall)); });
}

TEST_F(ControlWallTest, AClickInAPaneReachesThePageAsTheSelectionEvent) {
  on_ui([&](CkavrelCtrl& c) {
    platform::HWND pane = c.video_wall()->pane(2)->GetHWND();
    platform::POINT p{3, 3};
    platform::ClientToScreen(pane, &p);
    site_->set_cursor(p);
    platform::send_message(pane, WM_LBUTTONDOWN, 0, make_point_lparam(3, 3));
  });
  auto selected = host_->wait_for_event(
      [](const host::ScriptEvent& e) { return e.id == 32 && e.arg_long(2) == 0x12300; }, 5s);
  ASSERT_TRUE(selected);
  EXPECT_EQ(selected->arg_long(3), 2);
  EXPECT_EQ(selected->thread, host_->ui().id());
  EXPECT_EQ(call_long("CliGetCurrPicIndex"), 2);
}

TEST_F(ControlWallTest, FullScreenCoversTheScreenUntilEscape) {
  site_->set_screen(platform::Size{1280, 720});
  platform::HWND wall = nullptr;
  platform::HWND control = nullptr;
  on_ui([&](CkavrelCtrl& c) {
    wall = c.video_wall()->GetHWND();
    control = c.window();
  });
  ASSERT_EQ(host_->call("CliFullScreen", {Variant::i4(1)}), com::S_OK);
  on_ui([&](CkavrelCtrl& c) {
    EXPECT_TRUE(c.full_screen());
    EXPECT_EQ(platform::get_parent(wall), nullptr);
    EXPECT_EQ(platform::topmost_window(), wall);
    platform::Rect r;
    platform::get_window_rect(wall, &r);
    EXPECT_EQ(r, (platform::Rect{0, 0, 1282, 722}));
  });
  site_->set_key(platform::VK_ESCAPE, true);
  bool left = false;
  auto until = std::chrono::steady_clock::now() + 5s;
  while (!left && std::chrono::steady_clock::now() < until) {
    on_ui([&](CkavrelCtrl& c) { left = !c.full_screen(); });
    if (!left) std::this_thread::sleep_for(10ms);
  }
  site_->set_key(platform::VK_ESCAPE, false);
  ASSERT_TRUE(left);
  on_ui([&](CkavrelCtrl&) {
    EXPECT_EQ(platform::get_parent(wall), control);
    EXPECT_EQ(platform::topmost_window(), nullptr);
    platform::Rect r;
    platform::get_window_rect(wall, &r);
    EXPECT_EQ(r, (platform::Rect{0, 0, 960, 600}));
  });
  // Entering and leaving by script, twice over, leaves no watcher behind.
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(host_->call("CliFullScreen", {Variant::i4(1)}), com::S_OK);
    ASSERT_EQ(host_->call("CliFullScreen", {Variant::i4(1)}), com::S_OK);
    ASSERT_EQ(host_->call("CliFullScreen", {Variant::i4(0)}), com::S_OK);
    on_ui([&](CkavrelCtrl& c) { EXPECT_FALSE(c.full_screen()); });
  }
  // Destroying the window while in full screen stops the watcher.
  ASSERT_EQ(host_->call("CliFullScreen", {Variant::i4(1)}), com::S_OK);
  ASSERT_EQ(host_->destroy_window(), com::S_OK);
}

}  // namespace
}  // namespace kavrel::ui

namespace kavrel::ui {
namespace {

TEST_F(ControlWallTest, ALiveStartResultEndsThePanesConnectingIndicator) {
  CVideoFlash* flash = nullptr;
  on_ui([&](CkavrelCtrl& c) {
    CVideoPannel& panel = c.video_wall()->pane(3)->panel();
    platform::send_message(panel.GetHWND(), kMsgConnecting, kIndicatorOn, 0);
    flash = &panel.flash();
    EXPECT_TRUE(flash->running());
  });
  // From another thread, as the DoCallbackThread delivers it.
  std::thread([&] { EXPECT_TRUE(control_->NotifyPaneLiveStarted(3)); }).join();
  EXPECT_FALSE(control_->NotifyPaneLiveStarted(16));
  bool stopped = false;
  auto until = std::chrono::steady_clock::now() + 5s;
  while (!stopped && std::chrono::steady_clock::now() < until) {
    on_ui([&](CkavrelCtrl&) { stopped = !flash->running(); });
    if (!stopped) std::this_thread::sleep_for(5ms);
  }
  EXPECT_TRUE(stopped);
}

}  // namespace
}  // namespace kavrel::ui
