// Menus, cursor, keys, screen metrics and topmost placement through the host site.
#include "platform/gdi/user.h"

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/gdi/gdi_objects.h"
#include "platform/window/surface.h"

namespace platform {

namespace {

struct MenuEntry {
  UINT flags = 0;
  UINT_PTR command = 0;
  std::string text;
  HMENU submenu = nullptr;
};

struct MenuObject {
  std::vector<MenuEntry> entries;
};

// Menus by handle, and the topmost window; guarded by `lock` (any thread).
struct MenuTable {
  std::mutex lock;
  std::unordered_map<uintptr_t, std::shared_ptr<MenuObject>> menus;
  uintptr_t next = 0x20000;
  HWND topmost = nullptr;
};

MenuTable& menu_table() {
  static auto* table = new MenuTable();
  return *table;
}

std::shared_ptr<MenuObject> find_menu(HMENU menu) {
  MenuTable& t = menu_table();
  std::lock_guard<std::mutex> hold(t.lock);
  auto it = t.menus.find(reinterpret_cast<uintptr_t>(menu));
  return it == t.menus.end() ? nullptr : it->second;
}

HMENU create_menu() {
  MenuTable& t = menu_table();
  std::lock_guard<std::mutex> hold(t.lock);
  const uintptr_t value = t.next;
  t.next += 4;
  t.menus.emplace(value, std::make_shared<MenuObject>());
  return reinterpret_cast<HMENU>(value);
}

bool append(HMENU menu, UINT flags, UINT_PTR item, std::string text) {
  auto object = find_menu(menu);
  if (object == nullptr) return false;
  MenuEntry entry;
  entry.flags = flags;
  entry.text = std::move(text);
  if ((flags & MF_POPUP) != 0) {
    entry.submenu = reinterpret_cast<HMENU>(item);
    if (entry.submenu == menu || find_menu(entry.submenu) == nullptr) return false;
  } else if ((flags & MF_SEPARATOR) == 0) {
    entry.command = item;
  }
  object->entries.push_back(std::move(entry));
  return true;
}

// Converts a menu tree; `depth` bounds a menu that (wrongly) contains itself further down.
bool to_data(HMENU menu, std::vector<MenuItem>* out, int depth) {
  auto object = find_menu(menu);
  if (object == nullptr || depth > 16) return false;
  for (const MenuEntry& entry : object->entries) {
    MenuItem item;
    item.text = entry.text;
    item.separator = (entry.flags & MF_SEPARATOR) != 0;
    item.checked = (entry.flags & MF_CHECKED) != 0;
    item.disabled = (entry.flags & (MF_GRAYED | MF_DISABLED)) != 0;
    item.command = static_cast<uint32_t>(entry.command);
    if (entry.submenu != nullptr && !to_data(entry.submenu, &item.submenu, depth + 1)) return false;
    out->push_back(std::move(item));
  }
  return true;
}

// The top-level window that holds `window`, and the client origin of `window` on the screen.
bool screen_origin(HWND window, POINT* origin) {
  if (!is_window(window)) return false;
  HWND root = window;
  for (HWND parent = get_parent(root); parent != nullptr; parent = get_parent(root)) root = parent;
  RECT root_rect;
  if (!get_window_rect(root, &root_rect)) return false;
  RECT inside{};
  if (window != root && !window_rect_in(window, root, &inside)) return false;
  *origin = POINT{root_rect.left + inside.left, root_rect.top + inside.top};
  return true;
}

void set_topmost(HWND window) {
  {
    MenuTable& t = menu_table();
    std::lock_guard<std::mutex> hold(t.lock);
    if (t.topmost == window) return;
    t.topmost = window;
  }
  host_site()->set_topmost_window(window);
}

}  // namespace

HMENU CreatePopupMenu() { return create_menu(); }
HMENU CreateMenu() { return create_menu(); }

bool DestroyMenu(HMENU menu) {
  std::shared_ptr<MenuObject> object;
  {
    MenuTable& t = menu_table();
    std::lock_guard<std::mutex> hold(t.lock);
    auto it = t.menus.find(reinterpret_cast<uintptr_t>(menu));
    if (it == t.menus.end()) return false;
    object = it->second;
    t.menus.erase(it);
  }
  for (const MenuEntry& entry : object->entries)
    if (entry.submenu != nullptr) DestroyMenu(entry.submenu);
  return true;
}

bool AppendMenuA(HMENU menu, UINT flags, UINT_PTR item, const char* text) {
  return append(menu, flags, item, text == nullptr ? std::string() : std::string(text));
}

bool AppendMenuW(HMENU menu, UINT flags, UINT_PTR item, const char16_t* text) {
  return append(menu, flags, item, gdi_internal::utf16_to_utf8(text, -1));
}

int GetMenuItemCount(HMENU menu) {
  auto object = find_menu(menu);
  return object == nullptr ? -1 : static_cast<int>(object->entries.size());
}

bool menu_to_data(HMENU menu, Menu* out) {
  if (out == nullptr) return false;
  out->items.clear();
  return to_data(menu, &out->items, 0);
}

int TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*) {
  Menu data;
  if (!menu_to_data(menu, &data)) return 0;
  const uint32_t command = host_site()->track_popup_menu(owner, data, POINT{x, y});
  if ((flags & TPM_RETURNCMD) != 0) return static_cast<int>(command);
  if (command != 0 && owner != nullptr) post_message(owner, WM_COMMAND, command, 0);
  return command != 0 ? 1 : 0;
}

