// The wall with real windows: layouts, pages, selection, maximise and restore, the picture
// modes on layout changes, the panes' bars and indicators, and commands climbing from a button
// or a menu item to the control window.
#include <gtest/gtest.h>

#include <cstdio>

#include "kavrel/resources/module_resources.h"
#include "kavrel/ui/testing/ui_fixture.h"
#include "kavrel/ui/video_wnd_manager.h"

namespace kavrel::ui {
namespace {

using platform::Rect;
using testing::CommandSink;
using testing::PictureModeRecorder;
using testing::pump_pending;
using testing::pump_until;

class WallTest : public testing::UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    sink_ = std::make_unique<CommandSink>();
    wall_ = std::make_unique<CVideoWndManger>(sink_->window());
    ASSERT_NE(wall_->Create(sink_->window(), "VideoManager", kWallStyle), nullptr);
    wall_->Move(0, 0, 800, 448);
    pump_pending();
    PictureModeRecorder::taken();
  }
  void TearDown() override {
    wall_.reset();
    sink_.reset();
    UiTest::TearDown();
  }

  std::vector<int> visible_panes() const {
    std::vector<int> out;
    for (int i = 0; i < kPaneCount; ++i) {
      if (platform::get_window_style(wall_->pane(i)->GetHWND()) & platform::WS_VISIBLE) out.push_back(i);
    }
    return out;
  }
  Rect rect_of(int index) const {
    Rect r;
    platform::get_window_rect(wall_->pane(index)->GetHWND(), &r);
    return r;
  }
  void select(int index) {
    platform::send_message(wall_->GetHWND(), kMsgSelectPane, reinterpret_cast<WPARAM>(wall_->pane(index)), 0);
  }
  std::vector<CommandSink::Command> commands() {
    pump_pending();
    std::vector<CommandSink::Command> out;
    out.swap(sink_->commands);
    return out;
  }

  std::unique_ptr<CommandSink> sink_;
  std::unique_ptr<CVideoWndManger> wall_;
};

std::vector<int> range(int from, int to) {
  std::vector<int> out;
  for (int i = from; i < to; ++i) out.push_back(i);
  return out;
}

TEST_F(WallTest, StartsWithFourPanesAndPaneZeroSelected) {
  EXPECT_EQ(wall_->count(), 4);
  EXPECT_EQ(wall_->selected_index(), 0);
  EXPECT_TRUE(wall_->pane(0)->selected());
  EXPECT_EQ(visible_panes(), range(0, 4));
  EXPECT_EQ(rect_of(3), (Rect{400, 224, 800, 448}));
  EXPECT_EQ(platform::get_window_name(wall_->pane(7)->GetHWND()), "ViewWnd");
  EXPECT_EQ(CWindowWnd::FromHandle(wall_->pane(7)->GetHWND()), wall_->pane(7));
}

TEST_F(WallTest, ThirteenPutsTheLargeCentreLast) {
  ASSERT_TRUE(wall_->SetLayout(13));
  EXPECT_EQ(visible_panes(), range(0, 13));
  EXPECT_EQ(rect_of(12), (Rect{200, 112, 600, 336}));
  EXPECT_EQ(rect_of(4), (Rect{0, 112, 200, 224}));
}

TEST_F(WallTest, SixPanesWithPaneFourteenSelectedShowThePageStartingAtTen) {
  ASSERT_TRUE(wall_->SetLayout(16));
  select(14);
  ASSERT_TRUE(wall_->SetLayout(6));
  EXPECT_EQ(wall_->page(), 2);
  EXPECT_EQ(visible_panes(), range(10, 16));
  EXPECT_EQ(rect_of(10), (Rect{0, 0, 532, 298}));  // the large position of layout 6
  EXPECT_EQ(rect_of(14), (Rect{266, 298, 532, 447}));
  EXPECT_EQ(wall_->selected_index(), 14);
}

TEST_F(WallTest, AnUnsupportedCountChangesNothing) {
  ASSERT_TRUE(wall_->SetLayout(9));
  PictureModeRecorder::taken();
  for (int count : {0, 2, 5, 12, 17, 25, 64, -4}) {
    EXPECT_FALSE(wall_->SetLayout(count)) << count;
    EXPECT_EQ(wall_->count(), 9);
    EXPECT_EQ(visible_panes(), range(0, 9));
  }
  EXPECT_TRUE(PictureModeRecorder::taken().empty());
}

