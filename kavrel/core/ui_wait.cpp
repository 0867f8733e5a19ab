#include "kavrel/core/ui_wait.h"

#include <algorithm>

namespace kavrel {

WaitEnd wait_until(WaitStyle style, const std::function<bool()>& done, std::chrono::milliseconds limit,
                   std::chrono::milliseconds recheck) {
  if (style == WaitStyle::serve_messages) {
    switch (platform::modal_wait(done, limit, recheck)) {
      case platform::ModalWaitEnd::condition_met:
        return WaitEnd::met;
      case platform::ModalWaitEnd::time_limit:
        return WaitEnd::time_limit;
      case platform::ModalWaitEnd::quit:
        return WaitEnd::quit;
    }
  }
  using Clock = std::chrono::steady_clock;
  Clock::time_point now = Clock::now();
  Clock::time_point deadline =
      limit >= std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - now)
          ? Clock::time_point::max()
          : now + limit;
  for (;;) {
    if (done()) return WaitEnd::met;
    now = Clock::now();
    if (now >= deadline) return WaitEnd::time_limit;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    std::this_thread::sleep_for(std::min(std::max(recheck, std::chrono::milliseconds(1)), left));
  }
}

}  // namespace kavrel
