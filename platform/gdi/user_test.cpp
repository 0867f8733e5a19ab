// Menus, cursor, keys, screen metrics and topmost placement reach the host site.
#include "platform/gdi/user.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/window/testing/scripted_site.h"
#include "platform/window/window.h"

namespace platform {
namespace {

class UserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site_ = std::make_shared<testing::ScriptedSite>();
    set_host_site(site_);
  }
  void TearDown() override { set_host_site(nullptr); }
  std::shared_ptr<testing::ScriptedSite> site_;
};

// The pane menu's shape: items, a separator and a submenu.
HMENU pane_menu() {
  HMENU blc = CreatePopupMenu();
  AppendMenuW(blc, MF_STRING, 229, u"Inativo");
  AppendMenuW(blc, MF_STRING, 231, u"Padrão");
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, 205, u"Fechar");
  AppendMenuW(menu, MF_STRING, 250, u"Reconectar");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(blc), u"BLC");
  return menu;
}

TEST_F(UserTest, MenuTreeReachesTheSiteAsData) {
  HMENU menu = pane_menu();
  Menu data;
  ASSERT_TRUE(menu_to_data(menu, &data));
  ASSERT_EQ(data.items.size(), 4u);
  EXPECT_EQ(data.items[0].text, "Fechar");
  EXPECT_EQ(data.items[0].command, 205u);
  EXPECT_TRUE(data.items[2].separator);
  EXPECT_EQ(data.items[3].text, "BLC");
  ASSERT_EQ(data.items[3].submenu.size(), 2u);
  EXPECT_EQ(data.items[3].submenu[1].text, "Padrão");
  EXPECT_EQ(data.items[3].submenu[1].command, 231u);
  EXPECT_TRUE(DestroyMenu(menu));
  EXPECT_EQ(GetMenuItemCount(menu), -1);
}

TEST_F(UserTest, TrackPopupMenuReturnsOrPostsTheChoice) {
  HMENU menu = pane_menu();
  site_->answer_menu(231);
  EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_CENTERALIGN, 10, 20, 0, nullptr, nullptr), 231);
  ASSERT_EQ(site_->calls().size(), 1u);
  EXPECT_EQ(site_->calls()[0].kind, "menu");
  EXPECT_EQ(site_->calls()[0].text, "Fechar");
  EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, nullptr, nullptr), 0) << "nothing chosen";

  HWND owner = create_window(WindowSpec{nullptr, Rect{0, 0, 10, 10}, 0, "owner", nullptr, nullptr});
  site_->answer_menu(250);
  EXPECT_EQ(TrackPopupMenu(menu, TPM_LEFTALIGN, 0, 0, 0, owner, nullptr), 1);
  Msg msg;
  ASSERT_TRUE(peek_message(&msg));
  EXPECT_EQ(msg.message, WM_COMMAND);
  EXPECT_EQ(msg.wparam, 250u);
  destroy_window(owner);
  DestroyMenu(menu);
  EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, nullptr, nullptr), 0) << "destroyed menu";
}

TEST_F(UserTest, AppendRefusesAMenuInsideItself) {
  HMENU menu = CreatePopupMenu();
  EXPECT_FALSE(AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(menu), "loop"));
  EXPECT_FALSE(AppendMenuA(reinterpret_cast<HMENU>(uintptr_t{0x1234}), MF_STRING, 1, "x"));
  DestroyMenu(menu);
}

TEST_F(UserTest, CursorKeysAndScreen) {
  site_->set_cursor(Point{130, 85});
  site_->set_screen(Size{1280, 720});
  HWND root = create_window(WindowSpec{nullptr, Rect{100, 50, 400, 300}, WS_VISIBLE, "control", nullptr, nullptr});
  HWND pane = create_window(WindowSpec{root, Rect{10, 20, 110, 120}, WS_VISIBLE | WS_CHILD, "pane", nullptr, nullptr});
  POINT p;
  ASSERT_TRUE(GetCursorPos(&p));
  EXPECT_EQ(p, (POINT{130, 85}));
  ASSERT_TRUE(ScreenToClient(pane, &p));
  EXPECT_EQ(p, (POINT{20, 15}));
  ASSERT_TRUE(ClientToScreen(pane, &p));
  EXPECT_EQ(p, (POINT{130, 85}));
  RECT screen_rect;
  ASSERT_TRUE(GetWindowScreenRect(pane, &screen_rect));
  EXPECT_EQ(screen_rect, (RECT{110, 70, 210, 170}));
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1280);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 720);
  EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 0);
  site_->set_key(VK_ESCAPE, true);
  EXPECT_NE(GetAsyncKeyState(VK_ESCAPE) & 0x8000, 0);
  destroy_window(root);
  EXPECT_FALSE(ScreenToClient(pane, &p));
}

TEST_F(UserTest, FullScreenPlacementAndReturn) {
  HWND control = create_window(WindowSpec{nullptr, Rect{0, 0, 900, 600}, WS_VISIBLE, "control", nullptr, nullptr});
  HWND wall = create_window(WindowSpec{control, Rect{0, 0, 900, 600}, WS_VISIBLE | WS_CHILD, "VideoManager", nullptr, nullptr});
  // Enter: detach, then topmost over the screen plus two pixels.
  EXPECT_EQ(SetParent(wall, nullptr), control);
  ASSERT_TRUE(SetWindowPos(wall, HWND_TOPMOST, 0, 0, GetSystemMetrics(SM_CXSCREEN) + 2, GetSystemMetrics(SM_CYSCREEN) + 2,
                           SWP_SHOWWINDOW | SWP_FRAMECHANGED));
  EXPECT_EQ(site_->topmost(), wall);
  EXPECT_EQ(topmost_window(), wall);
  RECT placed;
  get_window_rect(wall, &placed);
  EXPECT_EQ(placed, (RECT{0, 0, 1922, 1082}));
  // Leave: back under the control.
  EXPECT_EQ(SetParent(wall, control), nullptr);
  EXPECT_EQ(site_->topmost(), nullptr);
  EXPECT_EQ(topmost_window(), nullptr);
  EXPECT_EQ(get_parent(wall), control);
  destroy_window(control);
}

}  // namespace
}  // namespace platform
