// The headless window system: window handles with a parent, a rectangle, a visible flag and a
// window procedure; one message queue per user-interface thread; posted and sent messages;
// timers; a message loop that a host runs and can stop.
//
// Threads
//  - A window belongs to the thread that created it; that thread gets a message queue on its
//    first window (or on this_thread_queue()). The window procedure only ever runs on that
//    thread.
//  - post_message and post_thread_message may be called from any thread; they never block on the
//    receiver.
//  - send_message runs the procedure directly when called on the owning thread. From another
//    thread it is marshalled: the owning thread runs it the next time it looks at its queue, and
//    the sender waits for the result. A sender that owns a queue keeps serving messages sent to
//    it while it waits, so two user-interface threads sending to each other do not dead-lock.
//    The wait ends with result 0 when the window is destroyed first or its thread's queue closes.
//  - set_timer and kill_timer may be called from any thread; WM_TIMER is delivered on the
//    owning thread, at most one pending per timer.
//  - A queue closes when its thread ends: windows still owned by that thread are destroyed
//    (WM_DESTROY, WM_NCDESTROY) and waiting senders are released.
//
// Handles are never reused, so a stale handle is simply "not a window". No lock of this system
// is held while a window procedure runs.
//
// Painting, invalidation and the drawing subset attach to windows later through the same
// records (a paint message and a backing surface per window); nothing here assumes their
// absence.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/window/ui_api.h"

