#include <atomic>
#include <memory>
#include <thread>

#include "brixa/core/intrusive_list.h"
#include "brixa/core/pointer_map.h"
#include "brixa/tunnel/connectors.h"
#include "platform/sync/event.h"
#include "trace/trace.h"

namespace brixa::tunnel {
namespace {

// The socket map (connector -> itself) and the check thread: created and started by
// brixa_init, stopped and freed by brixa_uninit, both on the caller's thread. The check thread
// reads the map under the map's read lock.
std::atomic<PointerMap*> socket_map{nullptr};
std::thread* check_thread = nullptr;
std::atomic<bool> check_running{false};
platform::Event stop_check(platform::Event::Reset::manual, false);

void check_loop(PointerMap* map) {
  while (check_running.load()) {
    {
      ReadLock hold(map->lock);
      map->walk([](const void*, void*) { return true; });
    }
    stop_check.wait(1000);
  }
}

}  // namespace

void start_connectors() {
  if (socket_map.load() == nullptr) {
    trace::step("creating socket map (198)");
    socket_map.store(new PointerMap());
  }
  if (check_thread == nullptr) {
    trace::step("creating T2U check thread (201)");
    stop_check.reset();
    check_running.store(true);
    check_thread = new std::thread(check_loop, socket_map.load());
  }
}

void stop_connectors() {
  if (check_thread != nullptr) {
    trace::step("- joining t2u check thread");
    check_running.store(false);
    stop_check.set();
    check_thread->join();
    delete check_thread;
    check_thread = nullptr;
    trace::step("- deleted t2u check thread");
  }
  if (PointerMap* map = socket_map.exchange(nullptr)) {
    trace::step("- freeing socket map");
    delete map;
  }
}

void release_session_locked(brixa_client*, device_session* session) {
  ListHead::unlink(&session->link);
  if (session->device_info_thread != nullptr) {
    session->device_info_running.store(0);
    session->device_info_thread->join();
    delete session->device_info_thread;
    session->device_info_thread = nullptr;
  }
  delete session;
}

}  // namespace brixa::tunnel