TEST_F(WallTest, FiltersGoOffWhenLeavingForMoreThanEightPanesOnly) {
  CVideoWnd* first = wall_->pane(0);
  first->SetHistoryMode(true);
  first->SetFreezeMode(true, 1);
  PictureModeRecorder::taken();

  // The same count again: nothing at all.
  ASSERT_TRUE(wall_->SetLayout(4));
  EXPECT_TRUE(PictureModeRecorder::taken().empty());
  EXPECT_TRUE(first->panel().tool().flags().history);

  // 4 -> 9: the four panes that were shown get all three switched off, on their render windows.
  ASSERT_TRUE(wall_->SetLayout(9));
  auto calls = PictureModeRecorder::taken();
  ASSERT_EQ(calls.size(), 12u);
  for (int pane = 0; pane < 4; ++pane) {
    for (int k = 0; k < 3; ++k) {
      const auto& call = calls[static_cast<size_t>(pane * 3 + k)];
      EXPECT_EQ(call.window, wall_->pane(pane)->render_window());
      EXPECT_EQ(call.value, 0);
    }
    EXPECT_EQ(calls[static_cast<size_t>(pane * 3)].what, "history");
    EXPECT_EQ(calls[static_cast<size_t>(pane * 3 + 1)].what, "wdr");
    EXPECT_EQ(calls[static_cast<size_t>(pane * 3 + 2)].what, "freeze");
  }
  EXPECT_FALSE(first->panel().tool().flags().history);
  EXPECT_FALSE(first->panel().tool().flags().freeze);

  // 16 -> 4 does not touch them.
  ASSERT_TRUE(wall_->SetLayout(16));
  PictureModeRecorder::taken();
  wall_->pane(2)->SetWdrMode(true);
  PictureModeRecorder::taken();
  ASSERT_TRUE(wall_->SetLayout(4));
  EXPECT_TRUE(PictureModeRecorder::taken().empty());
  EXPECT_TRUE(wall_->pane(2)->panel().tool().flags().blc);
}

TEST_F(WallTest, MaximiseAndRestoreReturnToTheLayoutOnThePageOfTheSelectedPane) {
  ASSERT_TRUE(wall_->SetLayout(6));
  select(8);  // not on page 0; selection alone does not change the page
  EXPECT_EQ(wall_->page(), 0);
  platform::send_message(wall_->GetHWND(), kMsgMaximizeRestore, reinterpret_cast<WPARAM>(wall_->pane(8)), 0);
  EXPECT_EQ(wall_->count(), 1);
  EXPECT_EQ(visible_panes(), std::vector<int>{8});
  EXPECT_EQ(rect_of(8), (Rect{0, 0, 800, 448}));
  EXPECT_EQ(wall_->saved_count(), 6);

  platform::send_message(wall_->GetHWND(), kMsgMaximizeRestore, reinterpret_cast<WPARAM>(wall_->pane(8)), 0);
  EXPECT_EQ(wall_->count(), 6);
  EXPECT_EQ(wall_->page(), 1);
  EXPECT_EQ(visible_panes(), range(6, 12));
  EXPECT_EQ(rect_of(8), (Rect{532, 149, 798, 298}));
}

TEST_F(WallTest, ResizingKeepsLayoutAndPage) {
  ASSERT_TRUE(wall_->SetLayout(4));
  select(5);
  ASSERT_TRUE(wall_->SetLayout(9));
  ASSERT_TRUE(wall_->SetLayout(4));
  EXPECT_EQ(wall_->page(), 1);
  wall_->Move(0, 0, 400, 300);
  EXPECT_EQ(visible_panes(), range(4, 8));
  EXPECT_EQ(rect_of(7), (Rect{200, 150, 400, 300}));
}

TEST_F(WallTest, AClickSelectsThePaneAndTellsTheControl) {
  commands();
  mouse(wall_->pane(3)->GetHWND(), WM_LBUTTONDOWN, 0, 0);
  auto got = commands();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].wparam, 3u);
  EXPECT_EQ(got[0].lparam, 0);
  EXPECT_TRUE(wall_->pane(3)->selected());
  EXPECT_FALSE(wall_->pane(0)->selected());
  EXPECT_EQ(wall_->selected_index(), 3);
}

