// A user-interface thread run by the host: a message loop, a top-level host window that
// controls' windows live in, and a way to run code on the thread from any other thread.
#pragma once

#include <functional>
#include <thread>

#include "platform/window/window.h"

namespace host {

class UiThread {
 public:
  UiThread();
  // Stops the loop and joins the thread (the host window is destroyed on its way out).
  ~UiThread();
  UiThread(const UiThread&) = delete;
  UiThread& operator=(const UiThread&) = delete;

  // Runs `fn` on the thread and waits for it; runs it at once when called on the thread.
  void run(const std::function<void()>& fn);
  // Queues `fn` to run on the thread; false once the thread has stopped.
  bool post(std::function<void()> fn);
  // Queues `fn` as a script call: the thread message WM_SCRIPT_CALL, which the thread's own loop
  // runs and a modal wait on the thread holds back until it ends. It is queued behind whatever
  // earlier posted work posts in turn (the window messages of the page's input), so a call runs
  // after the input that came before it. False once the thread has stopped; a call still queued
  // then is dropped without running.
  bool post_script_call(std::function<void()> fn);
  void stop();

  std::thread::id id() const { return id_; }
  platform::HWND host_window() const { return host_window_; }
  const platform::ThreadQueue& queue() const { return queue_; }

 private:
  static platform::LRESULT HostWindowProc(platform::HWND window, platform::UINT message, platform::WPARAM wparam,
                                          platform::LPARAM lparam);

  std::thread thread_;
  std::thread::id id_;
  platform::ThreadQueue queue_;
  platform::HWND host_window_ = nullptr;
};

}  // namespace host
