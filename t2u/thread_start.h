// How the tunnel library starts its threads. A start the system refuses throws std::system_error,
// as std::thread does; tests can make the next starts fail to show what the library does then.
#pragma once

#include <functional>
#include <thread>

namespace t2u {

std::thread start_thread(std::function<void()> body);

namespace testing {
// The next `count` starts (on any thread) fail as if the system had no thread to spare.
void fail_thread_starts(int count);
}  // namespace testing

}  // namespace t2u
