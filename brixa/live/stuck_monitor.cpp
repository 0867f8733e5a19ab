#include "brixa/live/stuck_monitor.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "brixa/live/channel_capture.h"
#include "brixa/live/overlay.h"
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

void run(std::shared_ptr<Monitor> self) {
  trace::step("Starting monitoring of connections");
  while (!self->stop.wait(kLookIntervalMs)) check_stuck_connections();
  trace::step("Exit monitoring of connections");
  self->ended.set();
}

}  // namespace

void check_stuck_connections() {
  trace::step("Checking connections");
  // The registry lock is held only to take the list; the notices are drawn after it.
  for (const CapturePtr& capture : all_captures()) {
    if (capture->is_playback != 0) continue;
    uint32_t elapsed = now_tick() - capture->last_frame_tick.load();
    if (elapsed < kStuckAfterMs + 1) {
      capture->stuck.store(0);
      continue;
    }
    char message[400];
    snprintf(message, sizeof message, "Stuck connection: dev %s chl %d for %d msecs", capture->dev_id,
             capture->channel, static_cast<int>(elapsed));
    trace::error("MapStuckConnections", 0, message);
    capture->stuck.store(1);
    draw_stall_notice(capture->window, stall_notice_text(elapsed));
  }
}

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