bool GetCursorPos(POINT* point) {
  if (point == nullptr) return false;
  *point = host_site()->cursor_position();
  return true;
}

bool ScreenToClient(HWND window, POINT* point) {
  POINT origin;
  if (point == nullptr || !screen_origin(window, &origin)) return false;
  point->x -= origin.x;
  point->y -= origin.y;
  return true;
}

bool ClientToScreen(HWND window, POINT* point) {
  POINT origin;
  if (point == nullptr || !screen_origin(window, &origin)) return false;
  point->x += origin.x;
  point->y += origin.y;
  return true;
}

bool GetWindowScreenRect(HWND window, RECT* rect) {
  POINT origin;
  RECT client;
  if (rect == nullptr || !screen_origin(window, &origin) || !get_client_rect(window, &client)) return false;
  *rect = RECT{origin.x, origin.y, origin.x + client.width(), origin.y + client.height()};
  return true;
}

int16_t GetAsyncKeyState(int virtual_key) {
  return host_site()->is_key_down(virtual_key) ? static_cast<int16_t>(-0x8000) : int16_t{0};
}

int GetSystemMetrics(int index) {
  const Size screen = host_site()->screen_size();
  if (index == SM_CXSCREEN) return screen.cx;
  if (index == SM_CYSCREEN) return screen.cy;
  return 0;
}

bool SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy, UINT flags) {
  RECT rect;
  if (!get_window_rect(window, &rect)) return false;
  if ((flags & (SWP_NOMOVE | SWP_NOSIZE)) != (SWP_NOMOVE | SWP_NOSIZE)) {
    RECT placed = rect;
    if ((flags & SWP_NOMOVE) == 0) placed = RECT{x, y, x + rect.width(), y + rect.height()};
    if ((flags & SWP_NOSIZE) == 0) {
      placed.right = placed.left + cx;
      placed.bottom = placed.top + cy;
    } else {
      placed.right = placed.left + rect.width();
      placed.bottom = placed.top + rect.height();
    }
    if (!move_window(window, placed)) return false;
  }
  if ((flags & SWP_SHOWWINDOW) != 0) show_window(window, true);
  if ((flags & SWP_HIDEWINDOW) != 0) show_window(window, false);
  if ((flags & SWP_NOZORDER) == 0) {
    if (insert_after == HWND_TOPMOST) set_topmost(window);
    else if (insert_after == HWND_NOTOPMOST && topmost_window() == window) set_topmost(nullptr);
  }
  return true;
}

HWND SetParent(HWND window, HWND new_parent) {
  if (!is_window(window)) return nullptr;
  HWND previous = get_parent(window);
  if (!set_parent(window, new_parent)) return nullptr;
  if (new_parent != nullptr && topmost_window() == window) set_topmost(nullptr);
  return previous;
}

HWND topmost_window() {
  MenuTable& t = menu_table();
  std::lock_guard<std::mutex> hold(t.lock);
  return t.topmost;
}

}  // namespace platform
