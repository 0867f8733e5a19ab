// User-interface calls that the host answers: popup menus, the cursor position, the key state,
// the screen size and topmost placement, under their Win32 names. Each is a thin wrapper over the
// host site (platform/window/host_site.h), so tests script them through a ScriptedSite.
//
// Screen coordinates are those of the top-level windows: a point on the screen is the point in
// the client area of a top-level window plus that window's rectangle origin.
#pragma once

#include <cstdint>

#include "platform/gdi/gdi.h"
#include "platform/gdi/gdi_api.h"
#include "platform/window/host_site.h"
#include "platform/window/window.h"

namespace platform {

struct HMENU__;
using HMENU = HMENU__*;
using UINT_PTR = uintptr_t;

inline constexpr UINT MF_STRING = 0x0000;
inline constexpr UINT MF_GRAYED = 0x0001;
inline constexpr UINT MF_DISABLED = 0x0002;
inline constexpr UINT MF_CHECKED = 0x0008;
inline constexpr UINT MF_POPUP = 0x0010;
inline constexpr UINT MF_SEPARATOR = 0x0800;

// Menus live until DestroyMenu; destroying a menu destroys the submenus appended to it. Any
// thread; a menu is used by one thread at a time.
PLATFORM_GDI_API HMENU CreatePopupMenu();
PLATFORM_GDI_API HMENU CreateMenu();
PLATFORM_GDI_API bool DestroyMenu(HMENU menu);
// With MF_POPUP, `item` is the submenu's handle (which then belongs to `menu`); otherwise it is
// the command. Text is UTF-8 (A) or UTF-16 (W).
PLATFORM_GDI_API bool AppendMenuA(HMENU menu, UINT flags, UINT_PTR item, const char* text);
PLATFORM_GDI_API bool AppendMenuW(HMENU menu, UINT flags, UINT_PTR item, const char16_t* text);
PLATFORM_GDI_API int GetMenuItemCount(HMENU menu);
// The menu as plain data, as the host site receives it.
PLATFORM_GDI_API bool menu_to_data(HMENU menu, Menu* out);

inline constexpr UINT TPM_LEFTALIGN = 0x0000;
inline constexpr UINT TPM_CENTERALIGN = 0x0004;
inline constexpr UINT TPM_RIGHTALIGN = 0x0008;
inline constexpr UINT TPM_TOPALIGN = 0x0000;
inline constexpr UINT TPM_NONOTIFY = 0x0080;
inline constexpr UINT TPM_RETURNCMD = 0x0100;
inline constexpr UINT WM_COMMAND = 0x0111;
// Shows the menu at the screen point through the host site. With TPM_RETURNCMD returns the chosen
// command (0 for none); otherwise posts WM_COMMAND (wParam = command) to the owner when one was
// chosen and returns whether one was.
PLATFORM_GDI_API int TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner,
                                    const RECT* not_used);

PLATFORM_GDI_API bool GetCursorPos(POINT* point);
PLATFORM_GDI_API bool ScreenToClient(HWND window, POINT* point);
PLATFORM_GDI_API bool ClientToScreen(HWND window, POINT* point);
// The window's rectangle in screen coordinates (Win32's GetWindowRect; window.h's
// get_window_rect is relative to the parent).
PLATFORM_GDI_API bool GetWindowScreenRect(HWND window, RECT* rect);

// Bit 15 set while the key is down (bit 0 is never set: the host does not report presses since
// the last call).
PLATFORM_GDI_API int16_t GetAsyncKeyState(int virtual_key);

inline constexpr int SM_CXSCREEN = 0;
inline constexpr int SM_CYSCREEN = 1;
PLATFORM_GDI_API int GetSystemMetrics(int index);

// Window placement. HWND_TOPMOST asks the host to present the window above everything (the
// full-screen wall); HWND_NOTOPMOST, or giving the window a parent again with SetParent, ends it.
inline const HWND HWND_TOP = nullptr;
inline const HWND HWND_TOPMOST = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));
inline const HWND HWND_NOTOPMOST = reinterpret_cast<HWND>(static_cast<intptr_t>(-2));
inline constexpr UINT SWP_NOSIZE = 0x0001;
inline constexpr UINT SWP_NOMOVE = 0x0002;
inline constexpr UINT SWP_NOZORDER = 0x0004;
inline constexpr UINT SWP_FRAMECHANGED = 0x0020;
inline constexpr UINT SWP_SHOWWINDOW = 0x0040;
inline constexpr UINT SWP_HIDEWINDOW = 0x0080;
PLATFORM_GDI_API bool SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy, UINT flags);
// Re-parents the window (window.h set_parent) and returns the previous parent (null on failure,
// or when it had none). A window that gains a parent stops being topmost.
PLATFORM_GDI_API HWND SetParent(HWND window, HWND new_parent);
// The window currently presented topmost, null when none.
PLATFORM_GDI_API HWND topmost_window();

}  // namespace platform
