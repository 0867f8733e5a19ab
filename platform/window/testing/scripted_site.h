// Test helper: a host site whose answers a test scripts and whose calls it can read back.
#pragma once

#include <algorithm>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/window/host_site.h"

namespace platform::testing {

class ScriptedSite : public HostSite {
 public:
  struct Call {
    std::string kind;  // "menu", "message_box", "dialog", "save_dialog", "sound", "topmost", "not_saved"
    std::string text;  // the box text, dialog caption, sound name or first menu item
    std::string caption;
    uint32_t type = 0;
  };

  // Answers are used in order; when none is left the headless answer is given.
  void answer_menu(uint32_t command) { locked([&] { menu_answers_.push_back(command); }); }
  void answer_box(int result) { locked([&] { box_answers_.push_back(result); }); }
  void answer_save(SaveDialogResult result) { locked([&] { save_answers_.push_back(std::move(result)); }); }
  void set_cursor(Point at) { locked([&] { cursor_ = at; }); }
  void set_key(int key, bool down) {
    locked([&] {
      std::erase(keys_down_, key);
      if (down) keys_down_.push_back(key);
    });
  }
  void set_screen(Size size) { locked([&] { screen_ = size; }); }
  void set_cache_folder(std::string folder) { locked([&] { cache_folder_ = std::move(folder); }); }

  std::vector<Call> calls() const {
    std::lock_guard<std::mutex> hold(lock_);
    return calls_;
  }

  uint32_t track_popup_menu(HWND, const Menu& menu, Point) override {
    std::lock_guard<std::mutex> hold(lock_);
    calls_.push_back({"menu", menu.items.empty() ? std::string() : menu.items.front().text, {}, 0});
    return take(menu_answers_, 0u);
  }
  int message_box(HWND, const std::string& text, const std::string& caption, uint32_t type) override {
    std::lock_guard<std::mutex> hold(lock_);
    calls_.push_back({"message_box", text, caption, type});
    return take(box_answers_, IDOK);
  }
  int show_dialog(HWND, const DialogTemplate& dialog) override {
    std::lock_guard<std::mutex> hold(lock_);
    calls_.push_back({"dialog", dialog.caption, {}, dialog.resource_id});
    return take(box_answers_, IDOK);
  }
  SaveDialogResult save_file_dialog(HWND, const SaveDialogRequest& request) override {
    std::lock_guard<std::mutex> hold(lock_);
    calls_.push_back({"save_dialog", request.initial_name, request.title, 0});
    return take(save_answers_, SaveDialogResult{});
  }
  Point cursor_position() override {
    std::lock_guard<std::mutex> hold(lock_);
    return cursor_;
  }
  bool is_key_down(int key) override {
    std::lock_guard<std::mutex> hold(lock_);
    return std::find(keys_down_.begin(), keys_down_.end(), key) != keys_down_.end();
  }
  bool play_sound(const std::string& name, const void*, size_t) override {
    std::lock_guard<std::mutex> hold(lock_);
    calls_.push_back({"sound", name, {}, 0});
    return true;
  }
  Size screen_size() override {
    std::lock_guard<std::mutex> hold(lock_);
    return screen_;
  }
  void set_topmost_window(HWND window) override {
    std::lock_guard<std::mutex> hold(lock_);
    topmost_ = window;
    calls_.push_back({"topmost", window == nullptr ? "none" : "window", {}, 0});
  }
  void file_not_saved(const std::string& name) override {
    std::lock_guard<std::mutex> hold(lock_);
    calls_.push_back({"not_saved", name, {}, 0});
  }
  std::string writable_cache_folder() override {
    std::lock_guard<std::mutex> hold(lock_);
    return cache_folder_;
  }
  HWND topmost() const {
    std::lock_guard<std::mutex> hold(lock_);
    return topmost_;
  }

 private:
  template <class Fn>
  void locked(Fn fn) {
    std::lock_guard<std::mutex> hold(lock_);
    fn();
  }
  template <class T>
  static T take(std::deque<T>& answers, T fallback) {
    if (answers.empty()) return fallback;
    T front = std::move(answers.front());
    answers.pop_front();
    return front;
  }

  mutable std::mutex lock_;  // guards everything below; the site is called from any thread
  std::vector<Call> calls_;
  std::deque<uint32_t> menu_answers_;
  std::deque<int> box_answers_;
  std::deque<SaveDialogResult> save_answers_;
  Point cursor_;
  std::vector<int> keys_down_;
  Size screen_{1920, 1080};
  HWND topmost_ = nullptr;
  std::string cache_folder_;
};

}  // namespace platform::testing
