#include "kavrel/ui/window_wnd.h"

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "kavrel/ui/ui_messages.h"
#include "platform/gdi/user.h"
#include "platform/window/surface.h"

namespace kavrel::ui {
namespace {

// The window map: handle -> bound object. Touched by every thread that creates or destroys a
// wall window and by the window procedure; guarded by map_lock().
std::mutex& map_lock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}
std::map<HWND, CWindowWnd*>& window_map() {
  static auto* map = new std::map<HWND, CWindowWnd*>;
  return *map;
}

std::atomic<bool> class_registered{false};
std::atomic<bool> registration_refused{false};

CWindowWnd* lookup(HWND window) {
  std::lock_guard<std::mutex> hold(map_lock());
  auto it = window_map().find(window);
  return it != window_map().end() ? it->second : nullptr;
}

}  // namespace

bool RegisterWindowClass() {
  if (registration_refused.load()) return false;
  // A second registration is reported as "class already exists", which counts as done.
  class_registered.store(true);
  return true;
}

void set_class_registration_refused_for_testing(bool refused) { registration_refused.store(refused); }

CWindowWnd::~CWindowWnd() {
  HWND window = m_hWnd;
  if (window == nullptr) return;
  // The derived object is already gone: unbind first, so the window's last messages reach the
  // default processing only, then destroy it on its own thread (elsewhere it is only cut loose).
  {
    std::lock_guard<std::mutex> hold(map_lock());
    window_map().erase(window);
    platform::set_window_data(window, nullptr);
  }
  m_hWnd = nullptr;
  if (platform::get_window_thread(window) == std::this_thread::get_id()) platform::destroy_window(window);
}

void CWindowWnd::OnWindowDestroyed(HWND) {}

HWND CWindowWnd::Create(HWND parent, const char* name, uint32_t style) {
  if (!RegisterWindowClass()) return nullptr;
  platform::WindowSpec spec;
  spec.parent = parent;
  spec.style = style;
  spec.name = name != nullptr ? name : "";
  spec.proc = &CWindowWnd::CALLBACK_WindowProc;
  spec.create_params = this;
  // Position and size do not matter: every owner places its windows after creating them.
  return platform::create_window(spec);
}

bool CWindowWnd::Move(int left, int top, int right, int bottom) {
  if (m_hWnd == nullptr) return false;
  return platform::move_window(m_hWnd, platform::Rect{left, top, right, bottom});
}

bool CWindowWnd::Show(bool visible) { return m_hWnd != nullptr && platform::show_window(m_hWnd, visible); }

CWindowWnd* CWindowWnd::FromHandle(HWND window) { return lookup(window); }

size_t CWindowWnd::bound_window_count() {
  std::lock_guard<std::mutex> hold(map_lock());
  return window_map().size();
}

LRESULT CWindowWnd::CALLBACK_WindowProc(HWND window, platform::UINT message, WPARAM wparam, LPARAM lparam) {
  CWindowWnd* object = nullptr;
  if (message == platform::WM_NCCREATE) {
    std::lock_guard<std::mutex> hold(map_lock());
    auto it = window_map().find(window);
    if (it != window_map().end()) {
      object = it->second;
    } else {
      auto* create = reinterpret_cast<const platform::CreateStruct*>(lparam);
      object = static_cast<CWindowWnd*>(create->create_params);
      if (object != nullptr) {
        object->m_hWnd = window;
        window_map()[window] = object;
        platform::set_window_data(window, object);
      }
    }
  } else {
    object = lookup(window);
  }

  if (message == platform::WM_NCDESTROY) {
    if (object == nullptr) return platform::default_window_proc(window, message, wparam, lparam);
    {
      std::lock_guard<std::mutex> hold(map_lock());
      platform::set_window_data(window, nullptr);
      window_map().erase(window);
    }
    object->m_hWnd = nullptr;
    object->OnWindowDestroyed(window);
    return 1;
  }

  // Notifications of a child control go back to that child, which handles its own.
  if (object != nullptr && (message == WM_COMMAND || message == WM_NOTIFY || message == WM_CTLCOLOREDIT ||
                            message == WM_CTLCOLORSTATIC)) {
    HWND child = nullptr;
    if (message == WM_NOTIFY) {
      if (lparam != 0) child = reinterpret_cast<const NMHDR*>(lparam)->hwndFrom;
    } else {
      child = reinterpret_cast<HWND>(lparam);
    }
    if (child != nullptr && platform::is_window(child) && platform::get_parent(child) == window) {
      platform::send_message(child, message + OCM_BASE, wparam, lparam);
      return 1;
    }
  }

  if (object != nullptr) {
    LRESULT result = object->ProcessMessage(message, wparam, lparam);
    if (result != 0) return result;
  }
  return platform::default_window_proc(window, message, wparam, lparam);
}

LRESULT CWindowWnd::PassToParent(platform::UINT message, WPARAM wparam, LPARAM lparam) {
  HWND parent = platform::get_parent(m_hWnd);
  if (parent == nullptr) return 0;
  return platform::send_message(parent, message, wparam, lparam);
}

bool CWindowWnd::HandleCommonMessage(platform::UINT message, LRESULT* result) {
  switch (message) {
    case WM_ERASEBKGND:
    case WM_SETCURSOR:
    case WM_MOUSEHOVER: *result = 1; return true;
    case platform::WM_PAINT:
      if (NeedsPaint()) Paint();
      *result = 1;
      return true;
    default: return false;
  }
}

platform::Point CWindowWnd::CursorInClient() const {
  platform::POINT point;
  platform::GetCursorPos(&point);
  platform::ScreenToClient(m_hWnd, &point);
  return point;
}

bool CWindowWnd::NeedsPaint() const {
  platform::Rect update;
  return platform::get_update_rect(m_hWnd, &update);
}

}  // namespace kavrel::ui
