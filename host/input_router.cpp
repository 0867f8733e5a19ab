#include "host/input_router.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/window/surface.h"
#include "platform/window/window_query.h"

namespace host {
namespace {

constexpr auto kDoubleClickTime = std::chrono::milliseconds(500);
constexpr int kDoubleClickDistance = 4;

platform::LPARAM point_lparam(platform::Point p) {
  return static_cast<platform::LPARAM>((static_cast<uint32_t>(static_cast<uint16_t>(p.y)) << 16) |
                                       static_cast<uint16_t>(p.x));
}

bool number_of(const cJSON* message, const char* name, double* out) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(message, name);
  if (!cJSON_IsNumber(item) || !std::isfinite(item->valuedouble)) return false;
  *out = item->valuedouble;
  return true;
}

int int_or(const cJSON* message, const char* name, int fallback) {
  double v = 0;
  if (!number_of(message, name, &v) || std::fabs(v) > 1e6) return fallback;
  return static_cast<int>(std::lround(v));
}

// Where the window's client area lies on the screen: the sum of the rectangles up its chain.
platform::Point screen_origin(platform::HWND window) {
  platform::Point origin;
  for (platform::HWND w = window; w != nullptr; w = platform::get_parent(w)) {
    platform::Rect rect;
    if (!platform::get_window_rect(w, &rect)) break;
    origin.x += rect.left;
    origin.y += rect.top;
  }
  return origin;
}

}  // namespace

bool parse_page_input(const cJSON* message, PageInput* input, std::string* error) {
  const char* event = cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(message, "event"));
  if (event == nullptr) {
    *error = "input without \"event\"";
    return false;
  }
  *input = PageInput{};
  std::string kind = event;
  bool pointer = true;
  if (kind == "mousemove") {
    input->kind = PageInput::Kind::move;
  } else if (kind == "mousedown") {
    input->kind = PageInput::Kind::down;
  } else if (kind == "mouseup") {
    input->kind = PageInput::Kind::up;
  } else if (kind == "wheel") {
    input->kind = PageInput::Kind::wheel;
  } else if (kind == "dblclick") {
    // The host makes double clicks from the presses themselves.
    input->kind = PageInput::Kind::ignored;
    return true;
  } else if (kind == "keydown" || kind == "keyup") {
    input->kind = kind == "keydown" ? PageInput::Kind::key_down : PageInput::Kind::key_up;
    pointer = false;
  } else {
    *error = "unknown input event \"" + kind + "\"";
    return false;
  }
  input->mods = int_or(message, "mods", 0) & 7;
  if (pointer) {
    double x = 0;
    double y = 0;
    if (!number_of(message, "x", &x) || !number_of(message, "y", &y) || std::fabs(x) > 65535 || std::fabs(y) > 65535) {
      *error = "input without a position";
      return false;
    }
    input->x = static_cast<int32_t>(std::floor(x));
    input->y = static_cast<int32_t>(std::floor(y));
    input->buttons = int_or(message, "buttons", 0) & 7;
    input->button = int_or(message, "button", 0);
    if (input->button < 0 || input->button > 2) {
      if (input->kind == PageInput::Kind::down || input->kind == PageInput::Kind::up) {
        input->kind = PageInput::Kind::ignored;  // back/forward buttons mean nothing here
      }
      input->button = 0;
    }
    input->delta = std::clamp(int_or(message, "delta", 0), -32768, 32767);
  } else {
    input->vk = int_or(message, "vk", 0);
    if (input->vk <= 0 || input->vk > 0xFE) {
      *error = "key input without a virtual key";
      return false;
    }
    const cJSON* repeat = cJSON_GetObjectItemCaseSensitive(message, "repeat");
    input->repeat = cJSON_IsTrue(repeat);
  }
  return true;
}

