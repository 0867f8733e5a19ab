// The control as a page drives it: created from the registry by ProgID on the host's
// user-interface thread, initialised, signed in to the simulated cloud account.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "host/control_host.h"
#include "host/tests/test_registry.h"
#include "platform/version/version_info.h"
#include "kavrel/shell/text.h"
#include "sim/cloud/cloud_service.h"
#include "sim/cloud/service_crypto.h"
#include "sim/fixture/fixture.h"

namespace {

using namespace std::chrono_literals;
using com::Variant;

const std::string& kRegistry = host::testing::registry_path();
const bool registry_set = host::testing::registry_ready;

constexpr const char* kPassPhrase = "3D7A0C52-E8B1-4F96-A25D-6B0E91C4F7A3";
constexpr int32_t kListSerials = 0x10000022;
constexpr int32_t kDeviceList = 0x10000020;
constexpr int32_t kCameraList = 0x1000001d;

const char* kFixture = R"({
  "applications": [ { "app_key": "page-app-key", "app_pass": "page-app-pass" } ],
  "accounts": [ {
    "user": "alice", "password": "alice-pw", "devs_sn": 10, "cams_sn": 20,
    "devices": [ { "dev_id": "KVR-0001", "dev_user": "admin", "dev_pass": "pw-one", "name": "Loja", "channel_count": 2 } ],
    "cameras": { "groups": [ { "name": "Fundos", "cams": [ { "id": "cam-2", "devid": "KVR-0001", "chlid": 1 } ] } ],
                 "cams": [ { "id": "cam-1", "devid": "KVR-0001", "chlid": 0 } ] }
  } ]
})";

class ControlHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registry_set);
    std::string error;
    module_ = host::ControlModule::load(platform::find_module_file("kavrel.ocx"), &error);
    ASSERT_NE(module_, nullptr) << error;
    ASSERT_EQ(module_->register_server(), com::S_OK);
    control_ = host::ControlHost::create("KAVREL.kavrelCtrl.1", &error);
    ASSERT_NE(control_, nullptr) << error;
  }
  void TearDown() override {
    control_.reset();
    module_.reset();
    std::filesystem::remove_all(std::filesystem::path(kRegistry).parent_path());
  }

  static bool is_event(const host::ScriptEvent& e, int32_t id) { return e.id == 32 && e.arg_long(2) == id; }

  std::unique_ptr<host::ControlModule> module_;
  std::unique_ptr<host::ControlHost> control_;
};

TEST_F(ControlHostTest, CreatedNotifyIsRaisedOncePerWindowWithOne) {
  auto created = [](const host::ScriptEvent& e) { return e.id == 34; };
  for (int window = 1; window <= 2; ++window) {
    ASSERT_EQ(control_->create_window(), com::S_OK);
    EXPECT_EQ(control_->create_window(), com::S_FALSE) << "the window exists already";
    auto events = control_->wait_for_events(created, static_cast<size_t>(window), 5s);
    ASSERT_EQ(events.size(), static_cast<size_t>(window));
    EXPECT_EQ(events.back().arg_long(0), 1);
    EXPECT_EQ(events.back().thread, control_->ui().id());
    ASSERT_EQ(control_->destroy_window(), com::S_OK);
  }
  // The notice is raised while the window is created, so every one has arrived by now.
  auto all = control_->events();
  EXPECT_EQ(std::count_if(all.begin(), all.end(), created), 2);
}

TEST_F(ControlHostTest, TheModuleStaysLoadedWhileTheControlLives) {
  EXPECT_EQ(module_->can_unload_now(), com::S_FALSE);
  control_.reset();
  EXPECT_EQ(module_->can_unload_now(), com::S_OK);
}

