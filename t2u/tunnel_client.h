// The tunnel library's state between t2u_init and t2u_exit: the control connection to the
// tunnel service and the mapped ports.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "t2u/mapped_port.h"
#include "t2u/t2u.h"
#include "t2u/wire/line_channel.h"
#include "t2u/wire/signal_fd.h"

namespace t2u {

// Threads: the control thread (started by start(), stopped and joined by stop()) and the
// threads of each mapped port (owned by the port). Every member function may be called from
// any thread.
class TunnelClient {
 public:
  static constexpr int kReconnectFirstMs = 100;
  static constexpr int kReconnectMaxMs = 1000;

  TunnelClient(std::string server, uint16_t server_port, std::string key);
  ~TunnelClient();
  TunnelClient(const TunnelClient&) = delete;
  TunnelClient& operator=(const TunnelClient&) = delete;

  // False when the control thread cannot be started.
  bool start();
  // Stops the control thread and every mapped port, joining all their threads.
  void stop();

  // 1 while the service has accepted this client, else 0.
  int status() const { return accepted_.load() ? 1 : 0; }

  // Takes over a listener already bound to `port` and starts relaying it. Returns `port`.
  int add_port(PortTarget target, platform::net::UniqueFd listener, uint16_t port);
  void del_port(uint16_t port);
  int port_status(uint16_t port, t2u_port_stats* stats) const;

  // For the stream threads of the ports.
  bool session(std::string* token) const;
  const std::string& server() const { return server_; }
  uint16_t server_port() const { return server_port_; }

 private:
  struct Mapping {
    std::shared_ptr<MappedPort> port;
    int32_t status = 0;
    int32_t remote_nat_type = 0;
    int32_t remote_version = 0;
  };

  void control_loop();
  // Opens and authenticates the control connection; null when refused or unreachable.
  std::unique_ptr<wire::LineChannel> open_control(std::string* session, int32_t* nat_type);
  bool on_control_line(std::string_view line);
  static std::string watch_line(const PortTarget& target);

  const std::string server_;
  const uint16_t server_port_;
  const std::string key_;
  wire::StopSignal stop_;
  std::thread control_;
  std::atomic<bool> accepted_{false};

  mutable std::mutex lock_;
  std::map<uint16_t, Mapping> ports_;        // guarded by lock_; by local port
  wire::LineChannel* channel_ = nullptr;     // guarded by lock_; the accepted control connection
  std::string session_;                      // guarded by lock_
  int32_t local_nat_type_ = 0;               // guarded by lock_
  uint64_t next_tag_ = 1;                    // guarded by lock_
  bool stopped_ = false;                     // guarded by lock_
};

}  // namespace t2u
