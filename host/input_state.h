// What the page's input has told the host: where the cursor is, which keys and buttons are held,
// how big the page's screen is. The host site answers the control's questions from it.
//
// Threads: written by the user-interface thread (as input is delivered) and the network thread
// (screen size, release on disconnect), read by any thread the control asks from; every member
// takes `lock_`.
#pragma once

#include <mutex>
#include <set>

#include "platform/window/host_site.h"

namespace host {

class InputState {
 public:
  void set_cursor(platform::Point at) {
    std::lock_guard<std::mutex> hold(lock_);
    cursor_ = at;
  }
  platform::Point cursor() const {
    std::lock_guard<std::mutex> hold(lock_);
    return cursor_;
  }
  void set_key(int virtual_key, bool down) {
    std::lock_guard<std::mutex> hold(lock_);
    if (down) {
      keys_.insert(virtual_key);
    } else {
      keys_.erase(virtual_key);
    }
  }
  bool key_down(int virtual_key) const {
    std::lock_guard<std::mutex> hold(lock_);
    return keys_.count(virtual_key) != 0;
  }
  // A page that goes away holds nothing down any more.
  void release_all() {
    std::lock_guard<std::mutex> hold(lock_);
    keys_.clear();
  }
  void set_screen(platform::Size size) {
    std::lock_guard<std::mutex> hold(lock_);
    screen_ = size;
  }
  platform::Size screen() const {
    std::lock_guard<std::mutex> hold(lock_);
    return screen_;
  }

 private:
  mutable std::mutex lock_;
  platform::Point cursor_;
  std::set<int> keys_;
  platform::Size screen_{1920, 1080};
};

}  // namespace host
