// The cloud account service simulator: an HTTP/1.1 server on 127.0.0.1 that answers the five
// account methods from its SQLite store, checks every request's signature, and can be told to
// misbehave for tests.
//
// Threads: start() opens the listening socket and starts one server thread that runs every
// connection; stop() (also run by the destructor) ends it and joins it. Tests and the command
// line call the public operations from their own thread; the fault plan and the request log
// are guarded by their own lock, the store by its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/cloud/account_store.h"
#include "sim/fixture/fixture.h"

namespace sim::cloud {

// A way of answering wrongly, for tests of the client's transport.
struct Fault {
  enum class Kind {
    kStatus,          // answer with `status` and a JSON error body
    kNotJson,         // status 200 with a body that is not JSON
    kLowercaseLength, // "content-length:" in lower case; the body follows 200 ms after the header
    kLongHeader,      // a reply header of more than 1024 bytes
    kShortBody,       // announce the body but send only half of it, then close
    kStallBody,       // send half of the body, then stay silent until the client leaves
    kDelay,           // answer correctly after `delay_ms`
    kClose,           // close the connection without answering
    kBadStatusLine,   // a reply whose first line is not an HTTP status line
    kBody,            // status 200 with `body` in place of the real answer
  };
  Kind kind = Kind::kStatus;
  int status = 500;
  int delay_ms = 0;
  std::string body;    // kBody: the body to answer with
  std::string method;  // only requests with this "msg"; empty for every request
  int times = -1;      // how many requests it applies to; -1 for all
};

struct RecordedRequest {
  std::string target;
  std::string msg;   // the request's "msg", or "" when it is not readable
  std::string body;
  int status = 0;    // the status answered (0 when the connection was closed instead)
};

class CloudService {
 public:
  struct Options {
    std::string database = ":memory:";
    uint16_t port = 0;  // 0 for an ephemeral port
  };

  CloudService();
  explicit CloudService(Options options);
  ~CloudService();
  CloudService(const CloudService&) = delete;
  CloudService& operator=(const CloudService&) = delete;

  // Replaces the store's contents with the fixture's.
  bool load_fixture(const fixture::Fixture& fixture, std::string& error);

  // Starts listening on 127.0.0.1; returns the port once it listens, or 0 on failure.
  uint16_t start();
  // Stops the server thread and joins it; open connections are closed. Idempotent.
  void stop();
  uint16_t port() const;
  // "http://127.0.0.1:<port>/"
  std::string url() const;

  // Faults apply in the order they were added; each counts down its `times`.
  void add_fault(Fault fault);
  void clear_faults();

  std::vector<RecordedRequest> requests() const;
  void clear_requests();

  AccountStore& store();

  struct Impl;  // the server's state, opaque outside cloud_service.cpp

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace sim::cloud
