#include "t2u/thread_start.h"

#include <atomic>
#include <cerrno>
#include <system_error>

namespace t2u {
namespace {
std::atomic<int> failures_to_inject{0};

// Takes one injected failure, if any are left.
bool take_injected_failure() {
  int left = failures_to_inject.load();
  while (left > 0) {
    if (failures_to_inject.compare_exchange_weak(left, left - 1)) return true;
  }
  return false;
}
}  // namespace

std::thread start_thread(std::function<void()> body) {
  if (take_injected_failure()) throw std::system_error(EAGAIN, std::generic_category(), "thread start refused");
  return std::thread(std::move(body));
}

namespace testing {
void fail_thread_starts(int count) { failures_to_inject.store(count); }
}  // namespace testing

}  // namespace t2u
