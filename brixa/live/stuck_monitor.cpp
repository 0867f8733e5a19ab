#include "brixa/live/stuck_monitor.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/sync/event.h"
#include "trace/trace.h"

namespace brixa::live {
namespace {

constexpr uint32_t kLookIntervalMs = 5000;

// Shared with the monitor thread, so a monitor left behind by a bounded stop never touches
// freed memory.
struct Monitor {
  platform::Event stop{platform::Event::Reset::manual, false};
  platform::Event ended{platform::Event::Reset::manual, false};
};

// Started and stopped by brixa_init and brixa_uninit; guarded by owner_lock.
std::mutex owner_lock;
std::shared_ptr<Monitor> current;

void look_for_stuck_streams() {
  // Streams and their captures join the capture registry with live viewing; until one is
  // registered there is nothing to look at.
}

void run(std::shared_ptr<Monitor> self) {
  while (!self->stop.wait(kLookIntervalMs)) look_for_stuck_streams();
  self->ended.set();
}

}  // namespace

void start_stuck_monitor() {
  std::lock_guard<std::mutex> hold(owner_lock);
  if (current != nullptr) return;
  current = std::make_shared<Monitor>();
  std::thread(run, current).detach();
}

void stop_stuck_monitor(uint32_t wait_ms) {
  std::shared_ptr<Monitor> monitor;
  {
    std::lock_guard<std::mutex> hold(owner_lock);
    monitor.swap(current);
  }
  if (monitor == nullptr) return;
  trace::step("Stopping stuck connections monitor");
  monitor->stop.set();
  monitor->ended.wait(wait_ms);
}

bool stuck_monitor_running() {
  std::lock_guard<std::mutex> hold(owner_lock);
  return current != nullptr;
}

}  // namespace brixa::live
