// Waits of the control. A script method runs on the control's user-interface thread, which also
// draws the wall and raises the events; when such a method has to wait (for a tunnel, a worker
// to end, a library call that talks to a device) the thread keeps serving its messages as a
// modal wait does (platform::modal_wait): timers, posted and sent messages and painting go on,
// and script calls that arrive wait until the method has returned. The same code run by a worker
// simply blocks.
#pragma once

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <system_error>
#include <type_traits>
#include <utility>

#include "platform/threads/thread.h"
#include "platform/window/window.h"

namespace kavrel {

enum class WaitStyle {
  block,           // a worker thread, or a control that is being taken apart
  serve_messages,  // the control's user-interface thread
};

enum class WaitEnd {
  met,         // the condition holds
  time_limit,  // the limit passed first
  quit,        // the user-interface thread was asked to end (serving waits only)
};

// Waits until `done` returns true or `limit` passes; `done` is looked at every `recheck` (and
// after every message served).
WaitEnd wait_until(WaitStyle style, const std::function<bool()>& done, std::chrono::milliseconds limit,
                   std::chrono::milliseconds recheck = std::chrono::milliseconds(10));

// Runs `call`, which blocks (network I/O of the library), and returns its result. Serving
// messages, it runs on a helper thread while the calling thread serves its own; the call always
// completes before this returns (it may refer to the caller's locals), also when the thread is
// asked to end meanwhile. An exception of the call is rethrown here.
template <class Call>
std::invoke_result_t<Call&> call_blocking(WaitStyle style, Call&& call) {
  using Result = std::invoke_result_t<Call&>;
  if (style == WaitStyle::block) return call();
  std::conditional_t<std::is_void_v<Result>, bool, std::optional<Result>> result{};
  std::exception_ptr failure;
  std::atomic<bool> done{false};
  platform::ThreadQueue caller = platform::this_thread_queue();
  platform::Thread helper;
  try {
    helper = platform::Thread([&] {
      try {
        if constexpr (std::is_void_v<Result>) {
          call();
        } else {
          result.emplace(call());
        }
      } catch (...) {
        failure = std::current_exception();
      }
      done.store(true);
      platform::wake_modal_wait(caller);
    });
  } catch (const std::system_error&) {
    return call();  // no thread to spare: the call blocks this thread instead
  }
  // After a quit the serving wait ends early; the call still has to finish (it may refer to the
  // caller's locals), and does within its own bounds.
  if (wait_until(style, [&] { return done.load(); }, std::chrono::milliseconds::max()) != WaitEnd::met) {
    wait_until(WaitStyle::block, [&] { return done.load(); }, std::chrono::milliseconds::max());
  }
  helper.join_within(platform::kThreadStopBoundMs);
  if (failure) std::rethrow_exception(failure);
  if constexpr (!std::is_void_v<Result>) return std::move(*result);
}

}  // namespace kavrel
