// The fixture of the control's integration tests: a simulated world (cloud account service,
// tunnel service and the fixture's online devices, all in this process on loopback) and the
// control in a host window, with the page's CliInit and sign-in against that world.
//
// A test fixture derives from ControlWorldTest, prepares what it needs in its SetUp, then calls
// start_control() (or starts world_ and then calls start_host()); its TearDown calls
// stop_control() before undoing its own preparations.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/control_host.h"
#include "kavrel/core/callback_names.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "kavrel/ui/ui_messages.h"
#include "platform/net/socket_io.h"
#include "sim/cloud/cloud_service.h"
#include "sim/cloud/service_crypto.h"
#include "sim/device/device.h"
#include "sim/device/fixture_devices.h"
#include "sim/fixture/fixture.h"
#include "sim/tunnel/tunnel_service.h"

namespace kavrel::testing {

// The phrase the page encrypts the application key and password with.
inline constexpr const char* kPassPhrase = "3D7A0C52-E8B1-4F96-A25D-6B0E91C4F7A3";
// The dispatch identifier of the CliCallBackMsg event.
inline constexpr com::DISPID kCallBackMsgEvent = 32;

// Waits (bounded) until `done` holds.
inline bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// A port of 127.0.0.1 that was free a moment ago.
inline uint16_t free_port() {
  uint16_t bound = 0;
  auto socket = platform::net::listen_loopback(0, &bound);
  return bound;
}

// The fixture text with its GOOD_PORT placeholder replaced by `port`.
inline std::string with_good_port(const char* fixture_text, uint16_t port) {
  std::string text = fixture_text;
  text.replace(text.find("GOOD_PORT"), 9, std::to_string(port));
  return text;
}

// The simulated world: cloud account service, tunnel service and the fixture's online devices,
// each registered with the tunnel service before start() returns.
class SimWorld {
 public:
  bool start(const char* fixture_text, std::string& error) {
    sim::fixture::Fixture fixture;
    if (!sim::fixture::parse(fixture_text, fixture, error)) return false;
    if (!cloud.load_fixture(fixture, error)) return false;
    if (cloud.start() == 0) return fail(error, "cloud did not start");
    if (!tunnel.start()) return fail(error, "tunnel service did not start");
    std::vector<sim::device::FixtureDevice> devices;
    if (!sim::device::parse_fixture_devices(fixture_text, devices, error)) return false;
    for (auto& d : devices) {
      if (!d.online) continue;
      d.settings.tunnel.service_port = tunnel.port();
      auto device = std::make_unique<sim::device::Device>(d.settings);
      if (!device->start()) return fail(error, "device did not start");
      if (!device->wait_tunnel_registered(5000)) return fail(error, "device not registered");
      running.push_back(std::move(device));
    }
    return true;
  }
  // The first online device of the fixture.
  sim::device::Device& good() { return *running.front(); }
  // The online device `id`, or null.
  sim::device::Device* device(const std::string& id) {
    for (auto& d : running) {
      if (d->dev_id() == id) return d.get();
    }
    return nullptr;
  }

  sim::cloud::CloudService cloud;
  sim::tunnel::TunnelService tunnel;
  std::vector<std::unique_ptr<sim::device::Device>> running;

 private:
  static bool fail(std::string& error, const char* text) {
    error = text;
    return false;
  }
};

// A CliCallBackMsg event as the tests look at it.
struct Seen {
  int32_t id, tag1, tag2;
  std::string info;
};

class ControlWorldTest : public ::testing::Test {
 protected:
  // Starts the world from `fixture_text`, then the control in a host window.
  void start_control(const std::string& fixture_text) {
    std::string error;
    ASSERT_TRUE(world_.start(fixture_text.c_str(), error)) << error;
    ASSERT_NO_FATAL_FAILURE(start_host());
  }
  // The control in a host window (for a fixture that started the world itself).
  void start_host() {
    std::string error;
    host_ = host::ControlHost::adopt(
        [this] {
          control_ = CkavrelCtrl::Create();
          return static_cast<com::IDispatch*>(control_);
        },
        &error);
    ASSERT_NE(host_, nullptr) << error;
    ASSERT_EQ(host_->create_window(), com::S_OK);
  }
  // CliUnInit, then the host and the control go.
  void stop_control() {
    if (host_) host_->call("CliUnInit", {});
    host_.reset();
  }

  // CliInit against the world's cloud and tunnel service, with the fixture's application.
  void init() {
    using com::Variant;
    ASSERT_EQ(host_->call("CliInit", {Variant::string(to_wide(world_.cloud.url())),
                                      Variant::string(to_wide(sim::cloud::aes_encrypt_base64("page-app-key", kPassPhrase))),
                                      Variant::string(to_wide(sim::cloud::aes_encrypt_base64("page-app-pass", kPassPhrase))),
                                      Variant::string(u"127.0.0.1"), Variant::i4(world_.tunnel.port()), Variant::null()}),
              com::S_OK);
  }
  // Signs in to the fixture's account.
  void sign_in() {
    using com::Variant;
    ASSERT_EQ(host_->call("CliCloudInitSimple", {Variant::string(u"alice"), Variant::string(u"alice-pw")}), com::S_OK);
  }
  // CliInit and sign-in; waits until the tunnel to KVR-GOOD is up and `cameras` cameras are known.
  void bring_online(size_t cameras) {
    ASSERT_NO_FATAL_FAILURE(init());
    ASSERT_NO_FATAL_FAILURE(sign_in());
    auto connected = host_->wait_for_event(
        [](const host::ScriptEvent& e) {
          return e.id == kCallBackMsgEvent && e.arg_long(2) == kEventP2PConnected && e.arg_long(3) == 1 &&
                 e.arg_long(4) == 1 && !e.arg_is_null(5) && e.arg_text(5) == "KVR-GOOD";
        },
        std::chrono::seconds(30));
    ASSERT_TRUE(connected.has_value());
    ASSERT_TRUE(eventually([&] { return control_->cameras().size() == cameras; }, std::chrono::seconds(30)));
  }

  // Runs `fn` with the control on its user-interface thread.
  template <class Fn>
  void on_ui(Fn fn) {
    host_->ui().run([&] { fn(*control_); });
  }
  // Looks at the control on its thread until `done` holds.
  bool ui_eventually(const std::function<bool(CkavrelCtrl&)>& done,
                     std::chrono::milliseconds limit = std::chrono::seconds(15)) {
    return eventually(
        [&] {
          bool met = false;
          on_ui([&](CkavrelCtrl& c) { met = done(c); });
          return met;
        },
        limit);
  }

  // A command as a tool-bar button or a pane menu item sends it, with `pane` as the wall's
  // selection.
  void command(int32_t pane, int32_t number) {
    on_ui([&](CkavrelCtrl& c) {
      platform::send_message(c.window(), kavrel::ui::kMsgCommand, static_cast<platform::WPARAM>(pane), number);
    });
  }
  static Seen seen(const host::ScriptEvent& e) {
    return {e.arg_long(2), e.arg_long(3), e.arg_long(4), e.arg_is_null(5) ? "" : e.arg_text(5)};
  }
  // The CliCallBackMsg events with `id` so far.
  std::vector<Seen> callbacks(int32_t id) {
    std::vector<Seen> out;
    for (const auto& e : host_->events()) {
      if (e.id == kCallBackMsgEvent && seen(e).id == id) out.push_back(seen(e));
    }
    return out;
  }

  SimWorld world_;
  std::unique_ptr<host::ControlHost> host_;
  CkavrelCtrl* control_ = nullptr;  // owned by host_
};

}  // namespace kavrel::testing