void InputRouter::deliver(platform::HWND root, const PageInput& input) {
  if (input.kind == PageInput::Kind::ignored || root == nullptr) return;
  state_.set_key(VK_SHIFT, (input.mods & 1) != 0);
  state_.set_key(VK_CONTROL, (input.mods & 2) != 0);
  state_.set_key(VK_MENU, (input.mods & 4) != 0);

  if (input.kind == PageInput::Kind::key_down || input.kind == PageInput::Kind::key_up) {
    bool down = input.kind == PageInput::Kind::key_down;
    state_.set_key(input.vk, down);
    platform::Point origin = screen_origin(root);
    platform::Point cursor = state_.cursor();
    platform::HWND target = platform::window_from_point(root, platform::Point{cursor.x - origin.x, cursor.y - origin.y}, nullptr);
    if (target == nullptr) target = root;
    uint32_t flags = 1;  // repeat count
    if (!down) flags |= (1u << 30) | (1u << 31);
    else if (input.repeat) flags |= 1u << 30;
    platform::post_message(target, down ? WM_KEYDOWN : WM_KEYUP, static_cast<platform::WPARAM>(input.vk),
                           static_cast<platform::LPARAM>(flags));
    return;
  }

  platform::Point at{input.x, input.y};
  platform::Point origin = screen_origin(root);
  state_.set_cursor(platform::Point{origin.x + at.x, origin.y + at.y});
  uint32_t keys = 0;
  int held = input.buttons;
  if (input.kind == PageInput::Kind::down) held |= input.button == 0 ? 1 : input.button == 2 ? 2 : 4;
  if (input.kind == PageInput::Kind::up) held &= ~(input.button == 0 ? 1 : input.button == 2 ? 2 : 4);
  if (held & 1) keys |= MK_LBUTTON;
  if (held & 2) keys |= MK_RBUTTON;
  if (held & 4) keys |= MK_MBUTTON;
  if (input.mods & 1) keys |= MK_SHIFT;
  if (input.mods & 2) keys |= MK_CONTROL;

  platform::Point client;
  platform::HWND target = platform::window_from_point(root, at, &client);
  if (input.kind == PageInput::Kind::up && pressed_window_ != nullptr && platform::is_window(pressed_window_)) {
    // The release goes where the press went, in that window's coordinates.
    platform::Rect rect;
    if (platform::window_rect_in(pressed_window_, root, &rect)) {
      target = pressed_window_;
      client = platform::Point{at.x - rect.left, at.y - rect.top};
    }
  }
  static const platform::UINT kDown[3] = {WM_LBUTTONDOWN, WM_MBUTTONDOWN, WM_RBUTTONDOWN};
  static const platform::UINT kUp[3] = {WM_LBUTTONUP, WM_MBUTTONUP, WM_RBUTTONUP};
  static const platform::UINT kDouble[3] = {WM_LBUTTONDBLCLK, WM_MBUTTONDBLCLK, WM_RBUTTONDBLCLK};
  static const int kVirtual[3] = {VK_LBUTTON, VK_MBUTTON, VK_RBUTTON};

  switch (input.kind) {
    case PageInput::Kind::move:
      if (target != nullptr) platform::post_message(target, WM_MOUSEMOVE, keys, point_lparam(client));
      break;
    case PageInput::Kind::down: {
      state_.set_key(kVirtual[input.button], true);
      if (target == nullptr) break;
      auto now = std::chrono::steady_clock::now();
      Press& last = last_press_[input.button];
      bool is_double = last.valid && last_button_ == input.button && last.window == target &&
                       now - last.when <= kDoubleClickTime && std::abs(last.at.x - at.x) <= kDoubleClickDistance &&
                       std::abs(last.at.y - at.y) <= kDoubleClickDistance;
      platform::post_message(target, is_double ? kDouble[input.button] : kDown[input.button], keys, point_lparam(client));
      // A third press starts counting again.
      last = is_double ? Press{} : Press{target, at, now, true};
      last_button_ = input.button;
      pressed_window_ = target;
      break;
    }
    case PageInput::Kind::up:
      state_.set_key(kVirtual[input.button], false);
      if (target != nullptr) platform::post_message(target, kUp[input.button], keys, point_lparam(client));
      pressed_window_ = nullptr;
      break;
    case PageInput::Kind::wheel:
      if (target != nullptr) {
        platform::WPARAM wparam = (static_cast<platform::WPARAM>(static_cast<uint16_t>(input.delta)) << 16) | keys;
        platform::post_message(target, WM_MOUSEWHEEL, wparam, point_lparam(client));
      }
      break;
    default: break;
  }
}

void InputRouter::release_all() {
  state_.release_all();
  pressed_window_ = nullptr;
  for (Press& p : last_press_) p = Press{};
  last_button_ = -1;
}


}  // namespace host
