// The socket map, the T2U check thread and the release of a device session's connection.
// The lock order is written in brixa/README.md. The check thread takes the socket map's read
// lock and, inside it, the registry's read lock and a client's device list lock, while a
// release holds a device list lock and takes the socket map's write lock: so the check thread
// only tries the device list lock and leaves what it cannot reach for its next round.
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "brixa/core/bounds.h"
#include "brixa/core/callback_dispatch.h"
#include "brixa/core/client_registry.h"
#include "brixa/core/device_sessions.h"
#include "brixa/core/intrusive_list.h"
#include "brixa/core/library.h"
#include "brixa/core/session_teardown.h"
#include "brixa/sdk/sdk.h"
#include "brixa/tunnel/connector.h"
#include "brixa/tunnel/connectors.h"
#include "brixa/tunnel/socket_map.h"
#include "platform/sync/event.h"
#include "platform/sync/mutex.h"
#include "platform/threads/thread.h"
#include "trace/trace.h"

namespace brixa::tunnel {
namespace {

// The check thread: started by brixa_init and stopped by brixa_uninit, which are serialised;
// `check_lock` guards the thread object against a stop from inside a callback.
platform::Mutex check_lock;
platform::Thread check_thread GUARDED_BY(check_lock);
platform::Event stop_check(platform::Event::Reset::manual, false);

// One check round at a time: the check thread's and a test's. Taken before the socket map.
platform::Mutex round_lock;

constexpr int kListLockTries = 20;
constexpr int kListLockRetryMs = 1;

// Releases that could not reach their client's device list in time. Added to by
// brixa_release_connect (any export thread), worked off by the check thread and by
// brixa_uninit; guarded by `pending_lock`, which is never held while a release runs.
struct PendingRelease {
  ClientRef client;
  brixa_connector* connector;
};
platform::Mutex pending_lock;
std::vector<PendingRelease> pending GUARDED_BY(pending_lock);

// A status change seen under the socket map's lock, applied under the client's locks.
struct Change {
  brixa_connector* connector;
  brixa_client* client;
  uint64_t serial;
  int32_t status;
};

// The connector's session in the client's list, or null.
device_session* session_of(brixa_client* client, const brixa_connector* connector)
    REQUIRES(client->device_list_lock) {
  for (ListLink* l = client->devices.first(); l != client->devices.end(); l = l->next) {
    device_session* s = device_session::from_link(l);
    if (s->connector == connector) return s;
  }
  return nullptr;
}

// Steps 3 to 6 of a connector's check.
void apply_change([[maybe_unused]] brixa_client* client, brixa_connector* c, device_session* session, int32_t status)
    REQUIRES(client->device_list_lock) {
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

bool try_list_lock(brixa_client* client) TRY_ACQUIRE(true, client->device_list_lock) {
  for (int i = 0; i < kListLockTries; ++i) {
    if (client->device_list_lock.try_enter()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(kListLockRetryMs));
  }
  return false;
}

void check_round() {
  platform::MutexLock one_round(round_lock);
  SocketMap& map = socket_map();
  std::vector<Change> changes;
  // While a connector is in the map it is alive: its release takes it out under the map's
  // write lock before freeing it. So the read lock, held to the end of the round, keeps these
  // connectors alive; their clients are looked up afresh. Nothing below waits long while holding
  // it: the registry's lock is held by others only for map work, and a device list lock is only
  // tried. What cannot be reached now is seen again next round, because last_status is left
  // unchanged.
  ReadLock map_hold(map.lock);
  map.connectors.walk([&](const void*, void* value) {
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

  for (const Change& change : changes) {
    int32_t found = 0;
    ClientRef client = find_client(change.client, &found);
    if (!client) continue;
    if (!try_list_lock(client.get())) continue;
    // The serial tells this connector from a newer one at the same address. A connector whose
    // session is not in the list yet (still being created) keeps its change for the next round.
    device_session* session = session_of(client.get(), change.connector);
    if (session != nullptr && change.connector->serial == change.serial) {
      apply_change(client.get(), change.connector, session, change.status);
    }
    client->device_list_lock.leave();
  }
}

// Works off the deferred releases; those whose device list is still busy wait up to `wait_ms`
// each, or stay for the next round when `keep_busy` is set.
void run_pending_releases(uint32_t wait_ms, bool keep_busy) {
  std::vector<PendingRelease> work;
  {
    platform::MutexLock hold(pending_lock);
    work.swap(pending);
  }
  std::vector<PendingRelease> busy;
  for (PendingRelease& p : work) {
    brixa_client* client = p.client.get();
    if (!client->device_list_lock.try_enter_for(wait_ms)) {
      if (keep_busy) {
        busy.push_back(std::move(p));
      } else {
        trace::error("brixa_release_connect", 388, "Deferred release dropped: device list busy (388)");
      }
      continue;
    }
    if (device_session* session = session_of(client, p.connector)) {
      trace::step("- releasing deferred connection (380)");
      release_session_locked(client, session);
    }
    client->device_list_lock.leave();
  }
  if (busy.empty()) return;
  platform::MutexLock hold(pending_lock);
  for (PendingRelease& p : busy) pending.push_back(std::move(p));
}

void check_loop() {
  do {
    run_pending_releases(0, true);
    check_round();
  } while (!stop_check.wait(1000));
}

}  // namespace

SocketMap& socket_map() {
  static auto* map = new SocketMap;  // lives as long as the process
  return *map;
}

bool run_check_round_for_testing() {
  {
    SocketMap& map = socket_map();
    ReadLock hold(map.lock);
    if (!map.open) return false;
  }
  check_round();
  return true;
}

void start_connectors() {
  {
    SocketMap& map = socket_map();
    WriteLock hold(map.lock);
    if (!map.open) {
      trace::step("creating socket map (198)");
      map.open = true;
    }
  }
  platform::MutexLock hold(check_lock);
  if (!check_thread.joinable()) {
    trace::step("creating T2U check thread (201)");
    stop_check.reset();
    check_thread = platform::Thread(check_loop);
  }
}

void stop_connectors() {
  platform::Thread ending;
  {
    platform::MutexLock hold(check_lock);
    ending = std::move(check_thread);
  }
  if (ending.joinable()) {
    trace::step("- joining t2u check thread");
    stop_check.set();
    if (ending.join_within(kThreadStopMs) == platform::Thread::End::abandoned) {
      trace::error("brixa_uninit", 215, "T2U check thread is not ending (215)");
    }
    trace::step("- deleted t2u check thread");
  }
  run_pending_releases(kDeviceListMs, false);
  SocketMap& map = socket_map();
  WriteLock hold(map.lock);
  if (map.open) {
    trace::step("- freeing socket map");
    // Connectors of clients that outlive the library (none when brixa_uninit could release
    // every client) are no longer followed.
    std::vector<const void*> keys;
    map.connectors.walk([&](const void* key, void*) {
      keys.push_back(key);
      return true;
    });
    for (const void* key : keys) map.connectors.remove(key);
    map.open = false;
  }
}

void defer_release(ClientRef client, brixa_connector* connector) {
  {
    platform::MutexLock hold(pending_lock);
    pending.push_back(PendingRelease{std::move(client), connector});
  }
}

void release_session_locked(brixa_client* client, device_session* session) {
  bool library_alive = client->generation == library_generation();
  session_going_away(session);
  if (session->login_handle > 0) {
    trace::step("- logging out (287)");
    if (library_alive) NET_Logout(session->login_handle);
    session->login_handle = 0;
  }
  trace::step("- deleting item from list (290)");
  ListHead::unlink(&session->link);
  trace::step("- deleting connector (293)");
  if (library_alive) {
    brixa_connector_delete(session->connector);
  } else {
    brixa_connector_forget(session->connector);
  }
  session->connector = nullptr;
  if (session->device_info_thread.joinable()) {
    trace::step("- joining device info thread (298)");
    end_device_info_thread(take_device_info_thread(session));
  }
  trace::step("- freeing item");
  delete session;
}

void post_status(brixa_connector* connector, int32_t status) {
  post(connector->client, BRIXA_CB_CALLBACK_P2P_MAPPED, reinterpret_cast<intptr_t>(connector), status,
       connector->id, static_cast<int32_t>(strlen(connector->id)));
}

}  // namespace brixa::tunnel
