#include "brixa/live/stuck_monitor.h"

#include <memory>
#include <utility>

#include "platform/sync/event.h"
#include "platform/sync/mutex.h"
#include "platform/threads/thread.h"
#include "trace/trace.h"

namespace brixa::live {
namespace {

constexpr uint32_t kLookIntervalMs = 5000;

// Started and stopped by brixa_init and brixa_uninit; guarded by owner_lock. The stop event is
// shared with the monitor thread, so a monitor left behind by a bounded stop never touches freed
// memory; such a monitor goes to the abandoned-thread list, which joins it once it ends.
platform::Mutex owner_lock;
platform::Thread monitor GUARDED_BY(owner_lock);
std::shared_ptr<platform::Event> stop_monitor GUARDED_BY(owner_lock);

void look_for_stuck_streams() {
  // Streams and their captures join the capture registry with live viewing; until one is
  // registered there is nothing to look at.
}

}  // namespace

void start_stuck_monitor() {
  platform::MutexLock hold(owner_lock);
  if (monitor.joinable()) return;
  auto stop = std::make_shared<platform::Event>(platform::Event::Reset::manual, false);
  stop_monitor = stop;
  monitor = platform::Thread([stop] {
    while (!stop->wait(kLookIntervalMs)) look_for_stuck_streams();
  });
}

void stop_stuck_monitor(uint32_t wait_ms) {
  platform::Thread ending;
  std::shared_ptr<platform::Event> stop;
  {
    platform::MutexLock hold(owner_lock);
    ending = std::move(monitor);
    stop = std::move(stop_monitor);
  }
  if (!ending.joinable()) return;
  trace::step("Stopping stuck connections monitor");
  stop->set();
  ending.join_within(wait_ms);
}

bool stuck_monitor_running() {
  platform::MutexLock hold(owner_lock);
  return monitor.joinable();
}

}  // namespace brixa::live
