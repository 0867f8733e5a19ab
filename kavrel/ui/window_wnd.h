// CWindowWnd: the base of every window of the video wall. Each object is bound to one child
// window of the class "MY_WINDOWS_CLASS" and receives that window's messages through
// ProcessMessage; the binding is kept in a process-wide window map (and in the window's data
// slot) from WM_NCCREATE to WM_NCDESTROY.
//
// Threads: a window and its object belong to the thread that created the window (the control's
// user-interface thread). The window map is guarded by its own lock, so windows may be created
// on other threads too; no other lock is taken here and none is held while a handler runs.
#pragma once

#include <cstdint>
#include <string>

#include "platform/window/host_site.h"
#include "platform/window/window.h"

namespace kavrel::ui {

using platform::HWND;
using platform::LPARAM;
using platform::LRESULT;
using platform::WPARAM;

// The one window class of the wall.
inline constexpr const char* kWindowClassName = "MY_WINDOWS_CLASS";
inline constexpr uint32_t CS_VREDRAW = 0x0001;
inline constexpr uint32_t CS_HREDRAW = 0x0002;
inline constexpr uint32_t CS_DBLCLKS = 0x0008;
inline constexpr uint32_t kWindowClassStyle = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;  // 11

class CWindowWnd {
 public:
  CWindowWnd() = default;
  // A window still bound to the object is destroyed with it (on its own thread) or cut loose
  // (elsewhere), so no message ever reaches a freed object.
  virtual ~CWindowWnd();
  CWindowWnd(const CWindowWnd&) = delete;
  CWindowWnd& operator=(const CWindowWnd&) = delete;

  // Handles one message: non-zero when handled (that value is the result), 0 for the default
  // processing.
  virtual LRESULT ProcessMessage(platform::UINT message, WPARAM wparam, LPARAM lparam) = 0;
  // Called once after the window's last message.
  virtual void OnWindowDestroyed(HWND window);

  // Registers the class when needed and creates a child window of it bound to this object.
  // Null when the class cannot be registered or the window cannot be created.
  HWND Create(HWND parent, const char* name, uint32_t style);
  // Moves the window to (left, top, right, bottom) of its parent's client area.
  bool Move(int left, int top, int right, int bottom);
  bool Move(const platform::Rect& rect) { return Move(rect.left, rect.top, rect.right, rect.bottom); }
  bool Show(bool visible);

  HWND GetHWND() const { return m_hWnd; }

  // The object bound to a window, null when none.
  static CWindowWnd* FromHandle(HWND window);
  // Number of windows in the map (tests).
  static size_t bound_window_count();

  // The window procedure shared by every window of the class.
  static LRESULT CALLBACK_WindowProc(HWND window, platform::UINT message, WPARAM wparam, LPARAM lparam);

 protected:
  // Helpers for the derived windows' common message pattern.
  // Sends a command message on to the parent window unchanged.
  LRESULT PassToParent(platform::UINT message, WPARAM wparam, LPARAM lparam);
  // The cursor position in this window's client coordinates (the messages' own points are not
  // used: the cursor is read as the message is handled).
  platform::Point CursorInClient() const;
  // True when the window's update region is not empty.
  bool NeedsPaint() const;
  // What every window of the wall does alike: background erasing, cursor and hover messages are
  // taken as handled, and WM_PAINT draws through Paint() when the update region is not empty.
  // True, with the message's result in `result`, when `message` was one of them.
  bool HandleCommonMessage(platform::UINT message, LRESULT* result);
  // Draws the window's update region (WM_PAINT through HandleCommonMessage).
  virtual void Paint() {}

  HWND m_hWnd = nullptr;
};

// Registration of the class. False only when the system refuses it for another reason than an
// existing class. Tests can make the next registrations fail.
bool RegisterWindowClass();
void set_class_registration_refused_for_testing(bool refused);

}  // namespace kavrel::ui
