#include "brixa/core/callback_dispatch.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "brixa/core/bounds.h"
#include "brixa/core/callback_queue.h"
#include "brixa/core/client_registry.h"
#include "brixa/core/pointer_map.h"
#include "brixa/core/rw_lock.h"
#include "platform/sync/mutex.h"
#include "platform/threads/thread.h"
#include "trace/trace.h"

namespace brixa {
namespace {

struct Registration {
  brixa_callback fn;
  intptr_t user;
};

// The channel's parts live as long as the process; brixa_init opens them and brixa_uninit
// closes them, so a late poster or a dispatcher left behind never meets freed memory.
//
// The queue: posted to by any thread, read by the dispatcher (its own lock).
CallbackQueue& queue() {
  static auto* q = new CallbackQueue(false);
  return *q;
}

// The callback map: written by attach, detach and uninit, read by the dispatcher.
struct CallbackMap {
  RwLock lock;
  bool open GUARDED_BY(lock) = false;
  PointerMap registrations GUARDED_BY(lock);  // client handle -> Registration*
};

CallbackMap& callback_map() {
  static auto* map = new CallbackMap;
  return *map;
}

// The dispatcher thread: started by the first attach after an open, stopped by uninit. Its
// owner is whoever holds `dispatcher_lock` (attach starts it, uninit takes it and ends it).
platform::Mutex dispatcher_lock;
platform::Thread dispatcher GUARDED_BY(dispatcher_lock);
uint64_t dispatcher_epoch GUARDED_BY(dispatcher_lock) = 0;  // the queue epoch it serves

// The callbacks running right now (dispatcher thread, client), so a detach can wait for the
// one of its client to return. An entry is added under the callback map's read lock together
// with the lookup, and removed after the callback; a detach that must wait sleeps on
// `delivery_done`. (delivery_lock is taken inside the callback map's lock: brixa/README.md.)
platform::Mutex delivery_lock;
platform::CondVar delivery_done;
std::vector<std::pair<std::thread::id, brixa_handle>> deliveries GUARDED_BY(delivery_lock);

bool delivering_to(brixa_handle client) REQUIRES(delivery_lock) {
  std::thread::id self = std::this_thread::get_id();
  return std::any_of(deliveries.begin(), deliveries.end(),
                     [&](const auto& d) { return d.second == client && d.first != self; });
}

void end_delivery() {
  {
    platform::MutexLock hold(delivery_lock);
    std::thread::id self = std::this_thread::get_id();
    deliveries.erase(std::remove_if(deliveries.begin(), deliveries.end(),
                                    [&](const auto& d) { return d.first == self; }),
                     deliveries.end());
  }
  delivery_done.notify_all();
}

// The registration of the message's client, with the delivery recorded when there is one.
Registration begin_delivery(brixa_handle client) {
  CallbackMap& map = callback_map();
  ReadLock hold(map.lock);
  auto* found = static_cast<Registration*>(map.registrations.find(client));
  if (found == nullptr || found->fn == nullptr) return Registration{nullptr, 0};
  platform::MutexLock record(delivery_lock);
  deliveries.emplace_back(std::this_thread::get_id(), client);
  return *found;
}

void dispatch_loop(uint64_t epoch) {
  CallbackQueue& q = queue();
  const CallbackMessage* m = nullptr;
  while ((m = q.next(m, epoch)) != nullptr) {
    Registration reg = begin_delivery(m->client);
    if (reg.fn == nullptr) continue;  // no callback: dropped unseen
    process_private_biz(m->client, m->id, m->param1, m->param2, static_cast<int32_t>(m->info_len));
    reg.fn(reg.user, m->client, m->id, m->param1, m->param2, m->info_len > 0 ? m->info : nullptr,
           static_cast<int32_t>(m->info_len));
    end_delivery();
  }
}

// Starts a dispatcher for the queue's current epoch unless one serves it already.
void start_dispatcher_if_stopped() {
  platform::MutexLock hold(dispatcher_lock);
  uint64_t epoch = queue().epoch();
  if (dispatcher.joinable() && dispatcher_epoch == epoch) return;
  dispatcher_epoch = epoch;
  dispatcher = platform::Thread([epoch] { dispatch_loop(epoch); });
}

void stop_dispatcher() {
  platform::Thread worker;
  {
    platform::MutexLock hold(dispatcher_lock);
    worker = std::move(dispatcher);
  }
  // The queue's epoch has ended: the loop ends when its callback (if any) returns. Called from
  // inside a callback, the dispatcher cannot wait for itself and is handed over instead.
  if (worker.join_within(kThreadStopMs) == platform::Thread::End::abandoned) {
    trace::error("brixa_uninit", 165, "Callback dispatcher is not ending (165)");
  }
}

// Joins the client's worker of one kind before its final answer is delivered, when the answer
// is that worker's own (see brixa_client::record_query_final).
void reap_worker(brixa_client* c, platform::Thread brixa_client::*slot, std::atomic<int32_t> brixa_client::*running,
                 std::atomic<uint32_t> brixa_client::*serial, std::atomic<uint32_t> brixa_client::*final_posted) {
  platform::Thread worker;
  {
    platform::MutexLock hold(c->workers_lock);
    if ((c->*final_posted).load() != (c->*serial).load()) return;
    (c->*running).store(0);
    worker = std::move(c->*slot);
  }
  if (worker.join_within(kThreadStopMs) == platform::Thread::End::abandoned) {
    trace::error("join_worker", 76, "Worker is not ending (76)");
  }
}

}  // namespace

void post(brixa_handle client, int32_t id, intptr_t param1, int32_t param2, const char* info,
          int32_t info_len) {
  queue().post(client, id, param1, param2, info, info_len);
}

void open_callback_channel() {
  queue().open();
  CallbackMap& map = callback_map();
  WriteLock hold(map.lock);
  map.open = true;
}

void close_callback_channel() {
  CallbackMap& map = callback_map();
  std::vector<std::pair<const void*, Registration*>> dropped;
  {
    // Closed first, so no attach starts a dispatcher for the epoch that ends below.
    WriteLock hold(map.lock);
    map.open = false;
    map.registrations.walk([&](const void* key, void* value) {
      dropped.emplace_back(key, static_cast<Registration*>(value));
      return true;
    });
    for (const auto& entry : dropped) map.registrations.remove(entry.first);
  }
  for (const auto& entry : dropped) delete entry.second;
  queue().close();
  stop_dispatcher();
}

int32_t attach_callback(brixa_handle client, brixa_callback fn, intptr_t user) {
  return with_client(client, [&](brixa_client* c) {
    CallbackMap& map = callback_map();
    WriteLock hold(map.lock);
    if (!map.open) return BRIXA_ERR_FAILED;
    delete static_cast<Registration*>(map.registrations.remove(c));
    map.registrations.insert(c, new Registration{fn, user});
    start_dispatcher_if_stopped();
    return BRIXA_OK;
  });
}

int32_t detach_callback(brixa_handle client) {
  CallbackMap& map = callback_map();
  bool had_registration = false;
  {
    WriteLock hold(map.lock);
    if (!map.open) return BRIXA_ERR_NOT_INITIALISED;
    if (client == nullptr) return BRIXA_ERR_FAILED;
    auto* registration = static_cast<Registration*>(map.registrations.remove(client));
    had_registration = registration != nullptr;
    delete registration;
  }
  // A callback for this client may be running: wait (with a bound) until it returns, unless we
  // are inside it.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCallbackReturnMs);
  platform::MutexLock hold(delivery_lock);
  while (delivering_to(client)) {
    if (!delivery_done.wait_until(delivery_lock, deadline) && delivering_to(client)) {
      trace::error("brixa_cli_detach_callback", 205, "Callback still running (205)");
      break;
    }
  }
  return had_registration ? BRIXA_OK : BRIXA_ERR_FAILED;
}

void process_private_biz(brixa_handle client, int32_t id, intptr_t param1, int32_t param2,
                         int32_t info_len) {
  if (!trace::on() && id != BRIXA_CB_CALLBACK_QUERY_RECORD && id != BRIXA_CB_CALLBACK_QUERY_RECORD_STATUS) return;
  trace::enter("process_private_biz");
  trace::value("handle", static_cast<int>(reinterpret_cast<intptr_t>(client)));
  trace::value("id", id);
  trace::value("param1", static_cast<int>(param1));
  trace::value("param2", param2);
  trace::value("info_len", info_len);
  if (id == BRIXA_CB_CALLBACK_QUERY_RECORD) {
    trace::step("id CB_CALLBACK_QUERY_RECORD");
    if (param2 < 100) {
      with_client(client, [](brixa_client* c) {
        reap_worker(c, &brixa_client::record_query_thread, &brixa_client::record_query_running,
                    &brixa_client::record_query_serial, &brixa_client::record_query_final);
        return BRIXA_OK;
      });
    }
  } else if (id == BRIXA_CB_CALLBACK_QUERY_RECORD_STATUS) {
    trace::step("id CB_CALLBACK_QUERY_RECORD_STATUS");
    with_client(client, [](brixa_client* c) {
      reap_worker(c, &brixa_client::record_status_thread, &brixa_client::record_status_running,
                  &brixa_client::record_status_serial, &brixa_client::record_status_final);
      return BRIXA_OK;
    });
  }
  trace::leave("process_private_biz");
}

}  // namespace brixa
