// The page's mouse, wheel and keys as window messages: each goes to the deepest visible window
// under the point (keys: under the cursor), with that window's client coordinates, and the
// cursor position and held keys are kept for the host site. A second press of a button soon
// enough and near enough becomes a double click, as the window system of the control expects.
//
// Threads: parse_page_input() anywhere; deliver() and release_all() on the user-interface
// thread only (the router's own state is that thread's).
#pragma once

#include <cjson/cJSON.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "host/input_state.h"
#include "platform/window/window.h"

namespace host {

inline constexpr platform::UINT WM_MOUSEMOVE = 0x0200;
inline constexpr platform::UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr platform::UINT WM_LBUTTONUP = 0x0202;
inline constexpr platform::UINT WM_LBUTTONDBLCLK = 0x0203;
inline constexpr platform::UINT WM_RBUTTONDOWN = 0x0204;
inline constexpr platform::UINT WM_RBUTTONUP = 0x0205;
inline constexpr platform::UINT WM_RBUTTONDBLCLK = 0x0206;
inline constexpr platform::UINT WM_MBUTTONDOWN = 0x0207;
inline constexpr platform::UINT WM_MBUTTONUP = 0x0208;
inline constexpr platform::UINT WM_MBUTTONDBLCLK = 0x0209;
inline constexpr platform::UINT WM_MOUSEWHEEL = 0x020A;
inline constexpr platform::UINT WM_KEYDOWN = 0x0100;
inline constexpr platform::UINT WM_KEYUP = 0x0101;

// Key state flags of mouse messages' wParam.
inline constexpr uint32_t MK_LBUTTON = 0x01;
inline constexpr uint32_t MK_RBUTTON = 0x02;
inline constexpr uint32_t MK_SHIFT = 0x04;
inline constexpr uint32_t MK_CONTROL = 0x08;
inline constexpr uint32_t MK_MBUTTON = 0x10;

inline constexpr int VK_LBUTTON = 0x01;
inline constexpr int VK_RBUTTON = 0x02;
inline constexpr int VK_MBUTTON = 0x04;
inline constexpr int VK_SHIFT = 0x10;
inline constexpr int VK_CONTROL = 0x11;
inline constexpr int VK_MENU = 0x12;

struct PageInput {
  enum class Kind { move, down, up, wheel, key_down, key_up, ignored };
  Kind kind = Kind::ignored;
  int32_t x = 0;  // surface pixels
  int32_t y = 0;
  int button = 0;   // 0 left, 1 middle, 2 right
  int buttons = 0;  // held buttons as the DOM counts them: 1 left, 2 right, 4 middle
  int mods = 0;     // 1 shift, 2 ctrl, 4 alt
  int delta = 0;    // wheel, 120 per notch, positive away from the user
  int vk = 0;       // virtual key of key events
  bool repeat = false;
};

// Reads an "input" message. False with a message when it cannot be used.
bool parse_page_input(const cJSON* message, PageInput* input, std::string* error);

class InputRouter {
 public:
  explicit InputRouter(InputState& state) : state_(state) {}

  // Delivers the input to the window tree under `root` (posted, as real input would be).
  void deliver(platform::HWND root, const PageInput& input);
  // The page is gone: nothing is held any more.
  void release_all();

 private:
  struct Press {
    platform::HWND window = nullptr;
    platform::Point at;
    std::chrono::steady_clock::time_point when;
    bool valid = false;
  };

  InputState& state_;
  Press last_press_[3];
  int last_button_ = -1;
  platform::HWND pressed_window_ = nullptr;  // gets the button-up even when the pointer left it
};

}  // namespace host
