// The socket map, the T2U check thread and the release of a device session's connection.
//
// Locks, outermost first: the client registry, a client's device list lock, the socket map,
// the callback queue. The check thread takes them the other way round: the socket map's read
// lock, then the registry's read lock and a device list lock. It may, because it never waits
// without limit for those two while it holds the socket map (a timed lock and tries), so a
// release that holds the registry and a device list lock and waits for the socket map cannot
// deadlock with it.
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "brixa/core/callback_dispatch.h"
#include "brixa/core/client_registry.h"
#include "brixa/core/intrusive_list.h"
#include "brixa/core/pointer_map.h"
#include "brixa/sdk/sdk.h"
#include "brixa/tunnel/connector.h"
#include "brixa/tunnel/connectors.h"
#include "brixa/tunnel/socket_map.h"
#include "platform/sync/event.h"
#include "trace/trace.h"

namespace brixa::tunnel {
namespace {

// Created and started by brixa_init, stopped and freed by brixa_uninit, both on the caller's
// thread (brixa_init and brixa_uninit are serialised). The check thread reads the map under the
// map's read lock.
std::atomic<PointerMap*> the_socket_map{nullptr};
std::thread* check_thread = nullptr;
std::atomic<bool> check_running{false};
platform::Event stop_check(platform::Event::Reset::manual, false);

// One check round at a time: the check thread's and a test's (taken before the socket map).
std::mutex round_lock;

// The check thread holds the socket map while it tries a device list lock: it tries briefly
// (20 ms at most) and sees the change again next round when it cannot get in.
constexpr int kCheckListLockTries = 20;
constexpr int kCheckListLockRetryMs = 1;

// A status change seen under the socket map's lock, applied under the client's locks.
struct Change {
  brixa_connector* connector;
  brixa_client* client;
  uint64_t serial;
  int32_t status;
};

// The connector's session in the client's list, or null. Device list lock held.
device_session* session_of(brixa_client* client, const brixa_connector* connector) {
  for (ListLink* l = client->devices.first(); l != client->devices.end(); l = l->next) {
    device_session* s = device_session::from_link(l);
    if (s->connector == connector) return s;
  }
  return nullptr;
}

// Steps 3 to 6 of a connector's check. Registry read lock and device list lock held.
void apply_change(brixa_connector* c, device_session* session, int32_t status) {
  trace::enter("t2u_sock_check");
  if (const char* text = status_text(status)) trace::step(text);
  if (status == 1) c->disconnected.store(0);
  if (status != 1 && session->login_handle > 0) {
    // The device's service is gone with its tunnel. The handle is cleared too, so that a login
    // after the tunnel is back really logs in instead of finding this dead one.
    NET_Logout(session->login_handle);
    session->login_handle = 0;
  }
  if (StatusCallback callback = c->status_callback.load()) callback(c, status);
  c->last_status.store(status);
  trace::leave("t2u_sock_check");
}

void check_round(PointerMap* map) {
  std::lock_guard<std::mutex> one_round(round_lock);
  std::vector<Change> changes;
  ReadLock map_hold(map->lock);
  map->walk([&](const void*, void* value) {
    auto* c = static_cast<brixa_connector*>(value);
    int32_t port = c->mapped_port.load();
    t2u_port_stats stats{};
    int32_t status = port > 0 ? t2u_port_status(static_cast<uint16_t>(port), &stats) : -1;
    if (status == 1) {
      c->usingRelay.store(stats.usingRelay);
      c->relay_quality.store(stats.relay_quality);
      c->remoteNATType.store(stats.remoteNATType);
      c->localNATType.store(stats.localNATType);
      c->remoteVersion.store(stats.remoteVersion);
    }
    if (status != c->last_status.load()) changes.push_back({c, c->client, c->serial, status});
    return true;
  });
  if (changes.empty()) return;

  // While a connector is in the map, its client is registered and alive: releasing a client
  // takes its connectors out of the map (under the map's write lock) before the client, or the
  // registry, is freed. So the socket map's read lock, held to the end of the round, keeps the
  // registry and these clients alive. Nothing below waits without limit while holding it: the
  // registry's read lock gives up after 500 ms when a writer holds it (a release waiting for
  // this map), and a device list lock is only tried. What cannot be reached now is seen again
  // next round, because last_status is left unchanged.
  PointerMap* registry = client_registry();
  if (registry == nullptr || !registry->lock.try_lock_read_timed()) return;
  for (const Change& change : changes) {
    if (!registry->contains(change.client)) continue;
    platform::CriticalSection& list = change.client->device_list_lock;
    bool entered = false;
    for (int i = 0; i < kCheckListLockTries && !entered; ++i) {
      entered = list.try_enter();
      if (!entered) std::this_thread::sleep_for(std::chrono::milliseconds(kCheckListLockRetryMs));
    }
    if (!entered) continue;
    // The serial tells this connector from a newer one at the same address. A connector whose
    // session is not in the list yet (still being created) keeps its change for the next round.
    device_session* session = session_of(change.client, change.connector);
    if (session != nullptr && change.connector->serial == change.serial) {
      apply_change(change.connector, session, change.status);
    }
    list.leave();
  }
  registry->lock.unlock_read();
}

void check_loop(PointerMap* map) {
  while (check_running.load()) {
    check_round(map);
    stop_check.wait(1000);
  }
}

}  // namespace

PointerMap* socket_map() { return the_socket_map.load(); }

bool run_check_round_for_testing() {
  PointerMap* map = the_socket_map.load();
  if (map == nullptr) return false;
  check_round(map);
  return true;
}

void start_connectors() {
  if (the_socket_map.load() == nullptr) {
    trace::step("creating socket map (198)");
    the_socket_map.store(new PointerMap());
  }
  if (check_thread == nullptr) {
    trace::step("creating T2U check thread (201)");
    stop_check.reset();
    check_running.store(true);
    check_thread = new std::thread(check_loop, the_socket_map.load());
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
  if (PointerMap* map = the_socket_map.exchange(nullptr)) {
    trace::step("- freeing socket map");
    // Connectors of clients that outlive the library (none when brixa_uninit could release
    // every client) are no longer followed.
    delete map;
  }
}

void release_session_locked(brixa_client*, device_session* session) {
  if (session->login_handle > 0) {
    trace::step("- logging out (287)");
    NET_Logout(session->login_handle);
    session->login_handle = 0;
  }
  trace::step("- deleting item from list (290)");
  ListHead::unlink(&session->link);
  trace::step("- deleting connector (293)");
  brixa_connector_delete(session->connector);
  session->connector = nullptr;
  if (session->device_info_thread != nullptr) {
    trace::step("- joining device info thread (298)");
    session->device_info_running.store(0);
    if (session->device_info_thread->get_id() == std::this_thread::get_id()) {
      session->device_info_thread->detach();  // released from its own thread: it ends right after
    } else if (session->device_info_thread->joinable()) {
      session->device_info_thread->join();
    }
    delete session->device_info_thread;
    session->device_info_thread = nullptr;
  }
  trace::step("- freeing item");
  delete session;
}

void post_status(brixa_connector* connector, int32_t status) {
  post(connector->client, BRIXA_CB_CALLBACK_P2P_MAPPED, reinterpret_cast<intptr_t>(connector), status,
       connector->id, static_cast<int32_t>(strlen(connector->id)));
}

}  // namespace brixa::tunnel
