// The devices of a fixture (the one JSON document that describes an account and its devices,
// read by sim/fixture; sim/fixture/README.md) as device simulator settings. Of each device the
// simulator takes "dev_id", "dev_user", "dev_pass", "name", "model", the channel count, "dev_port",
// "dev_http_port", "online" and its own "device" object (README.md here).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/device/settings.h"
#include "sim/fixture/fixture.h"

namespace sim::device {

struct FixtureDevice {
  Settings settings;
  bool online = true;
  uint16_t dev_port = 37777;    // the service port the account reports (the tunnel's peer port)
  uint16_t dev_http_port = 80;
};

// Each device of the fixture once (the first account that lists it describes it). False with a
// message naming the device when its settings cannot be run.
bool fixture_devices(const sim::fixture::Fixture& fixture, std::vector<FixtureDevice>& out, std::string& error);
// Parses the document with the fixture reader, then as fixture_devices. False with a message
// naming the element when the document cannot be used.
bool parse_fixture_devices(const std::string& json, std::vector<FixtureDevice>& out, std::string& error);
bool load_fixture_devices(const std::string& path, std::vector<FixtureDevice>& out, std::string& error);

}  // namespace sim::device