namespace platform {

using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

struct HWND__;
using HWND = HWND__*;

using WNDPROC = LRESULT (*)(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Message numbers used by the window system itself.
inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_MOVE = 0x0003;
inline constexpr UINT WM_SIZE = 0x0005;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_SHOWWINDOW = 0x0018;
inline constexpr UINT WM_NCCREATE = 0x0081;
inline constexpr UINT WM_NCDESTROY = 0x0082;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_USER = 0x0400;
// A thread message that carries one script call from the page host to the control's thread.
// A modal wait on that thread keeps serving every other message but holds these back until it
// ends, so a script call never runs inside another one.
inline constexpr UINT WM_SCRIPT_CALL = 0x7FF0;

// Style bits the window system reads; other bits are kept for their owners.
inline constexpr uint32_t WS_CHILD = 0x40000000u;
inline constexpr uint32_t WS_VISIBLE = 0x10000000u;

struct Rect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
  bool operator==(const Rect&) const = default;
};

// What WM_NCCREATE and WM_CREATE carry in lParam (a pointer to this).
struct CreateStruct {
  void* create_params = nullptr;
  HWND parent = nullptr;
  Rect rect;  // in the parent's client coordinates
  uint32_t style = 0;
  const char* name = "";
};

struct WindowSpec {
  HWND parent = nullptr;
  Rect rect;
  uint32_t style = 0;
  std::string name;
  WNDPROC proc = nullptr;  // null: default_window_proc
  void* create_params = nullptr;
};

struct Msg {
  HWND window = nullptr;  // null for thread messages
  UINT message = WM_NULL;
  WPARAM wparam = 0;
  LPARAM lparam = 0;
};

// Creates a window owned by the calling thread: WM_NCCREATE (a zero result refuses the
// creation), then WM_CREATE (-1 refuses it and destroys the window), then shows it when the
// style holds WS_VISIBLE. Null when refused or when the parent is not a window.
PLATFORM_UI_API HWND create_window(const WindowSpec& spec);
// Destroys the window and its descendants: WM_DESTROY to the window, then each child destroyed
// the same way, then WM_NCDESTROY to the window. Only the owning thread may destroy a window;
// false on another thread or for a handle that is not a window.
PLATFORM_UI_API bool destroy_window(HWND window);
PLATFORM_UI_API bool is_window(HWND window);
// WM_NCCREATE: 1; everything else: 0.
PLATFORM_UI_API LRESULT default_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

PLATFORM_UI_API HWND get_parent(HWND window);
// Moves the window under another parent (null: a top-level window). False when either handle
// is not a window or the new parent is the window itself or one of its descendants.
PLATFORM_UI_API bool set_parent(HWND window, HWND new_parent);
// The window's rectangle in its parent's client coordinates.
PLATFORM_UI_API bool get_window_rect(HWND window, Rect* rect);
// (0, 0, width, height).
PLATFORM_UI_API bool get_client_rect(HWND window, Rect* rect);
// Sets the rectangle; WM_MOVE and WM_SIZE follow (sent) when position or size changed.
PLATFORM_UI_API bool move_window(HWND window, const Rect& rect);
// Shows or hides the window; WM_SHOWWINDOW (wParam 1 or 0) is sent when the flag changes.
PLATFORM_UI_API bool show_window(HWND window, bool visible);
// True when the window and all its ancestors are shown.
PLATFORM_UI_API bool is_window_visible(HWND window);
PLATFORM_UI_API uint32_t get_window_style(HWND window);
PLATFORM_UI_API std::string get_window_name(HWND window);
// A pointer the window's owner keeps with the window (null at creation).
PLATFORM_UI_API void* get_window_data(HWND window);
PLATFORM_UI_API bool set_window_data(HWND window, void* data);
// The owning thread, or a default id when the handle is not a window.
PLATFORM_UI_API std::thread::id get_window_thread(HWND window);

// ---- messages ----
PLATFORM_UI_API bool post_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
PLATFORM_UI_API LRESULT send_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// ---- timers ----
// Starts or restarts timer `id` (not 0) of the window: WM_TIMER with wParam = id every
// `period_ms` (at least 1). Returns id, or 0 when the window does not exist or id is 0.
PLATFORM_UI_API uintptr_t set_timer(HWND window, uintptr_t id, uint32_t period_ms);
PLATFORM_UI_API bool kill_timer(HWND window, uintptr_t id);

// ---- queues and the loop ----
class MessageQueue;
// A reference to a user-interface thread's queue, usable from any thread.
using ThreadQueue = std::shared_ptr<MessageQueue>;

// The calling thread's queue, created when it has none.
PLATFORM_UI_API ThreadQueue this_thread_queue();
// Posts a thread message (window null). False when the queue has closed.
PLATFORM_UI_API bool post_thread_message(const ThreadQueue& queue, UINT message, WPARAM wparam, LPARAM lparam);
// Asks the queue's loop to end with `exit_code`, from any thread.
PLATFORM_UI_API bool post_quit(const ThreadQueue& queue, int exit_code);
// Asks the calling thread's loop to end.
PLATFORM_UI_API void post_quit_message(int exit_code);

// Waits for the next message of the calling thread, serving sent messages meanwhile. False
// when the message is WM_QUIT (its wParam holds the exit code).
PLATFORM_UI_API bool get_message(Msg* msg);
// As get_message without waiting: true when a message (WM_QUIT included) was taken, false when
// nothing is waiting. Sent messages are served.
PLATFORM_UI_API bool peek_message(Msg* msg);
// Runs the procedure of msg.window (nothing, 0, for thread messages or a vanished window).
PLATFORM_UI_API LRESULT dispatch_message(const Msg& msg);
// get_message / dispatch_message until WM_QUIT; returns the exit code.
PLATFORM_UI_API int run_message_loop();

// ---- modal waits ----
enum class ModalWaitEnd { condition_met, time_limit, quit };

// Keeps the calling thread's windows served while it waits: sent messages, posted window
// messages, painting and timers go on as in the thread's own loop, until `condition` returns
// true or `limit` passes. Thread messages (no window: WM_SCRIPT_CALL among them) are held back
// in the queue and reach the thread's own loop after the wait, in the order they were posted,
// so a script call never runs inside another one; only that loop knows what they mean.
// The condition is looked at first, after every message served, whenever wake_modal_wait() is
// called for the thread, and at least every `recheck`. A quit request (or the queue closing)
// ends the wait with `quit` and stays pending for the thread's own loop. Waits may nest.
PLATFORM_UI_API ModalWaitEnd modal_wait(const std::function<bool()>& condition, std::chrono::milliseconds limit,
                                        std::chrono::milliseconds recheck = std::chrono::milliseconds(10));
// Makes a modal wait on the queue's thread look at its condition now (any thread).
PLATFORM_UI_API void wake_modal_wait(const ThreadQueue& queue);

}  // namespace platform
