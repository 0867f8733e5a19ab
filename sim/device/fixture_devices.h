// The devices of a fixture (the one JSON document that describes an account and its devices;
// sim/fixture/README.md) as device simulator settings. The simulator reads "dev_id",
// "dev_user", "dev_pass", "name", "model", "channel_count", "channels", "dev_port",
// "dev_http_port", "online" and its own "device" object of each device (README.md here).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/device/settings.h"

namespace sim::device {

struct FixtureDevice {
  Settings settings;
  bool online = true;
  uint16_t dev_port = 37777;    // the service port the account reports (the tunnel's peer port)
  uint16_t dev_http_port = 80;
};

// False with a message naming the element when the document cannot be used.
bool parse_fixture_devices(const std::string& json, std::vector<FixtureDevice>& out, std::string& error);
bool load_fixture_devices(const std::string& path, std::vector<FixtureDevice>& out, std::string& error);

}  // namespace sim::device
