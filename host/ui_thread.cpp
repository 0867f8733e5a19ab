#include "host/ui_thread.h"

#include <future>
#include <memory>

#include "platform/window/surface.h"

namespace host {
namespace {

constexpr platform::UINT kRunSent = platform::WM_USER + 0x100;    // lParam: const std::function<void()>*
constexpr platform::UINT kRunPosted = platform::WM_USER + 0x101;  // lParam: std::function<void()>*, owned

}  // namespace

platform::LRESULT UiThread::HostWindowProc(platform::HWND window, platform::UINT message, platform::WPARAM wparam,
                                           platform::LPARAM lparam) {
  if (message == kRunSent) {
    (*reinterpret_cast<const std::function<void()>*>(lparam))();
    return 1;
  }
  if (message == kRunPosted) {
    std::unique_ptr<std::function<void()>> fn(reinterpret_cast<std::function<void()>*>(lparam));
    (*fn)();
    return 1;
  }
  return platform::default_window_proc(window, message, wparam, lparam);
}

UiThread::UiThread() {
  std::promise<void> ready;
  thread_ = std::thread([this, &ready] {
    queue_ = platform::this_thread_queue();
    platform::WindowSpec spec;
    spec.name = "kavrel host";
    spec.rect = platform::Rect{0, 0, 1280, 800};
    spec.style = platform::WS_VISIBLE;
    spec.proc = &UiThread::HostWindowProc;
    host_window_ = platform::create_window(spec);
    ready.set_value();
    platform::Msg msg;
    while (platform::get_message(&msg)) {
      if (msg.window == nullptr && msg.message == platform::WM_SCRIPT_CALL) {
        std::unique_ptr<std::function<void()>> fn(reinterpret_cast<std::function<void()>*>(msg.lparam));
        (*fn)();
        continue;
      }
      platform::dispatch_message(msg);
    }
    // Windows go first (with their timers and update regions); posted work that never ran still
    // owns its function objects.
    platform::destroy_window(host_window_);
    while (platform::peek_message(&msg)) {
      if (msg.message == platform::WM_PAINT) {
        platform::validate_rect(msg.window, nullptr);
      } else if ((msg.window == host_window_ && msg.message == kRunPosted) ||
                 (msg.window == nullptr && msg.message == platform::WM_SCRIPT_CALL)) {
        delete reinterpret_cast<std::function<void()>*>(msg.lparam);
      }
    }
  });
  id_ = thread_.get_id();
  ready.get_future().wait();
}

UiThread::~UiThread() { stop(); }

void UiThread::run(const std::function<void()>& fn) {
  if (std::this_thread::get_id() == id_) {
    fn();
    return;
  }
  platform::send_message(host_window_, kRunSent, 0, reinterpret_cast<platform::LPARAM>(&fn));
}

bool UiThread::post(std::function<void()> fn) {
  auto* owned = new std::function<void()>(std::move(fn));
  if (!platform::post_message(host_window_, kRunPosted, 0, reinterpret_cast<platform::LPARAM>(owned))) {
    delete owned;
    return false;
  }
  return true;
}

bool UiThread::post_script_call(std::function<void()> fn) {
  // Two steps, like the page's input: work posted earlier (a mouse event) posts its window
  // message when it runs, so the call is queued only once that work has run and lands behind
  // the message. A page that clicks and then asks gets the answer after the click.
  return post([this, fn = std::move(fn)]() mutable {
    auto* owned = new std::function<void()>(std::move(fn));
    if (!platform::post_thread_message(queue_, platform::WM_SCRIPT_CALL, 0, reinterpret_cast<platform::LPARAM>(owned))) {
      delete owned;
    }
  });
}

void UiThread::stop() {
  if (!thread_.joinable()) return;
  platform::post_quit(queue_, 0);
  thread_.join();
}

}  // namespace host
