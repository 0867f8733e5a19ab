// Message and command numbers of the video wall's windows.
//
// The mouse and housekeeping messages keep their Win32 numbers, so a host that feeds input to
// the control's windows and the windows themselves agree on them. The wall's own messages
// (2224 to 3224) travel between the panes, the wall and the control window; the command numbers
// travel inside message 3224 from a pressed button or a menu item up to the control's command
// dispatcher.
#pragma once

#include <cstdint>

#include "platform/window/host_site.h"
#include "platform/window/window.h"

namespace kavrel::ui {

using platform::UINT;

// ---- Win32 messages the wall's windows handle ----
inline constexpr UINT WM_ERASEBKGND = 0x0014;
inline constexpr UINT WM_SETCURSOR = 0x0020;
inline constexpr UINT WM_GETMINMAXINFO = 0x0024;
inline constexpr UINT WM_NOTIFY = 0x004E;
inline constexpr UINT WM_CONTEXTMENU = 0x007B;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_CTLCOLOREDIT = 0x0133;
inline constexpr UINT WM_CTLCOLORSTATIC = 0x0138;
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
inline constexpr UINT WM_RBUTTONDOWN = 0x0204;
inline constexpr UINT WM_RBUTTONUP = 0x0205;
inline constexpr UINT WM_MOUSEHOVER = 0x02A1;
// Reflected child notifications arrive at the child as the message number plus this.
inline constexpr UINT OCM_BASE = 0x2000;
// What WM_NOTIFY carries in lParam (a pointer to this, or to a larger record that starts so).
struct NMHDR {
  platform::HWND hwndFrom = nullptr;
  uintptr_t idFrom = 0;
  UINT code = 0;
};

// Win32 packs a point into lParam as x in the low 16 bits and y in the high 16 bits, each signed.
constexpr platform::LPARAM make_point_lparam(int x, int y) {
  return static_cast<platform::LPARAM>(static_cast<uint32_t>(static_cast<uint16_t>(x)) |
                                       (static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16));
}
constexpr int point_x(platform::LPARAM lparam) { return static_cast<int16_t>(lparam & 0xFFFF); }
constexpr int point_y(platform::LPARAM lparam) { return static_cast<int16_t>((lparam >> 16) & 0xFFFF); }

// ---- the wall's own messages ----
inline constexpr UINT kMsgSelectPane = 2224;         // pane -> wall: wParam the pane
inline constexpr UINT kMsgMaximizeRestore = 2225;    // pane -> wall: wParam the pane
inline constexpr UINT kMsgConnecting = 2226;         // -> panel: wParam 5 shows, else hides
inline constexpr UINT kMsgExportIndicator = 2228;    // -> panel: wParam 5 shows, else hides
inline constexpr UINT kMsgExportPercent = 2229;      // -> panel: wParam the percentage
inline constexpr UINT kMsgCommand = 3224;            // a command climbing to the control window
inline constexpr platform::WPARAM kIndicatorOn = 5;  // wParam that shows an indicator
// Posted to the control window by the full-screen watcher when Escape is pressed.
inline constexpr UINT kMsgLeaveFullScreen = 0x0400 + 100;
// Posted to the control window by a live start thread: wParam the pane whose slot has a title,
// size or alarm-output state to show.
inline constexpr UINT kMsgLiveSlotChanged = 0x0400 + 101;
// Posted to the control window when the resume delay has passed.
inline constexpr UINT kMsgResumeLive = 0x0400 + 102;
// DoCallbackThread -> control window: a camera list was processed; the default layout follows.
inline constexpr UINT kMsgOpenDefaultLayout = 0x0400 + 103;

// What WM_GETMINMAXINFO carries in lParam (a pointer to this).
struct MINMAXINFO {
  platform::Point ptReserved;
  platform::Point ptMaxSize;
  platform::Point ptMaxPosition;
  platform::Point ptMinTrackSize;
  platform::Point ptMaxTrackSize;
};

// ---- command numbers ----
enum Command : int32_t {
  kCmdSelectionChanged = 0,
  kCmdSnapshot = 200,
  kCmdRecord = 201,
  kCmdClose = 205,
  kCmdAlarmOutput = 208,
  kCmdCancelExport = 209,
  kCmdHistory = 210,
  kCmdBlc = 211,
  kCmdFreeze = 212,
  kCmdFisheyeCeiling = 213,
  kCmdFisheyeFloor = 214,
  kCmdFisheyeWall = 215,
  kCmdFisheyeOriginal = 216,
  kCmdFisheyePanorama1 = 217,
  kCmdFisheyeOriginal2 = 219,
  kCmdFisheyeOriginal3 = 220,
  kCmdFisheyeOriginal4 = 221,
  kCmdFisheyePanorama6 = 222,
  kCmdFisheyeOriginal8 = 223,
  kCmdFisheyeWallPanorama = 224,
  kCmdFisheyeWallPanorama3 = 225,
  kCmdFisheyeWallPanorama4 = 226,
  kCmdFisheyeWallPanorama8 = 227,
  kCmdBlcOff = 229,
  kCmdBlcLow = 230,
  kCmdBlcDefault = 231,
  kCmdBlcHigh = 232,
  kCmdHistoryOff = 239,
  kCmdHistoryShort = 240,
  kCmdHistoryMedium = 241,
  kCmdHistoryLong = 242,
  kCmdReconnect = 250,
  kCmdFreezeOff = 259,
  kCmdFreezeTopLeft = 260,
  kCmdFreezeTopRight = 261,
  kCmdFreezeBottomLeft = 262,
  kCmdFreezeBottomRight = 263,
};

// Timer identifiers of the pane windows.
inline constexpr uintptr_t kHoverTimerId = 2001;
inline constexpr uint32_t kHoverTimerPeriodMs = 50;
inline constexpr uintptr_t kSpinnerTimerId = 1;
inline constexpr uint32_t kSpinnerTimerPeriodMs = 200;

// Colours (0x00BBGGRR).
inline constexpr uint32_t kPaneBackground = 0xDCDCDC;
inline constexpr uint32_t kSelectedBorder = 0x00FF00;
inline constexpr uint32_t kIdleBorder = 0x696969;

}  // namespace kavrel::ui
