// The device's web page: a small HTTP server on 127.0.0.1 that answers every request with one
// HTML page naming the device. The device offers it through its tunnel as its HTTP port.
//
// Threads: one accept thread, started by start() and stopped and joined by stop() (or the
// destructor). Requests are answered one after another on that thread; a client that does not
// send its request head within 2 s is dropped.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace sim::device {

class HttpPage {
 public:
  HttpPage(std::string dev_id, std::string name);
  ~HttpPage();
  HttpPage(const HttpPage&) = delete;
  HttpPage& operator=(const HttpPage&) = delete;

  // Listens on an ephemeral port of 127.0.0.1; false when it cannot.
  bool start();
  void stop();
  uint16_t port() const { return port_.load(); }
  int requests_answered() const { return answered_.load(); }
  // The page's body.
  std::string body() const;

 private:
  void accept_loop();
  void answer(int fd);

  const std::string dev_id_;
  const std::string name_;
  std::atomic<uint16_t> port_{0};
  std::atomic<bool> stopping_{false};
  std::atomic<int> answered_{0};
  int listen_fd_ = -1;  // owned by start() and stop()
  std::thread accept_thread_;
};

}  // namespace sim::device
