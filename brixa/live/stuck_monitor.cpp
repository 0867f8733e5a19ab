#include "brixa/live/stuck_monitor.h"

#include <cstdio>
#include <memory>
#include <utility>

#include "brixa/live/channel_capture.h"
#include "brixa/live/overlay.h"
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

void run(const std::shared_ptr<platform::Event>& stop) {
  trace::step("Starting monitoring of connections");
  while (!stop->wait(kLookIntervalMs)) check_stuck_connections();
  trace::step("Exit monitoring of connections");
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
  platform::MutexLock hold(owner_lock);
  if (monitor.joinable()) return;
  auto stop = std::make_shared<platform::Event>(platform::Event::Reset::manual, false);
  stop_monitor = stop;
  monitor = platform::Thread([stop] { run(stop); });
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