TEST_F(WallTest, AToolBarButtonCommandClimbsToTheControlWithThePaneIndex) {
  CVideoWnd* pane = wall_->pane(2);
  pane->SetVideoInfo(u"Câmera 3 - Principal");
  CVideoTool& tool = pane->panel().tool();
  commands();
  // Hover the bar so it shows, then press the snapshot button.
  Rect tool_rect;
  platform::window_rect_in(tool.GetHWND(), pane->panel().GetHWND(), &tool_rect);
  mouse(pane->panel().GetHWND(), WM_MOUSEMOVE, tool_rect.left + 5, tool_rect.top + 5);
  ASSERT_TRUE(platform::get_window_style(tool.GetHWND()) & platform::WS_VISIBLE);
  const platform::RECT& snap = tool.button(kToolSnapshot).rect;
  mouse(tool.GetHWND(), WM_LBUTTONDOWN, (snap.left + snap.right) / 2, (snap.top + snap.bottom) / 2);
  ASSERT_TRUE(pump_until([&] { return !sink_->commands.empty(); }));
  auto got = commands();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].wparam, 2u);
  EXPECT_EQ(got[0].lparam, kCmdSnapshot);
  EXPECT_EQ(wall_->selected_index(), 2) << "a command from a pane selects it";
}

TEST_F(WallTest, TheRightClickMenuHasItsItemsAndSendsTheChosenCommand) {
  site_->answer_menu(kCmdReconnect);
  commands();
  mouse(wall_->pane(1)->GetHWND(), WM_RBUTTONDOWN, 0, 0);
  auto got = commands();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].wparam, 1u);
  EXPECT_EQ(got[0].lparam, kCmdReconnect);

  const platform::Menu& menu = site_->last_menu;
  ASSERT_EQ(menu.items.size(), 7u);
  EXPECT_EQ(menu.items[0].text, "Fechar");
  EXPECT_EQ(menu.items[0].command, 205u);
  EXPECT_EQ(menu.items[1].text, "Reconectar");
  EXPECT_TRUE(menu.items[2].separator);
  auto texts = [](const platform::MenuItem& item) {
    std::vector<std::pair<std::string, uint32_t>> out;
    for (const auto& sub : item.submenu) out.emplace_back(sub.separator ? "-" : sub.text, sub.command);
    return out;
  };
  using Items = std::vector<std::pair<std::string, uint32_t>>;
  EXPECT_EQ(menu.items[3].text, "BLC");
  EXPECT_EQ(texts(menu.items[3]), (Items{{"Inativo", 229}, {"Baixo", 230}, {"Padrão", 231}, {"Alto", 232}}));
  EXPECT_EQ(menu.items[4].text, "Histórico");
  EXPECT_EQ(texts(menu.items[4]), (Items{{"Inativo", 239}, {"Breve", 240}, {"Médio", 241}, {"Longo", 242}}));
  EXPECT_EQ(menu.items[5].text, "Congelar");
  EXPECT_EQ(texts(menu.items[5]), (Items{{"Inativo", 259},
                                         {"Superior esquerda", 260},
                                         {"Superior direito", 261},
                                         {"Inferior esquerdo", 262},
                                         {"Inferior direita", 263}}));
  const platform::MenuItem& fisheye = menu.items[6];
  EXPECT_EQ(fisheye.text, "Fisheye");
  ASSERT_EQ(fisheye.submenu.size(), 6u);
  EXPECT_EQ(texts(fisheye)[0], (std::pair<std::string, uint32_t>{"Teto", 213}));
  EXPECT_EQ(texts(fisheye)[1], (std::pair<std::string, uint32_t>{"Chão", 214}));
  EXPECT_EQ(texts(fisheye)[2], (std::pair<std::string, uint32_t>{"Parede", 215}));
  EXPECT_TRUE(fisheye.submenu[3].separator);
  EXPECT_EQ(fisheye.submenu[4].text, "Layout para teto/chão");
  EXPECT_EQ(texts(fisheye.submenu[4]), (Items{{"Original", 216},
                                              {"Panorama mais 1 EPTZ", 217},
                                              {"Original mais 2 EPTZ", 219},
                                              {"Original mais 3 EPTZ", 220},
                                              {"Original mais 4 EPTZ", 221},
                                              {"Panorama mais 6 EPTZ", 222},
                                              {"Original mais 8 EPTZ", 223}}));
  EXPECT_EQ(fisheye.submenu[5].text, "Layout para parede");
  EXPECT_EQ(texts(fisheye.submenu[5]), (Items{{"Panorama", 224},
                                              {"Panorama mais 3 EPTZ", 225},
                                              {"Panorama mais 4 EPTZ", 226},
                                              {"Panorama mais 8 EPTZ", 227}}));

  // A right click on the panel reaches the pane as a context menu; choosing nothing sends nothing.
  mouse(wall_->pane(1)->panel().GetHWND(), WM_RBUTTONUP, 20, 20);
  EXPECT_TRUE(commands().empty());
  EXPECT_EQ(site_->calls().size(), 2u);
}

