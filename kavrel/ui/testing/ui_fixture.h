// Test helpers for the wall's windows: a message pump on the test's own thread, a parent window
// that records the commands reaching it, a scripted host site and a picture-mode recorder.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kavrel/ui/picture_modes.h"
#include "kavrel/ui/ui_messages.h"
#include "platform/gdi/user.h"
#include "platform/window/surface.h"
#include "platform/window/testing/scripted_site.h"
#include "platform/window/window.h"

namespace kavrel::ui::testing {

// Serves the calling thread's messages until `done` holds or the deadline passes.
inline bool pump_until(const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  auto until = std::chrono::steady_clock::now() + limit;
  platform::Msg msg;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    if (platform::peek_message(&msg)) {
      platform::dispatch_message(msg);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return true;
}

// Serves every message waiting now (posted messages first, then paints).
inline void pump_pending() {
  platform::Msg msg;
  for (int i = 0; i < 100000 && platform::peek_message(&msg); ++i) platform::dispatch_message(msg);
}

// A top-level window standing in for the control window: it records every command message.
class CommandSink {
 public:
  struct Command {
    platform::WPARAM wparam;
    platform::LPARAM lparam;
  };

  CommandSink() {
    platform::WindowSpec spec;
    spec.rect = platform::Rect{0, 0, 800, 450};
    spec.style = platform::WS_VISIBLE;
    spec.name = "ControlWindow";
    spec.proc = &CommandSink::Proc;
    spec.create_params = this;
    window_ = platform::create_window(spec);
  }
  ~CommandSink() { platform::destroy_window(window_); }

  platform::HWND window() const { return window_; }
  std::vector<Command> commands;

 private:
  static platform::LRESULT Proc(platform::HWND window, platform::UINT message, platform::WPARAM wparam,
                                platform::LPARAM lparam) {
    if (message == platform::WM_NCCREATE) {
      platform::set_window_data(window, reinterpret_cast<const platform::CreateStruct*>(lparam)->create_params);
      return 1;
    }
    auto* self = static_cast<CommandSink*>(platform::get_window_data(window));
    if (self != nullptr && message == kMsgCommand) {
      self->commands.push_back({wparam, lparam});
      return 1;
    }
    return platform::default_window_proc(window, message, wparam, lparam);
  }

  platform::HWND window_ = nullptr;
};

// Records the picture-mode calls the panes make.
struct PictureModeRecorder {
  struct Call {
    std::string what;
    platform::HWND window;
    int32_t value;
    int32_t corner;
  };
  static inline std::mutex lock;
  static inline std::vector<Call> calls;

  static void add(const char* what, platform::HWND w, int32_t v, int32_t c) {
    std::lock_guard<std::mutex> hold(lock);
    calls.push_back({what, w, v, c});
  }
  static std::vector<Call> taken() {
    std::lock_guard<std::mutex> hold(lock);
    std::vector<Call> out;
    out.swap(calls);
    return out;
  }
  static inline const PictureModeCalls table = {
      [](platform::HWND w, int32_t v) { add("history", w, v, 0); },
      [](platform::HWND w, int32_t v) { add("history_interval", w, v, 0); },
      [](platform::HWND w, int32_t v) { add("wdr", w, v, 0); },
      [](platform::HWND w, int32_t v) { add("wdr_intensity", w, v, 0); },
      [](platform::HWND w, int32_t v, int32_t c) { add("freeze", w, v, c); },
  };
};

// A site that also keeps the last menu it was asked to show.
class MenuSite : public platform::testing::ScriptedSite {
 public:
  uint32_t track_popup_menu(platform::HWND owner, const platform::Menu& menu, platform::Point at) override {
    last_menu = menu;
    last_menu_point = at;
    return ScriptedSite::track_popup_menu(owner, menu, at);
  }
  platform::Menu last_menu;
  platform::Point last_menu_point;
};

// Installs a scripted site and a picture-mode recorder for one test.
class UiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site_ = std::make_shared<MenuSite>();
    platform::set_host_site(site_);
    set_picture_mode_calls(&PictureModeRecorder::table);
    PictureModeRecorder::taken();
  }
  void TearDown() override {
    pump_pending();
    set_picture_mode_calls(nullptr);
    platform::set_host_site(nullptr);
  }

  // Puts the cursor on a point of `window`'s client area (screen coordinates are derived).
  void cursor_at(platform::HWND window, int x, int y) {
    platform::POINT p{x, y};
    platform::ClientToScreen(window, &p);
    site_->set_cursor(p);
  }
  // Sends a mouse message with the cursor placed at (x, y) of the window.
  void mouse(platform::HWND window, platform::UINT message, int x, int y) {
    cursor_at(window, x, y);
    platform::send_message(window, message, 0, make_point_lparam(x, y));
  }

  std::shared_ptr<MenuSite> site_;
};

}  // namespace kavrel::ui::testing
