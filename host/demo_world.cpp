#include "host/demo_world.h"

#include <cjson/cJSON.h>

#include "sim/cloud/cloud_service.h"
#include "sim/cloud/service_crypto.h"
#include "sim/device/device.h"
#include "sim/device/fixture_devices.h"
#include "sim/fixture/fixture.h"
#include "sim/tunnel/tunnel_service.h"

namespace host {
namespace {

// CliInit decrypts its keys with the text of the type library identifier.
constexpr const char* kPassPhrase = "3D7A0C52-E8B1-4F96-A25D-6B0E91C4F7A3";
// The key tunnel clients present to the demo's tunnel service.
constexpr const char* kTunnelClientKey = "kavrel-demo-tunnel";

sim::tunnel::ServiceOptions tunnel_options() {
  sim::tunnel::ServiceOptions options;
  options.client_key = kTunnelClientKey;
  return options;
}

}  // namespace

struct DemoWorld::Parts {
  sim::cloud::CloudService cloud;
  sim::tunnel::TunnelService tunnel{tunnel_options()};
  std::vector<std::unique_ptr<sim::device::Device>> devices;
};

DemoWorld::DemoWorld() = default;

DemoWorld::~DemoWorld() { stop(); }

std::string default_fixture_path() { return KAVREL_DEMO_FIXTURE; }

bool DemoWorld::start(const std::string& fixture_json, std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  parts_ = std::make_unique<Parts>();
  sim::fixture::Fixture fixture;
  if (!sim::fixture::parse(fixture_json, fixture, *error)) return false;
  if (fixture.applications.empty() || fixture.accounts.empty()) {
    *error = "the fixture needs an application and an account";
    return false;
  }
  if (!parts_->cloud.load_fixture(fixture, *error)) return false;
  if (parts_->cloud.start() == 0) {
    *error = "the cloud account service did not start";
    return false;
  }
  if (!parts_->tunnel.start()) {
    *error = "the tunnel service did not start";
    return false;
  }
  std::vector<sim::device::FixtureDevice> devices;
  if (!sim::device::parse_fixture_devices(fixture_json, devices, *error)) return false;
  for (auto& d : devices) {
    if (!d.online) continue;
    d.settings.tunnel.service_port = parts_->tunnel.port();
    auto device = std::make_unique<sim::device::Device>(d.settings);
    if (!device->start()) {
      *error = "device " + d.settings.dev_id + " did not start";
      return false;
    }
    parts_->devices.push_back(std::move(device));
  }
  for (auto& device : parts_->devices) {
    if (!device->wait_tunnel_registered(5000)) {
      *error = "device " + device->dev_id() + " did not reach the tunnel service";
      return false;
    }
  }
  defaults_.server = parts_->cloud.url();
  defaults_.app_key = sim::cloud::aes_encrypt_base64(fixture.applications.front().app_key, kPassPhrase);
  defaults_.app_pass = sim::cloud::aes_encrypt_base64(fixture.applications.front().app_pass, kPassPhrase);
  defaults_.tunnel_host = "127.0.0.1";
  defaults_.tunnel_port = parts_->tunnel.port();
  defaults_.tunnel_key = sim::cloud::aes_encrypt_base64(kTunnelClientKey, kPassPhrase);
  defaults_.user = fixture.accounts.front().user;
  defaults_.password = fixture.accounts.front().password;
  return true;
}

void DemoWorld::stop() {
  if (!parts_) return;
  for (auto& device : parts_->devices) device->stop();
  parts_->devices.clear();
  parts_->tunnel.stop();
  parts_->cloud.stop();
  parts_.reset();
}

size_t DemoWorld::devices_running() const { return parts_ ? parts_->devices.size() : 0; }

std::string DemoWorld::defaults_json() const {
  cJSON* root = cJSON_CreateObject();
  cJSON_AddStringToObject(root, "server", defaults_.server.c_str());
  cJSON_AddStringToObject(root, "app_key", defaults_.app_key.c_str());
  cJSON_AddStringToObject(root, "app_pass", defaults_.app_pass.c_str());
  cJSON_AddStringToObject(root, "tunnel_host", defaults_.tunnel_host.c_str());
  cJSON_AddNumberToObject(root, "tunnel_port", defaults_.tunnel_port);
  cJSON_AddStringToObject(root, "tunnel_key", defaults_.tunnel_key.c_str());
  cJSON_AddStringToObject(root, "user", defaults_.user.c_str());
  cJSON_AddStringToObject(root, "password", defaults_.password.c_str());
  char* text = cJSON_PrintUnformatted(root);
  std::string out = text != nullptr ? text : "{}";
  cJSON_free(text);
  cJSON_Delete(root);
  return out;
}

}  // namespace host