TEST_F(WallTest, BarsShowOnHoverOnlyWhenThePaneHasATitle) {
  CVideoPannel& panel = wall_->pane(0)->panel();
  HWND window = panel.GetHWND();
  Rect client;
  platform::get_client_rect(window, &client);
  mouse(window, WM_MOUSEMOVE, 50, client.bottom - 10);
  EXPECT_FALSE(panel.bars_shown()) << "no title: nothing to show";

  wall_->pane(0)->SetVideoInfo(u"Portaria - Principal");
  mouse(window, WM_MOUSEMOVE, 50, client.bottom - 10);
  EXPECT_TRUE(panel.bars_shown());
  EXPECT_TRUE(platform::get_window_style(panel.info_tool().GetHWND()) & platform::WS_VISIBLE);
  mouse(window, WM_MOUSEMOVE, 50, client.bottom / 2);
  EXPECT_FALSE(panel.bars_shown());

  // Leaving without a mouse message over the panel: the hover timer notices.
  mouse(window, WM_MOUSEMOVE, 50, 5);
  ASSERT_TRUE(panel.bars_shown());
  cursor_at(window, 50, client.bottom / 2);
  EXPECT_TRUE(pump_until([&] { return !panel.bars_shown(); }));
  EXPECT_FALSE(platform::get_window_style(panel.tool().GetHWND()) & platform::WS_VISIBLE);
}

TEST_F(WallTest, OptimiseViewFitsThePanelToTheVideo) {
  ASSERT_TRUE(wall_->SetLayout(1));  // 800 x 448
  CVideoWnd* pane = wall_->pane(0);
  Rect panel;
  pane->OptimizeView(352, 480);  // treated as 704 x 480: wider than the pane's shape allows
  platform::get_window_rect(pane->panel().GetHWND(), &panel);
  int width = 448 * 704 / 480;  // 657
  EXPECT_EQ(panel, (Rect{(800 - width) >> 1, 1, ((800 - width) >> 1) + width, 447}));
  pane->OptimizeView(1080, 1920);  // portrait: fills the pane less its border
  platform::get_window_rect(pane->panel().GetHWND(), &panel);
  EXPECT_EQ(panel, (Rect{1, 1, 799, 447}));
  // The stored size is used again on resize.
  pane->OptimizeView(1920, 1080);
  wall_->Move(0, 0, 400, 400);
  platform::get_window_rect(pane->panel().GetHWND(), &panel);
  EXPECT_EQ(panel, (Rect{1, (400 - 225) >> 1, 399, ((400 - 225) >> 1) + 225}));
}

TEST_F(WallTest, ConnectingIndicatorTurnsUntilHidden) {
  CVideoPannel& panel = wall_->pane(0)->panel();
  platform::post_message(panel.GetHWND(), kMsgConnecting, kIndicatorOn, 0);
  ASSERT_TRUE(pump_until([&] { return panel.flash().running(); }));
  EXPECT_TRUE(platform::get_window_style(panel.flash().GetHWND()) & platform::WS_VISIBLE);
  ASSERT_TRUE(pump_until([&] { return panel.flash().angle() >= 60; }));
  platform::post_message(panel.GetHWND(), kMsgConnecting, 0, 0);
  ASSERT_TRUE(pump_until([&] { return !panel.flash().running(); }));
  EXPECT_FALSE(platform::get_window_style(panel.flash().GetHWND()) & platform::WS_VISIBLE);
  // A missing picture file leaves the plain face.
  panel.flash().SetPicture("/nonexistent/kavrel_last_frame.bmp");
  EXPECT_FALSE(panel.flash().has_picture());
  // The last frame of the pane is shown under the spinner until the indicator is hidden.
  std::string path = ::testing::TempDir() + "kavrel_last_frame.bmp";
  resources::ResourceBytes bmp = resources::module_resources().Find(1, resources::kTypeBitmap);
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bmp.data, 1, bmp.size, f);
  std::fclose(f);
  panel.flash().SetPicture(path);
  EXPECT_TRUE(panel.flash().has_picture());
  platform::send_message(panel.GetHWND(), kMsgConnecting, kIndicatorOn, 0);
  pump_pending();
  platform::send_message(panel.GetHWND(), kMsgConnecting, 0, 0);
  EXPECT_FALSE(panel.flash().has_picture());
  std::remove(path.c_str());
}

