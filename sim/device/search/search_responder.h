// The device's answer to the LAN search: a UDP socket bound to the loopback broadcast address
// 127.255.255.255 on the discovery port (shared with every other device there, so each gets
// every request) and a thread that answers each request to its sender with the device's
// description. Started and stopped (and joined) by its device; the thread polls its stop flag
// every kPollMs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "devsdk/proto/search.h"
#include "platform/net/socket_io.h"

namespace sim::device {

class SearchResponder {
 public:
  static constexpr int kPollMs = 100;

  // `describe` gives the device's answer (called on the responder's thread).
  explicit SearchResponder(std::function<proto::SearchAnswer()> describe) : describe_(std::move(describe)) {}
  ~SearchResponder() { stop(); }
  SearchResponder(const SearchResponder&) = delete;
  SearchResponder& operator=(const SearchResponder&) = delete;

  // Listens on `port` (0: an ephemeral one, which other devices may then share). The port
  // listened on, or 0 when it cannot listen (or listens already on another port).
  uint16_t start(uint16_t port);
  void stop();
  uint16_t port() const { return port_.load(); }
  int answers_sent() const { return answers_sent_.load(); }

 private:
  void run();

  std::function<proto::SearchAnswer()> describe_;
  platform::net::UniqueFd socket_;  // owned by start() and stop()
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<uint16_t> port_{0};
  std::atomic<int> answers_sent_{0};
};

}  // namespace sim::device
