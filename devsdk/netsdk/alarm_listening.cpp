// Alarm listening: NET_SetMessageCallback, NET_StartListenEx, NET_StopListen and the alarm
// thread that delivers the device's alarm events to the message callback.
#include "devsdk/netsdk/alarm_listening.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "devsdk/netsdk/connection.h"
#include "devsdk/netsdk/logins.h"
#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/sdk_state.h"
#include "devsdk/proto/alarms.h"
#include "devsdk/proto/messages.h"

namespace netsdk {
namespace {

// The last state of every alarm kind of one listening login, one byte per channel.
struct Listening {
  size_t channels = 0;
  size_t alarm_inputs = 0;
  std::map<uint32_t, std::vector<uint8_t>> states;  // kind -> states
};

struct Delivery {
  int32_t command = 0;
  int32_t login_id = 0;
  std::vector<uint8_t> body;
  std::string device_ip;
  int32_t device_port = 0;
};

// Guarded by `lock` (see alarm_listening.h for the threads).
std::mutex lock;
std::condition_variable wake;
NET_MessageCallback message_callback = nullptr;
intptr_t message_user = 0;
std::map<int32_t, Listening> listening;  // login handle -> its states
std::deque<Delivery> queue;
bool stopping = false;
std::thread alarm_thread;  // started by the first NET_StartListenEx, joined by NET_Cleanup

void deliver_loop() {
  std::unique_lock<std::mutex> hold(lock);
  for (;;) {
    wake.wait(hold, [] { return stopping || !queue.empty(); });
    if (stopping) return;
    Delivery d = std::move(queue.front());
    queue.pop_front();
    NET_MessageCallback callback = message_callback;
    intptr_t user = message_user;
    hold.unlock();
    if (callback != nullptr) {
      callback(d.command, d.login_id, reinterpret_cast<const char*>(d.body.data()),
               static_cast<uint32_t>(d.body.size()), d.device_ip.c_str(), d.device_port, user);
    }
    hold.lock();
  }
}

void start_alarm_thread_locked() {
  if (alarm_thread.joinable()) return;
  stopping = false;
  alarm_thread = std::thread(deliver_loop);
}

size_t slots_of(const Listening& l, uint32_t kind) {
  return kind == proto::kAlarmInput ? l.alarm_inputs : l.channels;
}

}  // namespace

void on_alarm_push(int32_t login_id, const std::string& device_ip, uint16_t device_port, const proto::Message& m) {
  if (login_id <= 0 || m.header.type != static_cast<uint16_t>(proto::Type::alarm_event)) return;
  proto::AlarmEvent event;
  if (!proto::decode(m.payload, event) || !proto::valid_alarm(event.kind, event.channel)) return;
  std::lock_guard<std::mutex> hold(lock);
  auto it = listening.find(login_id);
  if (it == listening.end() || stopping) return;
  std::vector<uint8_t>& states = it->second.states[event.kind];
  auto channel = static_cast<size_t>(event.channel);
  size_t size = std::max(slots_of(it->second, event.kind), channel + 1);
  if (states.size() < size) states.resize(size, 0);
  states[channel] = event.state != 0 ? 1 : 0;
  Delivery d;
  d.command = static_cast<int32_t>(event.kind);
  d.login_id = login_id;
  d.body = states;
  d.device_ip = device_ip;
  d.device_port = device_port;
  queue.push_back(std::move(d));
  wake.notify_one();
}

void forget_alarm_listening(int32_t login_id) {
  std::lock_guard<std::mutex> hold(lock);
  listening.erase(login_id);
}

void stop_alarm_thread() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> hold(lock);
    stopping = true;
    queue.clear();
    listening.clear();
    thread = std::move(alarm_thread);
  }
  wake.notify_all();
  if (!thread.joinable()) return;
  if (thread.get_id() == std::this_thread::get_id()) {
    reap(std::move(thread));  // NET_Cleanup from inside the callback: joined by a later cleanup
  } else {
    thread.join();
  }
}

}  // namespace netsdk

using netsdk::set_last_error;

extern "C" {

void NET_SetMessageCallback(NET_MessageCallback callback, intptr_t user) {
  std::lock_guard<std::mutex> hold(netsdk::lock);
  netsdk::message_callback = callback;
  netsdk::message_user = user;
}

NET_BOOL NET_StartListenEx(int32_t login_id) {
  if (netsdk::injected_failure("NET_StartListenEx")) return 0;
  auto login = netsdk::find_login(login_id);
  if (login == nullptr) return 0;
  bool was_listening;
  {
    // Listening begins before the request: the device reports the alarms that are on right
    // after its answer, and the reader may hand them in before this thread runs again.
    std::lock_guard<std::mutex> hold(netsdk::lock);
    was_listening = netsdk::listening.count(login_id) != 0;
    netsdk::listening[login_id];
    netsdk::start_alarm_thread_locked();
  }
  std::vector<uint8_t> payload;
  proto::AlarmSubscribeReply sizes;
  bool ok = netsdk::ask(*login, proto::Type::alarm_subscribe, {}, netsdk::request_wait_ms(0), payload);
  if (ok && !proto::decode(payload, sizes)) {
    login->control->abort();
    set_last_error(NET_ERR_RETURN_DATA_ERROR);
    ok = false;
  }
  std::lock_guard<std::mutex> hold(netsdk::lock);
  auto it = netsdk::listening.find(login_id);
  if (!ok) {
    if (!was_listening && it != netsdk::listening.end()) netsdk::listening.erase(it);
    return 0;
  }
  if (it == netsdk::listening.end()) {  // logged out meanwhile
    set_last_error(NET_ERR_INVALID_HANDLE);
    return 0;
  }
  it->second.channels = sizes.channels;
  it->second.alarm_inputs = sizes.alarm_inputs;
  set_last_error(0);
  return 1;
}

NET_BOOL NET_StopListen(int32_t login_id) {
  if (netsdk::injected_failure("NET_StopListen")) return 0;
  auto login = netsdk::find_login(login_id);
  if (login == nullptr) return 0;
  netsdk::forget_alarm_listening(login_id);
  std::vector<uint8_t> payload;
  if (!netsdk::ask(*login, proto::Type::alarm_unsubscribe, {}, netsdk::request_wait_ms(0), payload)) return 0;
  set_last_error(0);
  return 1;
}

}  // extern "C"