TEST_F(WallTest, AClickAndADoubleClickOnTheConnectingIndicatorReachThePane) {
  CVideoPannel& panel = wall_->pane(2)->panel();
  platform::send_message(panel.GetHWND(), kMsgConnecting, kIndicatorOn, 0);
  commands();
  mouse(panel.flash().GetHWND(), WM_LBUTTONDOWN, 10, 10);
  EXPECT_EQ(wall_->selected_index(), 2);
  mouse(panel.flash().GetHWND(), WM_LBUTTONDBLCLK, 10, 10);
  EXPECT_EQ(wall_->count(), 1);
  mouse(panel.flash().GetHWND(), WM_LBUTTONDBLCLK, 10, 10);
  EXPECT_EQ(wall_->count(), 4);
  platform::send_message(panel.GetHWND(), kMsgConnecting, 0, 0);
}

TEST_F(WallTest, ExportIndicatorShowsItsPercentage) {
  CVideoPannel& panel = wall_->pane(1)->panel();
  platform::send_message(panel.GetHWND(), kMsgExportIndicator, kIndicatorOn, 0);
  platform::send_message(panel.GetHWND(), kMsgExportPercent, 42, 0);
  EXPECT_TRUE(panel.progress_visible());
  EXPECT_EQ(panel.progress().percent(), 42);
  Rect r;
  platform::window_rect_in(panel.progress().GetHWND(), panel.GetHWND(), &r);
  EXPECT_EQ(r.width(), 120);
  EXPECT_EQ(r.height(), 120);
  platform::send_message(panel.GetHWND(), kMsgExportIndicator, 0, 0);
  EXPECT_FALSE(panel.progress_visible());
}

TEST_F(WallTest, DestroyingTheWallUnbindsEveryWindow) {
  size_t before = CWindowWnd::bound_window_count();
  EXPECT_GE(before, 1u + 16u * 6u);
  wall_.reset();
  EXPECT_EQ(CWindowWnd::bound_window_count(), before - (1u + 16u * 6u));
}

TEST(WindowClass, RefusedRegistrationCreatesNoWindow) {
  set_class_registration_refused_for_testing(true);
  CVideoWnd pane;
  EXPECT_EQ(pane.CreatePane(nullptr, "ViewWnd", kPaneStyle, 0, false), nullptr);
  set_class_registration_refused_for_testing(false);
  EXPECT_NE(pane.CreatePane(nullptr, "ViewWnd", kPaneStyle, 0, false), nullptr);
}

}  // namespace
}  // namespace kavrel::ui

namespace kavrel::ui {
namespace {

// A child control that records what is reflected to it.
std::vector<platform::UINT>* reflected = nullptr;
platform::LRESULT ChildControl(platform::HWND w, platform::UINT m, platform::WPARAM wp, platform::LPARAM lp) {
  if (m >= OCM_BASE && reflected != nullptr) reflected->push_back(m);
  return platform::default_window_proc(w, m, wp, lp);
}

TEST_F(WallTest, ChildControlNotificationsAreReflectedToTheChild) {
  std::vector<platform::UINT> got;
  reflected = &got;
  HWND pane = wall_->pane(0)->GetHWND();
  platform::WindowSpec spec;
  spec.parent = pane;
  spec.style = platform::WS_CHILD;
  spec.proc = &ChildControl;
  HWND child = platform::create_window(spec);
  EXPECT_EQ(platform::send_message(pane, WM_COMMAND, 1, reinterpret_cast<LPARAM>(child)), 1);
  EXPECT_EQ(platform::send_message(pane, WM_CTLCOLORSTATIC, 0, reinterpret_cast<LPARAM>(child)), 1);
  NMHDR header{child, 7, 0};
  EXPECT_EQ(platform::send_message(pane, WM_NOTIFY, 7, reinterpret_cast<LPARAM>(&header)), 1);
  // A handle that is not a child of the window is not reflected.
  EXPECT_EQ(platform::send_message(pane, WM_COMMAND, 1, reinterpret_cast<LPARAM>(sink_->window())), 0);
  EXPECT_EQ(got, (std::vector<platform::UINT>{WM_COMMAND + OCM_BASE, WM_CTLCOLORSTATIC + OCM_BASE,
                                              WM_NOTIFY + OCM_BASE}));
  reflected = nullptr;
  platform::destroy_window(child);
}

}  // namespace
}  // namespace kavrel::ui
