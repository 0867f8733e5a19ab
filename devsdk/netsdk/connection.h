// One TCP connection to a device speaking the device wire protocol: requests wait for their
// replies by request id, a reader thread takes every incoming message.
//
// Threads: the reader thread (started by start(), owned by the connection) and any caller of
// request() and close(). The pending-request table and the closed flag are guarded by `lock_`;
// whole messages are sent under `send_lock_`. The reader thread keeps the connection alive
// until it ends; close() joins it, except when close() runs on the reader thread itself (from a
// handler), in which case the thread is handed to the SDK's reaper and joined at NET_Cleanup.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "devsdk/proto/messages.h"
#include "platform/net/socket_io.h"

namespace netsdk {

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  enum class Outcome { replied, timed_out, closed };
  struct Reply {
    Outcome outcome = Outcome::closed;
    int32_t status = 0;
    std::vector<uint8_t> payload;
  };
  // Why the connection ended without close() having been asked.
  enum class LossReason { peer_closed, malformed, oversized };

  static std::shared_ptr<Connection> create(platform::net::UniqueFd socket, uint32_t max_payload);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Handlers run on the reader thread. Set them before start().
  // on_lost: once, when the connection ends without close() (peer closed, broken, malformed).
  void set_lost_handler(std::function<void(LossReason)> handler) { on_lost_ = std::move(handler); }
  // on_push: each unsolicited message from the device.
  void set_push_handler(std::function<void(const proto::Message&)> handler) { on_push_ = std::move(handler); }
  void start();

  // Sends a request and waits up to `wait_ms` (above 0) for its reply.
  Reply request(proto::Type type, const std::vector<uint8_t>& payload, int wait_ms);
  // Sends a message that expects no reply; false when it could not be sent in time.
  bool send_only(proto::Type type, const std::vector<uint8_t>& payload, int wait_ms);
  // Breaks the connection as a failure: the reader reports it lost. For a reply that makes no
  // sense, which leaves the stream untrustworthy.
  void abort();
  // From now on the end of the connection is expected: no loss is reported. For a goodbye the
  // device answers by closing.
  void expect_close() { closing_.store(true); }
  // Closes the connection on purpose: no loss is reported. Idempotent.
  void close();
  bool alive() const;

 private:
  struct Pending {
    uint16_t type = 0;
    bool done = false;
    int32_t status = 0;
    std::vector<uint8_t> payload;
  };

  Connection(platform::net::UniqueFd socket, uint32_t max_payload);
  void read_loop();
  bool deliver(const proto::Message& m);  // false: the message breaks the protocol

  platform::net::UniqueFd socket_;
  const uint32_t max_payload_;
  std::function<void(LossReason)> on_lost_;
  std::function<void(const proto::Message&)> on_push_;
  std::thread reader_;
  std::atomic<uint32_t> next_request_id_{1};
  std::atomic<bool> closing_{false};  // set by close(), or by the reader when it reports a loss

  mutable std::mutex lock_;
  std::condition_variable replied_;
  std::map<uint32_t, Pending*> pending_;  // guarded by lock_
  bool closed_ = false;                   // guarded by lock_: the reader has ended

  std::mutex send_lock_;
  std::mutex join_lock_;  // serialises joins of reader_ by concurrent close() calls
};

// Threads of connections closed from their own reader thread; NET_Cleanup joins them.
void reap(std::thread thread);
void join_reaped();

}  // namespace netsdk
