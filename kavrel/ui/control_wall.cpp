// The control's side of the video wall: building the wall and the playback pane with the control
// window, the control window's size and paint handlers, the wall's script methods, the
// two pages and full screen.
#include <chrono>

#include "kavrel/core/traced.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/ui/ui_messages.h"
#include "kavrel/ui/video_wnd_manager.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/user.h"
#include "platform/window/surface.h"
#include "trace/trace.h"

namespace kavrel {

namespace {

constexpr auto kEscapePollPeriod = std::chrono::milliseconds(100);

void arg(const char* name, int32_t value) { trace::value(name, value); }

}  // namespace

#define KAVREL_TRACED(method) TracedMethod traced("CkavrelCtrl::" #method)
#define KAVREL_ARG(name) arg(#name, name)

void CkavrelCtrl::CreateVideoWindows() {
  trace::step("Creating live video window");
  m_videoWall = std::make_unique<ui::CVideoWndManger>(m_hWnd);
  if (m_videoWall->Create(m_hWnd, "VideoManager", ui::kWallStyle) != nullptr) m_videoWall->Show(true);

  trace::step("Creating playback video window");
  m_playbackWnd = std::make_unique<ui::CVideoWnd>();
  if (m_playbackWnd->CreatePane(m_hWnd, "RecordVideoWnd", ui::kWallStyle, 0, true) != nullptr) {
    m_playbackWnd->Show(false);
  }

  trace::step("Initializing channel info");
  m_liveSlotInUse.fill(false);
  for (size_t i = 0; i < m_paneRenderWindows.size(); ++i) {
    ui::CVideoWnd* pane = m_videoWall->pane(static_cast<int>(i));
    m_paneRenderWindows[i].store(pane != nullptr ? pane->render_window() : nullptr);
  }
  OnSize();
}

void CkavrelCtrl::OnSize() {
  platform::Rect client;
  if (m_hWnd == nullptr || !platform::get_client_rect(m_hWnd, &client)) return;
  // A full-screen wall keeps the screen; it takes the control's size again when it comes back.
  if (m_videoWall != nullptr && !m_bFullScreen.load()) m_videoWall->Move(0, 0, client.right, client.bottom);
  if (m_playbackWnd != nullptr) m_playbackWnd->Move(0, 0, client.right, client.bottom);
}

void CkavrelCtrl::OnDraw() {
  platform::PAINTSTRUCT paint;
  platform::HDC dc = platform::BeginPaint(m_hWnd, &paint);
  if (dc == nullptr) return;
  platform::HBRUSH brush = platform::CreateSolidBrush(ui::kPaneBackground);
  platform::FillRect(dc, &paint.rcPaint, brush);
  platform::DeleteObject(brush);
  platform::EndPaint(m_hWnd, &paint);
}

void CkavrelCtrl::SetLiveSlotInUse(int32_t pane, bool in_use) {
  if (pane >= 0 && pane < static_cast<int32_t>(m_liveSlotInUse.size())) m_liveSlotInUse[pane] = in_use;
}

// ---- script methods ----

int32_t CkavrelCtrl::CliSetPicNum(int32_t lPicNum) {
  KAVREL_TRACED(CliSetPicNum);
  KAVREL_ARG(lPicNum);
  // Only the grids the wall can draw are accepted; any other count changes nothing.
  if (!ui::is_supported_count(lPicNum)) {
    trace::error("CkavrelCtrl::CliSetPicNum", __LINE__, "Unsupported number of panes");
    return -1;
  }
  if (m_videoWall == nullptr) return -1;
  m_videoWall->SetLayout(lPicNum);
  // The pane count is part of the wall the user comes back to.
  SaveSetup();
  return 0;
}

int32_t CkavrelCtrl::CliGetPicNum() {
  KAVREL_TRACED(CliGetPicNum);
  return m_videoWall != nullptr ? m_videoWall->count() : 4;
}

int32_t CkavrelCtrl::CliGetCurrPicIndex() {
  KAVREL_TRACED(CliGetCurrPicIndex);
  return m_videoWall != nullptr ? m_videoWall->selected_index() : 0;
}

void CkavrelCtrl::CliEnableViewDoubleClick(int32_t lEnable) {
  KAVREL_TRACED(CliEnableViewDoubleClick);
  KAVREL_ARG(lEnable);
  m_enableViewDoubleClick = lEnable != 0;  // no behaviour reads it: double click always maximises
}

void CkavrelCtrl::CliShowViewTitle(int32_t lShow) {
  KAVREL_TRACED(CliShowViewTitle);
  KAVREL_ARG(lShow);
}

void CkavrelCtrl::CliShowViewStatus(int32_t lShow) {
  KAVREL_TRACED(CliShowViewStatus);
  KAVREL_ARG(lShow);
}

int32_t CkavrelCtrl::CliGetFirstIdelPicIndex() {
  KAVREL_TRACED(CliGetFirstIdelPicIndex);
  for (size_t i = 0; i < m_liveSlotInUse.size(); ++i) {
    if (!m_liveSlotInUse[i]) return static_cast<int32_t>(i);
  }
  return -1;
}

void CkavrelCtrl::CliChangePageTo(int32_t lPage) {
  KAVREL_TRACED(CliChangePageTo);
  KAVREL_ARG(lPage);
  trace::value("m_lPage", m_lPage);
  if (m_lPage == 0) {
    trace::step("Closing live page (1514)");
    if (m_videoWall != nullptr) m_videoWall->Show(false);
  } else if (m_lPage == 1) {
    trace::step("Closing play page (1520)");
    if (m_playbackWnd != nullptr) m_playbackWnd->Show(false);
    CliStopPlaybackDev(0);
  }
  if (lPage == 0) {
    trace::step("Opening live page (1529)");
    if (m_videoWall != nullptr) m_videoWall->Show(true);
  } else if (lPage == 1) {
    trace::step("Opening play page (1535)");
    if (m_playbackWnd != nullptr) m_playbackWnd->Show(true);
  }
  m_lPage = lPage;
}

void CkavrelCtrl::CliFullScreen(int32_t bFull) {
  KAVREL_TRACED(CliFullScreen);
  KAVREL_ARG(bFull);
  if (bFull != 0) {
    EnterFullScreen();
  } else {
    LeaveFullScreen();
  }
}

// ---- full screen ----

void CkavrelCtrl::EnterFullScreen() {
  if (m_videoWall == nullptr || m_videoWall->GetHWND() == nullptr) return;
  if (m_bFullScreen.load()) return;  // one watcher at a time
  platform::HWND wall = m_videoWall->GetHWND();
  platform::SetParent(wall, nullptr);
  platform::SetWindowPos(wall, platform::HWND_TOPMOST, 0, 0, platform::GetSystemMetrics(platform::SM_CXSCREEN) + 2,
                         platform::GetSystemMetrics(platform::SM_CYSCREEN) + 2,
                         platform::SWP_SHOWWINDOW | platform::SWP_FRAMECHANGED);
  m_bFullScreen.store(true);
  platform::HWND control = m_hWnd;
  m_fullScreenWatcher = std::thread([this, control] {
    std::unique_lock<std::mutex> hold(m_fullScreenLock);
    while (m_bFullScreen.load()) {
      if (platform::GetAsyncKeyState(platform::VK_ESCAPE) & 0x8000) {
        // The windows belong to the user-interface thread: ask it to leave.
        platform::post_message(control, ui::kMsgLeaveFullScreen, 0, 0);
        return;
      }
      m_fullScreenWake.wait_for(hold, kEscapePollPeriod, [&] { return !m_bFullScreen.load(); });
    }
  });
}

void CkavrelCtrl::StopFullScreenWatcher() {
  {
    std::lock_guard<std::mutex> hold(m_fullScreenLock);
    m_bFullScreen.store(false);
  }
  m_fullScreenWake.notify_all();
  if (m_fullScreenWatcher.joinable()) m_fullScreenWatcher.join();
}

void CkavrelCtrl::LeaveFullScreen() {
  if (!m_bFullScreen.load() && !m_fullScreenWatcher.joinable()) return;
  StopFullScreenWatcher();
  if (m_videoWall == nullptr || m_videoWall->GetHWND() == nullptr || m_hWnd == nullptr) return;
  platform::SetParent(m_videoWall->GetHWND(), m_hWnd);
  platform::Rect client;
  platform::get_client_rect(m_hWnd, &client);
  m_videoWall->Move(client);
}

}  // namespace kavrel
