// The simulated world of the demo, in this process on ephemeral loopback ports: the cloud account
// service seeded from a fixture, the tunnel service, and every online device of the fixture
// registered with it. It also says what a page needs to sign in to it: the values CliInit and
// CliCloudInitSimple take (application key and pass and the tunnel key encrypted as CliInit
// expects them).
//
// Threads: the simulators' own; start() and stop() from the owner.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace host {

struct DemoDefaults {
  std::string server;      // szServerAddr
  std::string app_key;     // szAppKey, encrypted
  std::string app_pass;    // szAppPass, encrypted
  std::string tunnel_host;  // szSvraddr
  int32_t tunnel_port = 0;  // lSvrport
  std::string tunnel_key;  // szSvrkey, encrypted
  std::string user;        // szUser
  std::string password;    // szPass
};

class DemoWorld {
 public:
  DemoWorld();
  ~DemoWorld();
  DemoWorld(const DemoWorld&) = delete;
  DemoWorld& operator=(const DemoWorld&) = delete;

  // Starts everything from the fixture text; false with `error` when a part cannot start.
  bool start(const std::string& fixture_json, std::string* error);
  void stop();

  const DemoDefaults& defaults() const { return defaults_; }
  // The defaults as a JSON object for the page.
  std::string defaults_json() const;
  size_t devices_running() const;

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
  DemoDefaults defaults_;
};

// The demo fixture in the source tree.
std::string default_fixture_path();

}  // namespace host
