#include "brixa/core/callback_dispatch.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "brixa/core/callback_queue.h"
#include "brixa/core/client_registry.h"
#include "brixa/core/pointer_map.h"
#include "trace/trace.h"

namespace brixa {
namespace {

struct Registration {
  brixa_callback fn;
  intptr_t user;
};

// The channel's parts. `queue` and `callback_map` are created by brixa_init and freed by
// brixa_uninit after the dispatcher has ended; their pointers are atomics because posting
// threads read them at any time. The map's entries are guarded by the map's own lock.
std::atomic<CallbackQueue*> queue{nullptr};
std::atomic<PointerMap*> callback_map{nullptr};

// The dispatcher thread: started by the first attach, stopped by brixa_uninit. Its owner is
// whoever holds `dispatcher_lock` (attach starts it, uninit stops and joins it).
std::mutex dispatcher_lock;
std::thread* dispatcher = nullptr;          // guarded by dispatcher_lock
std::atomic<bool> dispatcher_running{false};
std::atomic<std::thread::id> dispatcher_id{};

// The client whose callback is running right now, so a detach can wait for it to return. Set
// by the dispatcher under the callback map's read lock, cleared after the callback; a detach
// that must wait sleeps on delivery_done under delivery_lock.
std::atomic<brixa_handle> delivering{nullptr};
std::atomic<int32_t> detach_waiters{0};
std::mutex delivery_lock;
std::condition_variable delivery_done;

void dispatch_loop(CallbackQueue* q, PointerMap* map) {
  dispatcher_id.store(std::this_thread::get_id());
  const CallbackMessage* m = nullptr;
  while (dispatcher_running.load(std::memory_order_relaxed)) {
    m = q->next(m);  // frees the message delivered last, waits for the next one
    if (m == nullptr) continue;

    Registration reg{nullptr, 0};
    {
      ReadLock hold(map->lock);
      if (auto* found = static_cast<Registration*>(map->find(m->client))) {
        reg = *found;
        if (reg.fn != nullptr) delivering.store(m->client);
      }
    }
    if (reg.fn == nullptr) continue;  // no callback: dropped unseen
    process_private_biz(m->client, m->id, m->param1, m->param2, static_cast<int32_t>(m->info_len));
    reg.fn(reg.user, m->client, m->id, m->param1, m->param2, m->info_len > 0 ? m->info : nullptr,
           static_cast<int32_t>(m->info_len));
    delivering.store(nullptr);
    if (detach_waiters.load() > 0) {
      std::lock_guard<std::mutex> wake(delivery_lock);
      delivery_done.notify_all();
    }
  }
}

void start_dispatcher_if_stopped() {
  std::lock_guard<std::mutex> hold(dispatcher_lock);
  if (dispatcher != nullptr) return;
  dispatcher_running.store(true);
  dispatcher = new std::thread(dispatch_loop, queue.load(), callback_map.load());
}

void stop_dispatcher() {
  std::thread* worker;
  {
    std::lock_guard<std::mutex> hold(dispatcher_lock);
    worker = dispatcher;
    dispatcher = nullptr;
  }
  if (worker == nullptr) return;
  dispatcher_running.store(false);
  if (CallbackQueue* q = queue.load()) q->stop();
  if (worker->get_id() == std::this_thread::get_id()) {
    worker->detach();  // uninit from inside a callback: the loop ends when the callback returns
  } else {
    worker->join();
  }
  delete worker;
}

}  // namespace

void post(brixa_handle client, int32_t id, intptr_t param1, int32_t param2, const char* info,
          int32_t info_len) {
  CallbackQueue* q = queue.load();
  if (q != nullptr) q->post(client, id, param1, param2, info, info_len);
}

void create_callback_channel() {
  if (queue.load() == nullptr) queue.store(new CallbackQueue());
  if (callback_map.load() == nullptr) callback_map.store(new PointerMap());
}

void destroy_callback_channel() {
  stop_dispatcher();
  if (PointerMap* map = callback_map.exchange(nullptr)) {
    map->walk([](const void*, void* value) {
      delete static_cast<Registration*>(value);
      return true;
    });
    delete map;
  }
  delete queue.exchange(nullptr);
}

int32_t attach_callback(brixa_handle client, brixa_callback fn, intptr_t user) {
  return with_client(client, [&](brixa_client* c) {
    PointerMap* map = callback_map.load();
    if (map == nullptr || queue.load() == nullptr) return BRIXA_ERR_FAILED;
    WriteLock hold(map->lock);
    delete static_cast<Registration*>(map->remove(c));
    map->insert(c, new Registration{fn, user});
    start_dispatcher_if_stopped();
    return BRIXA_OK;
  });
}

int32_t detach_callback(brixa_handle client) {
  PointerMap* map = callback_map.load();
  if (map == nullptr) return BRIXA_ERR_NOT_INITIALISED;
  {
    WriteLock hold(map->lock);
    delete static_cast<Registration*>(map->remove(client));
  }
  // A callback for this client may be running: wait until it returns, unless we are inside it.
  if (std::this_thread::get_id() != dispatcher_id.load()) {
    detach_waiters.fetch_add(1);
    {
      std::unique_lock<std::mutex> wait(delivery_lock);
      delivery_done.wait(wait, [client] { return delivering.load() != client; });
    }
    detach_waiters.fetch_sub(1);
  }
  return BRIXA_OK;
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
        c->record_query_running.store(0);
        join_worker(c, &brixa_client::record_query_thread);
        return BRIXA_OK;
      });
    }
  } else if (id == BRIXA_CB_CALLBACK_QUERY_RECORD_STATUS) {
    trace::step("id CB_CALLBACK_QUERY_RECORD_STATUS");
    with_client(client, [](brixa_client* c) {
      c->record_status_running.store(0);
      join_worker(c, &brixa_client::record_status_thread);
      return BRIXA_OK;
    });
  }
  trace::leave("process_private_biz");
}

}  // namespace brixa
