// The tunnel service: device agents register here with their device identifier and port key;
// tunnel library clients connect with the service key, watch the ports they map, and open
// streams that the service relays to the device's agent. t2u/README.md gives the protocol.
//
// The service can be told, for tests and the demo, to take a device offline, cut its tunnels,
// refuse it, delay it, or reject its port key; a switch holds for a device identifier whether
// or not its agent is registered at the time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/net/socket_io.h"
#include "t2u/wire/signal_fd.h"

namespace t2u::wire {
class LineChannel;
}

namespace sim::tunnel {

struct ServiceOptions {
  uint16_t port = 0;                 // 0: a free port chosen by the system
  std::string client_key;            // empty: any client key is accepted
  int32_t client_nat_type = 2;       // the NAT type reported to clients as their own
  uint32_t open_timeout_ms = 5000;   // how long an opening stream waits for the agent
  uint32_t reestablish_ms = 2000;    // how long cut tunnels stay cut before they come back
};

// Threads: the accept thread, one thread per connection and a timer thread, all started by
// start() and stopped and joined by stop() (or the destructor). Every public member may be
// called from any thread.
class TunnelService {
 public:
  explicit TunnelService(ServiceOptions options = {});
  ~TunnelService();
  TunnelService(const TunnelService&) = delete;
  TunnelService& operator=(const TunnelService&) = delete;

  // Listens on 127.0.0.1; false when the port cannot be bound, or after stop().
  bool start();
  // Closes every connection and joins every thread.
  void stop();
  uint16_t port() const { return port_; }

  // Offline: ports watching the device report -4 (-3 where a tunnel was up) and its streams are
  // cut. Back online: they report 1 again.
  void set_device_online(const std::string& device_id, bool online);
  // Cuts every stream of the device now; its watched ports report -3 for reestablish_ms.
  void cut_tunnels(const std::string& device_id);
  // Refused: the device's ports report -2 (-3 where a tunnel was up) and streams are refused.
  void set_refuse(const std::string& device_id, bool refuse);
  // Holds back the first answer about each watched port and every stream opening by `delay_ms`.
  void set_delay(const std::string& device_id, uint32_t delay_ms);
  // Rejects every port key presented for the device: its ports report -5.
  void set_reject_key(const std::string& device_id, bool reject);
  // Refused clients are turned away at their opening line and keep trying.
  void set_accept_clients(bool accept);
  // Holds back the answer to each client's opening line by `delay_ms`.
  void set_client_delay(uint32_t delay_ms);

  bool device_registered(const std::string& device_id) const;
  bool wait_device_registered(const std::string& device_id, uint32_t timeout_ms) const;
  size_t client_count() const;
  size_t stream_count(const std::string& device_id) const;

 private:
  struct Faults {
    bool offline = false;
    bool refuse = false;
    bool reject_key = false;
    uint32_t delay_ms = 0;
  };
  struct Agent;
  struct Client;
  struct Watch;
  struct Pending;
  struct Stream;
  struct Handler;

  void accept_loop();
  void timer_loop();
  void handle(platform::net::UniqueFd fd);
  void serve_client(platform::net::UniqueFd fd, const std::string& key);
  void serve_agent(platform::net::UniqueFd fd, const std::string& device_id, const std::string& port_key,
                   int32_t version, int32_t nat_type);
  void serve_open(platform::net::UniqueFd fd, const std::string& session, const std::string& device_id,
                  const std::string& port_key, uint16_t peer_port);
  void serve_attach(platform::net::UniqueFd fd, const std::string& device_id, uint64_t stream_id,
                    const std::string& token);
  bool on_client_line(Client& client, std::string_view line);
  bool on_agent_line(const std::string& device_id, std::string_view line);

  // All below with lock_ held.
  int32_t device_status(const std::string& device_id, const std::string& port_key) const;
  int32_t watch_status(const Watch& watch) const;
  void answer_watch(Client& client, uint64_t tag, Watch& watch, bool force);
  void reevaluate(const std::string& device_id);
  void cut_streams(const std::string& device_id);
  void after_switch(const std::string& device_id);
  void schedule(uint32_t delay_ms, std::function<void()> action);
  std::string new_token();

  const ServiceOptions options_;
  uint16_t port_ = 0;
  platform::net::UniqueFd listener_;
  t2u::wire::StopSignal stop_;
  std::thread acceptor_;
  std::thread timer_;
  bool started_ = false;

  mutable std::mutex lock_;
  mutable std::condition_variable changed_;                  // agents, pendings, timers, stop
  std::map<std::string, Faults> faults_;                    // guarded by lock_
  std::map<std::string, std::unique_ptr<Agent>> agents_;    // guarded by lock_; by device id
  std::map<std::string, Client*> clients_;                  // guarded by lock_; by session
  std::map<uint64_t, Pending*> pendings_;                   // guarded by lock_; by stream id
  std::list<Stream*> streams_;                              // guarded by lock_
  std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> timers_;  // lock_
  bool accept_clients_ = true;                               // guarded by lock_
  uint32_t client_delay_ms_ = 0;                             // guarded by lock_
  uint64_t next_id_ = 1;                                     // guarded by lock_
  uint64_t token_state_;                                     // guarded by lock_
  // Connection threads: added and reaped by the accept thread, joined by stop().
  std::list<std::unique_ptr<Handler>> handlers_;
};

}  // namespace sim::tunnel
