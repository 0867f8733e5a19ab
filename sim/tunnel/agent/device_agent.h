// The device agent: the small piece a device runs to be reachable through the tunnel service.
//
// It registers the device identifier and its port key with the tunnel service at
// service_host:service_port, keeps that registration (registering again when the connection
// drops), and for each stream the service opens it connects to a port of target_host and
// relays the bytes. It only ever connects to target_host, whatever host a client names.
//
//   sim::tunnel::AgentOptions options;
//   options.service_port = service.port();
//   options.device_id = "dev-1";
//   options.port_key = "...";                  // the key clients must present
//   options.port_map = {{37777, netsdk_port}};  // device port -> port on target_host
//   sim::tunnel::DeviceAgent agent(options);
//   agent.start();
//   ...
//   agent.stop();                               // also done by the destructor
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "t2u/wire/signal_fd.h"

namespace t2u::wire {
class LineChannel;
}

namespace sim::tunnel {

struct AgentOptions {
  std::string service_host = "127.0.0.1";
  uint16_t service_port = 0;
  std::string device_id;
  std::string port_key;
  std::string target_host = "127.0.0.1";
  // Device ports a client may ask for, and the port on target_host each leads to. A port not
  // in the map leads to default_port when that is set; otherwise it is refused, unless the map
  // is empty, in which case the requested port is used as it is.
  std::map<uint16_t, uint16_t> port_map;
  uint16_t default_port = 0;
  int32_t version = 3;   // reported to clients as the remote version
  int32_t nat_type = 3;  // reported to clients as the remote NAT type
};

// Threads: the registration thread (started by start(), owner: stop()) and one thread per
// relayed stream (owner: the registration thread, then stop()). start() and stop() belong to
// one owner thread; registered() and wait_registered() may be called from any thread.
class DeviceAgent {
 public:
  static constexpr int kRetryMs = 500;

  explicit DeviceAgent(AgentOptions options);
  ~DeviceAgent();
  DeviceAgent(const DeviceAgent&) = delete;
  DeviceAgent& operator=(const DeviceAgent&) = delete;

  void start();
  // Drops the registration and every stream, and joins every thread.
  void stop();

  bool registered() const;
  bool wait_registered(uint32_t timeout_ms) const;

 private:
  struct Stream {
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void register_loop();
  bool on_line(std::string_view line, const std::string& token);
  void relay(uint64_t stream_id, uint16_t peer_port, std::string token);
  void reap_finished_streams();

  const AgentOptions options_;
  t2u::wire::StopSignal stop_;
  std::thread registrar_;

  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  bool registered_ = false;                     // guarded by lock_
  t2u::wire::LineChannel* channel_ = nullptr;   // guarded by lock_; while registered
  // Touched by the registration thread while it runs, then by stop() after joining it.
  std::list<std::unique_ptr<Stream>> streams_;
};

}  // namespace sim::tunnel