TEST_F(ControlHostTest, SignInFetchesTheListsThroughTheCommandThreadAndRaisesTheirEventsInOrder) {
  sim::fixture::Fixture fixture;
  std::string error;
  ASSERT_TRUE(sim::fixture::parse(kFixture, fixture, error)) << error;
  sim::cloud::CloudService cloud;
  ASSERT_TRUE(cloud.load_fixture(fixture, error)) << error;
  ASSERT_NE(cloud.start(), 0);

  ASSERT_EQ(control_->create_window(), com::S_OK);
  ASSERT_EQ(control_->call("CliInit", {Variant::string(kavrel::to_wide(cloud.url())),
                                       Variant::string(kavrel::to_wide(sim::cloud::aes_encrypt_base64("page-app-key", kPassPhrase))),
                                       Variant::string(kavrel::to_wide(sim::cloud::aes_encrypt_base64("page-app-pass", kPassPhrase))),
                                       Variant::string(u"127.0.0.1"), Variant::i4(0), Variant::null()}),
            com::S_OK);
  ASSERT_EQ(control_->call("CliCloudInitSimple", {Variant::string(u"alice"), Variant::string(u"alice-pw")}), com::S_OK);

  // Serials (first answer: nothing changed), then each list twice: once straight from the
  // library's callback, once after the callback thread has taken it. Without a tunnel service
  // the device's three tunnel tries take about 5 s each before the model has the list.
  auto lists = control_->wait_for_events(
      [](const host::ScriptEvent& e) {
        return is_event(e, kListSerials) || is_event(e, kDeviceList) || is_event(e, kCameraList);
      },
      5, 40s);
  ASSERT_EQ(lists.size(), 5u);

  auto requests = cloud.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].msg, "c2s.get_list_sn_sp");
  EXPECT_EQ(requests[1].msg, "c2s.get_dev_list_sp");
  EXPECT_EQ(requests[2].msg, "c2s.get_cam_list_sp");
  for (const auto& r : requests) EXPECT_EQ(r.status, 200) << r.msg << ": the decrypted credentials were refused";

  std::vector<int32_t> order;
  for (const auto& e : lists) {
    EXPECT_EQ(e.thread, control_->ui().id());
    EXPECT_EQ(e.arg_long(3), 0) << "outcome of " << std::hex << e.arg_long(2);
    order.push_back(e.arg_long(2));
  }
  auto first = [&](int32_t id) { return std::find(order.begin(), order.end(), id) - order.begin(); };
  auto last = [&](int32_t id) { return order.rend() - std::find(order.rbegin(), order.rend(), id) - 1; };
  EXPECT_EQ(std::count(order.begin(), order.end(), kListSerials), 1);
  EXPECT_EQ(std::count(order.begin(), order.end(), kDeviceList), 2);
  EXPECT_EQ(std::count(order.begin(), order.end(), kCameraList), 2);
  EXPECT_LT(first(kDeviceList), first(kCameraList)) << "the library's callbacks came out of order";
  EXPECT_LT(first(kListSerials), last(kDeviceList)) << "the callback thread's events came out of order";
  EXPECT_LT(last(kDeviceList), last(kCameraList)) << "the callback thread's events came out of order";

  auto device_list = std::find_if(lists.begin(), lists.end(), [](const auto& e) { return is_event(e, kDeviceList); });
  EXPECT_NE(device_list->arg_text(5).find("\"KVR-0001\""), std::string::npos) << device_list->arg_text(5);
  EXPECT_EQ(device_list->arg_long(6), static_cast<int32_t>(device_list->arg_text(5).size()));

  ASSERT_EQ(control_->call("CliUnInit", {}), com::S_OK);
  cloud.stop();
}

TEST_F(ControlHostTest, AnUnreachableCloudReportsEachListWithItsFailure) {
  ASSERT_EQ(control_->create_window(), com::S_OK);
  // Port 1 on the loopback: the connection is refused.
  ASSERT_EQ(control_->call("CliInit", {Variant::string(u"http://127.0.0.1:1/"), Variant::string(u""),
                                       Variant::string(u""), Variant::string(u"127.0.0.1"), Variant::i4(0),
                                       Variant::null()}),
            com::S_OK);
  ASSERT_EQ(control_->call("CliCloudInitSimple", {Variant::string(u"alice"), Variant::string(u"alice-pw")}), com::S_OK);
  auto serials = control_->wait_for_event([](const host::ScriptEvent& e) { return is_event(e, kListSerials); }, 15s);
  ASSERT_TRUE(serials);
  EXPECT_EQ(serials->arg_long(3), -4612) << "the failed outcome travels in nTag1";
  EXPECT_TRUE(serials->arg_is_null(5));
  ASSERT_EQ(control_->call("CliUnInit", {}), com::S_OK);
}

}  // namespace
