#include "brixa/core/library.h"

#include <atomic>
#include <vector>

#include "brixa/alerts/alerts.h"
#include "brixa/core/bounds.h"
#include "brixa/core/callback_dispatch.h"
#include "brixa/core/client_registry.h"
#include "brixa/core/sdk_errors.h"
#include "brixa/live/draw_hook.h"
#include "brixa/live/stuck_monitor.h"
#include "brixa/search/device_search.h"
#include "brixa/sdk/sdk.h"
#include "brixa/tunnel/connectors.h"
#include "platform/sync/mutex.h"
#include "trace/trace.h"

namespace brixa {
namespace {

// Serialises brixa_init and brixa_uninit (any caller thread, the dispatcher included when a
// callback stops the library); `running` is true between a completed init and the next uninit.
platform::Mutex lifecycle_lock;
std::atomic<bool> running{false};
std::atomic<uint64_t> generation{1};

// The NetSDK's notifications of a lost and a restored device connection only trace: a lost
// device is noticed through its tunnel and by the control.
void trace_connection_notice(const char* function, int32_t login_id, const char* device_ip,
                             int32_t device_port) {
  trace::enter(function);
  trace::value("lLoginID", login_id);
  trace::value("pchDVRIP", device_ip);
  trace::value("nDVRPort", device_port);
  trace::leave(function);
}

void DisConnectFunc(int32_t login_id, const char* device_ip, int32_t device_port, intptr_t) {
  trace_connection_notice("DisConnectFunc", login_id, device_ip, device_port);
}

void AutoReconnectFunc(int32_t login_id, const char* device_ip, int32_t device_port, intptr_t) {
  trace_connection_notice("AutoReconnectFunc", login_id, device_ip, device_port);
}

// Takes every client out of the registry and closes it; false (and the registry kept as it is)
// when its lock cannot be had within the bound.
bool take_all_clients(std::vector<ClientRef>& clients) {
  ClientRegistry& registry = client_registry();
  if (!registry.lock.try_lock_write_for(kUninitRegistryMs)) return false;
  registry.clients.walk([&](const void* key, void*) {
    clients.push_back(ClientRef::adopt(static_cast<brixa_handle>(const_cast<void*>(key))));
    return true;
  });
  for (const ClientRef& client : clients) registry.clients.remove(client.get());
  registry.open = false;
  registry.lock.unlock_write();
  return true;
}

}  // namespace

bool initialised() { return running.load(); }

uint64_t library_generation() { return generation.load(); }

void init(const char* svraddr, uint16_t svrport, const char* svrkey) {
  trace::enter("brixa_init");
  trace::value("svraddr", svraddr);
  trace::value("svrport", svrport);
  trace::secret("svrkey", svrkey);
  platform::MutexLock hold(lifecycle_lock);
  if (running.load()) {
    // A second init would start a second monitor and re-initialise the SDK under live sessions.
    trace::step("Already initialised");
    trace::leave("brixa_init");
    return;
  }
  if (t2u_status() == -1) {
    trace::step("Init P2P");
    t2u_init(svraddr != nullptr ? svraddr : "", svrport, svrkey != nullptr ? svrkey : "");
  }
  trace::step("Initializing SDK");
  if (!NET_Init(DisConnectFunc, 0)) trace_netsdk_error("brixa_init", 60, "set disconnect callback (48)");
  NET_SetAutoReconnect(AutoReconnectFunc, 0);

  trace::step("Extending timeout for network communications");
  NET_NetworkParams params{};
  params.wait_time_ms = 10000;
  params.connect_time_ms = 15000;
  params.connect_tries = 3;
  params.sub_connect_interval_ms = 3000;
  params.device_info_time_ms = 3000;
  params.record_search_time_ms = 10000;
  NET_SetNetworkParam(&params);

  if (!registry_open()) {
    trace::step("Creating client map");
    open_client_registry();
  }
  trace::step("Init callback");
  open_callback_channel();
  trace::step("Init connectors");
  tunnel::start_connectors();
  trace::step("Registering drawing function");
  register_draw_callback();
  live::start_stuck_monitor();
  running.store(true);
  trace::leave("brixa_init");
}

void uninit() {
  trace::enter("brixa_uninit");
  platform::MutexLock hold(lifecycle_lock);
  // The device search ends with the library: no report is posted after this.
  search::stop_search_on_uninit();
  live::stop_stuck_monitor(1000);

  trace::step("Unregistering drawing function");
  NET_RegisterDrawFun(nullptr, 0);

  if (registry_open()) {
    trace::step("Clearing client map");
    std::vector<ClientRef> clients;
    if (take_all_clients(clients)) {
      for (ClientRef& client : clients) end_client(std::move(client));
    } else {
      trace::error("brixa_uninit", 148, "Cannot lock client map for clearing (148)");
    }
  }

  alerts::stop_alerts_on_uninit();
  trace::step("Closing connectors");
  tunnel::stop_connectors();
  close_callback_channel();

  // From here on, records of this generation leave the NetSDK and the tunnel library alone.
  generation.fetch_add(1);
  trace::step("Cleaning SDK instance");
  NET_Cleanup();
  trace::step("Closing Cloud instance");
  t2u_exit();
  running.store(false);
  trace::leave("brixa_uninit");
}

}  // namespace brixa
