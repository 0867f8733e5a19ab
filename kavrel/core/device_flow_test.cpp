// Devices coming online as a page sees them: the control signs in to the simulated cloud,
// reaches the simulated devices through the simulated tunnel service, logs in and reports every
// outcome as a CliCallBackMsg event. Everything runs in this process on loopback.
#include <gtest/gtest.h>
#include <cjson/cJSON.h>

#include <algorithm>
#include <cstdlib>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/control_host.h"
#include "kavrel/core/callback_names.h"
#include "kavrel/core/current_control.h"
#include "kavrel/core/task_worker.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "kavrel/testing/control_world.h"
#include "platform/net/socket_io.h"
#include "sim/cloud/cloud_service.h"
#include "sim/device/device.h"
#include "sim/tunnel/tunnel_service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using com::Variant;
using kavrel::CkavrelCtrl;
using kavrel::testing::eventually;

constexpr com::DISPID kCallBackMsg = 32;

// Three devices: one that works, one that is offline, one whose account password is wrong.
const char* kFixture = R"({
  "applications": [ { "app_key": "page-app-key", "app_pass": "page-app-pass" } ],
  "accounts": [ {
    "user": "alice", "password": "alice-pw", "devs_sn": 10, "cams_sn": 20,
    "devices": [
      { "dev_id": "KVR-GOOD", "dev_user": "admin", "dev_pass": "good-pw", "name": "Loja", "channel_count": 2,
        "dev_port": GOOD_PORT, "dev_http_port": 80 },
      { "dev_id": "KVR-DOWN", "dev_user": "admin", "dev_pass": "down-pw", "name": "Deposito", "channel_count": 1,
        "dev_port": 37777, "dev_http_port": 80, "online": false },
      { "dev_id": "KVR-PASS", "dev_user": "admin", "dev_pass": "stale-pw", "name": "Caixa", "channel_count": 1,
        "dev_port": 37777, "dev_http_port": 80,
        "device": { "users": [ { "user": "admin", "password": "fresh-pw" } ] } }
    ],
    "cameras": { "groups": [ { "name": "Frente", "groups": [ { "name": "Porta",
                   "cams": [ { "id": "KVR-GOOD_000", "devid": "KVR-GOOD", "chlid": 0, "shared": 1 } ] } ] } ],
                 "cams": [ { "id": "KVR-GOOD_001", "devid": "KVR-GOOD", "chlid": 1 },
                           { "id": "KVR-PASS_000", "devid": "KVR-PASS", "chlid": 0 } ] }
  } ]
})";

// A readable form of one event for failure messages and the sequence check.
struct Seen {
  int32_t id, tag1, tag2;
  std::string info;
};

std::string describe(const std::vector<Seen>& events) {
  std::string out;
  for (const auto& e : events) {
    std::string info;
    for (char c : e.info) {
      if (c != '\n' && c != '\t' && c != '\r') info += c;
    }
    char line[200];
    snprintf(line, sizeof line, "  %s (0x%x) %d %d %.60s\n", kavrel::callback_id_name(e.id), e.id, e.tag1, e.tag2,
             info.c_str());
    out += line;
  }
  return out;
}

class DeviceFlowTest : public kavrel::testing::ControlWorldTest {
 protected:
  void SetUp() override {
    good_port_ = kavrel::testing::free_port();
    fixture_ = kavrel::testing::with_good_port(kFixture, good_port_);
    ASSERT_NO_FATAL_FAILURE(start_control(fixture_));
  }
  void TearDown() override { stop_control(); }

  void add_device(const char16_t* id, const char16_t* pass, int32_t port = 0) {
    if (port == 0) port = std::u16string(id) == u"KVR-GOOD" ? good_port_ : 37777;
    ASSERT_EQ(host_->call("CliAddDeviceP2P", {Variant::string(id), Variant::string(u"admin"), Variant::string(pass),
                                              Variant::string(u""), Variant::i4(port), Variant::i4(80)}),
              com::S_OK);
  }

  static Seen seen(const host::ScriptEvent& e) {
    return {e.arg_long(2), e.arg_long(3), e.arg_long(4), e.arg_is_null(5) ? "" : e.arg_text(5)};
  }
  std::vector<Seen> callbacks() {
    std::vector<Seen> out;
    for (const auto& e : host_->events()) {
      if (e.id == kCallBackMsg) out.push_back(seen(e));
    }
    return out;
  }
  // Waits for an event with this identifier whose tags and text match (tag -999: any).
  bool wait_for(int32_t id, int32_t tag1, int32_t tag2, const std::string& info, std::chrono::milliseconds limit) {
    return host_
        ->wait_for_event(
            [&](const host::ScriptEvent& e) {
              if (e.id != kCallBackMsg) return false;
              Seen s = seen(e);
              return s.id == id && (tag1 == -999 || s.tag1 == tag1) && (tag2 == -999 || s.tag2 == tag2) &&
                     (info.empty() || s.info == info);
            },
            limit)
        .has_value();
  }
  static size_t count(const std::vector<Seen>& events, int32_t id, int32_t tag1, int32_t tag2, const std::string& info) {
    return static_cast<size_t>(std::count_if(events.begin(), events.end(), [&](const Seen& s) {
      return s.id == id && (tag1 == -999 || s.tag1 == tag1) && (tag2 == -999 || s.tag2 == tag2) &&
             (info.empty() || s.info == info);
    }));
  }
  static ptrdiff_t first(const std::vector<Seen>& events, int32_t id, int32_t tag1, const std::string& info) {
    auto it = std::find_if(events.begin(), events.end(), [&](const Seen& s) {
      return s.id == id && (tag1 == -999 || s.tag1 == tag1) && (info.empty() || s.info == info);
    });
    return it == events.end() ? -1 : it - events.begin();
  }
  // Waits until the cloud has been asked to store `count` lists.
  bool eventually_requests(size_t count) {
    return eventually([&] {
      size_t writes = 0;
      for (const auto& r : world_.cloud.requests()) writes += r.msg.rfind("c2s.set", 0) == 0;
      return writes >= count;
    }, 15s);
  }
  // Waits until every event the control has been handed so far has reached the page: an event
  // handed to it now comes after all of them.
  bool quiet() {
    static int32_t witness = 0;
    int32_t tag = ++witness;
    control_->Callback(0, 0, kWitnessEvent, tag, 0, nullptr, 0);
    return wait_for(kWitnessEvent, tag, kAnyTag, "", 15s);
  }
  // The events the page saw, without the witnesses of quiet().
  std::vector<Seen> page_events() {
    std::vector<Seen> out;
    for (const Seen& e : callbacks()) {
      if (e.id != kWitnessEvent) out.push_back(e);
    }
    return out;
  }
  // Waits until the control has nothing left to write to the cloud: a serial query queued behind
  // its commands finds both lists as the control knows them (the control follows the serials of
  // its own writes) and no command waits.
  bool settled() {
    auto until = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < until) {
      auto serials = [&] {
        std::vector<Seen> all = callbacks();
        return std::count_if(all.begin(), all.end(), [](const Seen& e) { return e.id == kavrel::kEventListSerialsResult; });
      };
      auto before = serials();
      control_->PostCmd(R"({ "cmd": "cmd_get_sn" })");
      if (!eventually([&] { return serials() > before; }, 15s)) return false;
      std::vector<Seen> all = callbacks();
      auto last = std::find_if(all.rbegin(), all.rend(), [](const Seen& e) { return e.id == kavrel::kEventListSerialsResult; });
      if (last->tag1 == 0 && control_->pending_commands() == 0) return true;
    }
    return false;
  }
  // The status the cloud holds for a device, or -1.
  int32_t stored_status(const char* dev_id) {
    auto account = world_.cloud.store().account("alice");
    if (!account) return -1;
    cJSON* written = world_.cloud.store().device_list(account->id);
    int32_t status = -1;
    const cJSON* d = nullptr;
    cJSON_ArrayForEach(d, cJSON_GetObjectItem(written, "devs")) {
      if (std::string(cJSON_GetObjectItem(d, "dev_id")->valuestring) == dev_id) {
        status = cJSON_GetObjectItem(d, "status_sp")->valueint;
      }
    }
    cJSON_Delete(written);
    return status;
  }

  static constexpr int32_t kWitnessEvent = kavrel::kEventRecordQuery;
  static constexpr int32_t kAnyTag = -999;
  uint16_t good_port_ = 0;
  std::string fixture_;
};

using kavrel::kEventAddDevice;
using kavrel::kEventGetCamListResult;
using kavrel::kEventGetDevInfoResult;
using kavrel::kEventGetDevListResult;
using kavrel::kEventHttpUrl;
using kavrel::kEventListSerialsResult;
using kavrel::kEventLogin;
using kavrel::kEventP2PConnected;
constexpr int32_t kAny = -999;

TEST_F(DeviceFlowTest, SignInBringsTheAccountsDevicesOnline) {
  on_ui([](CkavrelCtrl& c) { c.set_offline_delay_for_testing(2000); });
  init();
  sign_in();

  // The lists, then the tunnels of the two running devices come up.
  ASSERT_TRUE(wait_for(kEventP2PConnected, 1, 1, "KVR-GOOD", 30s)) << describe(callbacks());
  ASSERT_TRUE(wait_for(kEventP2PConnected, 1, 1, "KVR-PASS", 30s)) << describe(callbacks());
  ASSERT_TRUE(wait_for(kEventHttpUrl, 0, -4, "KVR-DOWN", 30s)) << describe(callbacks());

  // The page adds each device with the account's credentials.
  add_device(u"KVR-GOOD", u"good-pw");
  add_device(u"KVR-PASS", u"stale-pw");
  add_device(u"KVR-DOWN", u"down-pw");
  ASSERT_TRUE(wait_for(kEventAddDevice, 0, 1, "KVR-GOOD", 30s)) << describe(callbacks());
  ASSERT_TRUE(wait_for(kEventAddDevice, 0, -5, "KVR-PASS", 30s)) << describe(callbacks());
  ASSERT_TRUE(wait_for(kEventAddDevice, 0, -3, "KVR-DOWN", 40s)) << describe(callbacks());

  // The offline device is announced once it has stayed offline for its delay, at the next
  // library callback: a sync brings one.
  auto announced = [&] { return count(callbacks(), kEventP2PConnected, -4, 1, "KVR-DOWN") > 0; };
  auto until = std::chrono::steady_clock::now() + 30s;
  while (!announced() && std::chrono::steady_clock::now() < until) {
    ASSERT_EQ(host_->call("CliCloudSync", {}), com::S_OK);
    wait_for(kEventP2PConnected, -4, 1, "KVR-DOWN", 500ms);
  }
  ASSERT_TRUE(announced()) << describe(callbacks());
  ASSERT_TRUE(wait_for(kEventListSerialsResult, kAny, kAny, "", 15s));
  ASSERT_TRUE(quiet());

  std::vector<Seen> events = page_events();
  SCOPED_TRACE(describe(events));
  // The first serial answer changes nothing (nTag1 0), so no list is fetched for it. The
  // library raises each list's first event itself, so that one may overtake the serials; the
  // second comes after them, once the model took the list.
  ptrdiff_t serials = first(events, kEventListSerialsResult, kAny, "");
  ASSERT_GE(serials, 0);
  EXPECT_EQ(events[static_cast<size_t>(serials)].tag1, 0);
  auto second = [&](int32_t id) {
    ptrdiff_t one = first(events, id, 0, "");
    auto it = std::find_if(events.begin() + one + 1, events.end(), [&](const Seen& e) { return e.id == id; });
    return it - events.begin();
  };
  EXPECT_LT(serials, second(kEventGetDevListResult));
  EXPECT_LT(second(kEventGetDevListResult), second(kEventGetCamListResult));
  // Each list twice: straight from the library, then after the model took it.
  EXPECT_EQ(count(events, kEventGetDevListResult, 0, kAny, ""), 2u);
  EXPECT_EQ(count(events, kEventGetCamListResult, 0, kAny, ""), 2u);
  EXPECT_LT(first(events, kEventGetDevListResult, 0, ""), first(events, kEventGetCamListResult, 0, ""));
  EXPECT_LT(first(events, kEventGetDevListResult, 0, ""), first(events, kEventP2PConnected, 1, "KVR-GOOD"));
  // Online once each; the offline device once, after its 10 s.
  EXPECT_EQ(count(events, kEventP2PConnected, 1, 1, "KVR-GOOD"), 1u);
  EXPECT_EQ(count(events, kEventP2PConnected, 1, 1, "KVR-PASS"), 1u);
  EXPECT_EQ(count(events, kEventP2PConnected, -4, 1, "KVR-DOWN"), 1u);
  EXPECT_EQ(count(events, kEventP2PConnected, kAny, kAny, "KVR-DOWN"), 1u);
  // The working device: its description summary, then "ADD_DEV_RES" 1.
  ptrdiff_t summary = first(events, kEventGetDevInfoResult, 0, "");
  ASSERT_GE(summary, 0);
  EXPECT_LT(summary, first(events, kEventAddDevice, 0, "KVR-GOOD"));
  cJSON* parsed = cJSON_Parse(events[static_cast<size_t>(summary)].info.c_str());
  ASSERT_NE(parsed, nullptr) << events[static_cast<size_t>(summary)].info;
  EXPECT_EQ(cJSON_GetObjectItem(parsed, "chls")->valueint, 2);
  EXPECT_EQ(cJSON_GetArraySize(cJSON_GetObjectItem(parsed, "camlist")), 2);
  cJSON_Delete(parsed);
  // The wrong password: "LOGIN_RES" -3 before "ADD_DEV_RES" -5.
  EXPECT_EQ(count(events, kEventLogin, 0, -3, "KVR-PASS"), 1u);
  EXPECT_LT(first(events, kEventLogin, 0, "KVR-PASS"), first(events, kEventAddDevice, 0, "KVR-PASS"));
  EXPECT_EQ(count(events, kEventAddDevice, kAny, kAny, ""), 3u);

  // The model: three devices, the cameras of the list and of the description.
  on_ui([](CkavrelCtrl& c) {
    EXPECT_EQ(c.devices().size(), 3u);
    auto good = c.devices().find("KVR-GOOD");
    ASSERT_NE(good, nullptr);
    EXPECT_TRUE(good->online.load());
    EXPECT_EQ(good->devInfoResult.load(), 0);
    EXPECT_EQ(good->channel_slots(), (std::vector<std::string>{"KVR-GOOD_000", "KVR-GOOD_001"}));
    EXPECT_EQ(c.devices().find("KVR-PASS")->devInfoResult.load(), -1);
    EXPECT_EQ(c.devices().find("KVR-DOWN")->status_sp.load(), 3);
    EXPECT_NE(c.cameras().find("KVR-GOOD_000"), nullptr);
    EXPECT_NE(c.cameras().find("KVR-PASS_000"), nullptr);
  });

  // One fetch of each list: the sign-in's own.
  size_t device_fetches = 0;
  for (const auto& r : world_.cloud.requests()) device_fetches += r.msg == "c2s.get_dev_list_sp";
  EXPECT_EQ(device_fetches, 1u);

  // The cloud comes to hold the offline device marked 3 (tunnel failure).
  EXPECT_TRUE(eventually([&] { return stored_status("KVR-DOWN") == 3; }, 15s)) << stored_status("KVR-DOWN");

  RecordProperty("events", describe(events));
  printf("Event sequence seen by the page:\n%s", describe(events).c_str());
}

// An HTTP GET of `url` ("http://127.0.0.1:PORT"); the whole answer, or empty.
std::string http_get(const std::string& url) {
  int port = std::atoi(url.substr(url.rfind(':') + 1).c_str());
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  timeval limit{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    std::string request = "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return answer;
}

TEST_F(DeviceFlowTest, OpenDeviceWebGivesAnAddressThatServesTheDevicePage) {
  init();
  sign_in();
  ASSERT_TRUE(wait_for(kEventP2PConnected, 1, 1, "KVR-GOOD", 30s)) << describe(callbacks());
  host_->clear_events();
  ASSERT_EQ(host_->call("CliOpenDeviceWeb", {Variant::string(u"KVR-GOOD")}), com::S_OK);
  auto url = host_->wait_for_event(
      [](const host::ScriptEvent& e) { return e.id == kCallBackMsg && e.arg_long(2) == kEventHttpUrl && e.arg_long(4) == 1; },
      30s);
  ASSERT_TRUE(url) << describe(callbacks());
  std::string address = url->arg_text(5);
  EXPECT_EQ(address.rfind("http://127.0.0.1:", 0), 0u) << address;
  std::string answer = http_get(address);
  EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK", 0), 0u) << answer;
  EXPECT_NE(answer.find("<h1>Loja</h1>"), std::string::npos) << answer;
  EXPECT_NE(answer.find("KVR-GOOD"), std::string::npos) << answer;
  // The device's service port is reachable under its own number while the page is open.
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in service{};
  service.sin_family = AF_INET;
  service.sin_port = htons(good_port_);
  service.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&service), sizeof service), 0);
  ::close(fd);
}

TEST_F(DeviceFlowTest, TheWebPageTunnelTakesItsLocalPortFromTheRangeSet) {
  init();
  sign_in();
  ASSERT_TRUE(wait_for(kEventP2PConnected, 1, 1, "KVR-GOOD", 30s)) << describe(callbacks());
  const int first = kavrel::testing::free_port();
  ASSERT_GT(first, 0);
  const int last = std::min(first + 40, 65535);
  ASSERT_EQ(host_->call("CliSetP2PPortRange", {Variant::i4(first), Variant::i4(last)}), com::S_OK);
  host_->clear_events();
  ASSERT_EQ(host_->call("CliOpenDeviceWeb", {Variant::string(u"KVR-GOOD")}), com::S_OK);
  auto url = host_->wait_for_event(
      [](const host::ScriptEvent& e) { return e.id == kCallBackMsg && e.arg_long(2) == kEventHttpUrl && e.arg_long(4) == 1; },
      30s);
  // Later tunnels choose any free port again.
  ASSERT_EQ(host_->call("CliSetP2PPortRange", {Variant::i4(0), Variant::i4(0)}), com::S_OK);
  ASSERT_TRUE(url) << describe(callbacks());
  const std::string address = url->arg_text(5);
  const std::string prefix = "http://127.0.0.1:";
  ASSERT_EQ(address.rfind(prefix, 0), 0u) << address;
  const int port = std::atoi(address.c_str() + prefix.size());
  EXPECT_GE(port, first) << address;
  EXPECT_LE(port, last) << address;
}

TEST_F(DeviceFlowTest, TheWebTunnelIsRecreatedOnceAfterTryingTwice) {
  init();
  sign_in();
  ASSERT_TRUE(wait_for(kEventP2PConnected, 1, 1, "KVR-GOOD", 30s)) << describe(callbacks());
  ASSERT_EQ(host_->call("CliOpenDeviceWeb", {Variant::string(u"KVR-GOOD")}), com::S_OK);
  ASSERT_TRUE(wait_for(kEventHttpUrl, 0, 1, "", 30s)) << describe(callbacks());
  std::shared_ptr<kavrel::DevInfo> device;
  brixa_handle client = nullptr;
  on_ui([&](CkavrelCtrl& c) {
    device = c.devices().find("KVR-GOOD");
    client = c.client();
  });
  ASSERT_NE(device, nullptr);
  ASSERT_NE(device->webConnection.load(), nullptr);
  ASSERT_EQ(device->webConnectionStatus.load(), 1);
  auto trying = [&] {
    CkavrelCtrl::connectorcallback(reinterpret_cast<intptr_t>(control_), client, BRIXA_CB_CALLBACK_P2P_MAPPED,
                                   reinterpret_cast<intptr_t>(device->webConnection.load()), 0, "KVR-GOOD", 8);
  };
  // The library reports "trying" for the tunnel the control holds: it is recreated, its status
  // starts again at 0.
  trying();
  EXPECT_NE(device->webConnection.load(), nullptr);
  EXPECT_TRUE(device->webConnectionRenewed.load());
  EXPECT_EQ(device->webConnectionStatus.load(), 0);
  // The new tunnel comes up; a second "trying" leaves it alone.
  ASSERT_TRUE(eventually([&] { return device->webConnectionStatus.load() == 1; }, 10s))
      << "the recreated tunnel came up";
  brixa_connection kept = device->webConnection.load();
  trying();
  EXPECT_EQ(device->webConnection.load(), kept);
  EXPECT_EQ(device->webConnectionStatus.load(), 1) << "recreated once only";
}

TEST_F(DeviceFlowTest, APasswordRefusedAfterATunnelFailureMarksTheDeviceFour) {
  init();
  sign_in();
  ASSERT_TRUE(wait_for(kEventP2PConnected, 1, 1, "KVR-PASS", 30s)) << describe(callbacks());
  host_->clear_events();
  // What the dispatch does when the tunnel of a device marked 3 comes up.
  on_ui([](CkavrelCtrl& c) {
    auto device = c.devices().find("KVR-PASS");
    device->status_sp.store(3);
    device->devInfoResult.store(kavrel::kDevInfoAwaited);
    c.StartAddDeviceThread(device);
  });
  ASSERT_TRUE(wait_for(kEventAddDevice, 0, -4, "KVR-PASS", 30s)) << describe(callbacks());
  EXPECT_EQ(count(callbacks(), kEventLogin, 0, -3, "KVR-PASS"), 1u);
  EXPECT_TRUE(eventually([&] { return stored_status("KVR-PASS") == 4; }, 15s)) << stored_status("KVR-PASS");
}

TEST_F(DeviceFlowTest, ServicePortsAreAskedOnlyOfALoggedInDevice) {
  init();
  add_device(u"KVR-GOOD", u"good-pw");
  ASSERT_TRUE(wait_for(kEventAddDevice, 0, 1, "KVR-GOOD", 30s)) << describe(callbacks());
  auto port = [&](const char* method, const char16_t* id) {
    Variant result;
    EXPECT_EQ(host_->call(method, {Variant::string(id)}, &result), com::S_OK);
    return result.lval;
  };
  // The add-device round logged out again: HTTPS and TCP do not log in.
  EXPECT_EQ(port("CliGetHTTPSPort", u"KVR-GOOD"), 0);
  EXPECT_EQ(port("CliGetTCPPort", u"KVR-GOOD"), 0);
  EXPECT_EQ(port("CliGetHTTPPort", u"KVR-NONE"), 0);
  // HTTP logs in first and keeps the login.
  EXPECT_EQ(port("CliGetHTTPPort", u"KVR-GOOD"), 80);
  EXPECT_EQ(port("CliGetHTTPSPort", u"KVR-GOOD"), 443);
  EXPECT_EQ(port("CliGetTCPPort", u"KVR-GOOD"), good_port_);
  on_ui([](CkavrelCtrl& c) { EXPECT_EQ(c.devices().find("KVR-GOOD")->logincount.load(), 1); });
}

TEST_F(DeviceFlowTest, AServicePortQueryWaitingForItsTunnelKeepsTheEventsFlowing) {
  // The device's tunnel answers only after a long time: a service-port query waits for it on
  // the user-interface thread.
  world_.tunnel.set_delay("KVR-GOOD", 60000);
  init();
  sign_in();
  std::shared_ptr<kavrel::DevInfo> good;
  ASSERT_TRUE(eventually([&] {
    on_ui([&](CkavrelCtrl& c) { good = c.devices().find("KVR-GOOD"); });
    return good != nullptr && good->tcpConnection.load() != nullptr;
  }, 30s)) << "the sign-in made the device's tunnel";
  std::atomic<bool> in_call{false};
  std::atomic<bool> returned{false};
  std::atomic<int32_t> port{-1};
  ASSERT_TRUE(host_->ui().post([&] {
    in_call.store(true);
    port.store(control_->CliGetHTTPPort(u"KVR-GOOD"));
    returned.store(true);
  }));
  ASSERT_TRUE(eventually([&] { return in_call.load(); }, 10s));
  // A library result raised now reaches the page through the user-interface thread's event
  // timer while the query is still waiting.
  control_->Callback(0, 0, kavrel::kEventRecordQuery, 7, 8, nullptr, 0);
  bool delivered = wait_for(kavrel::kEventRecordQuery, 7, 8, "", 20s);
  bool still_waiting = !returned.load();
  good->abortLogin.store(true);  // ends the query
  ASSERT_TRUE(eventually([&] { return returned.load(); }, 35s));
  EXPECT_TRUE(delivered) << describe(callbacks());
  EXPECT_TRUE(still_waiting) << "the event came only once the query had returned";
  EXPECT_EQ(port.load(), 0) << "the abandoned login gives no port";
}

TEST_F(DeviceFlowTest, DirectLoginFetchesTheDescriptionAndLogoutTakesItBack) {
  init();
  sign_in();
  // The camera list reaches the page twice: from the library, then once the model has it.
  ASSERT_EQ(host_->wait_for_events(
                  [](const host::ScriptEvent& e) {
                    return e.id == kCallBackMsg && e.arg_long(2) == kEventGetCamListResult && e.arg_long(3) == 0;
                  },
                  2, 30s)
                .size(),
            2u);
  ASSERT_TRUE(settled());
  host_->clear_events();
  ASSERT_EQ(host_->call("CliLoginDeviceP2PDev", {Variant::string(u"KVR-GOOD"), Variant::string(u"admin"),
                                                 Variant::string(u"good-pw"), Variant::i4(good_port_), Variant::i4(80)}),
            com::S_OK);
  // The event reaches the page without a payload.
  ASSERT_TRUE(wait_for(kavrel::kEventGetDevInfo, 0, 1, "", 30s)) << describe(callbacks());
  on_ui([](CkavrelCtrl& c) {
    EXPECT_EQ(c.account_mode(), 2);
    // A direct login keeps only the cameras of the device it described.
    EXPECT_EQ(c.cameras().find("KVR-PASS_000"), nullptr);
    EXPECT_NE(c.cameras().find("KVR-GOOD_001"), nullptr);
    EXPECT_EQ(c.devices().find("KVR-GOOD")->logincount.load(), 1);
  });
  ASSERT_EQ(host_->call("CliLoginoutDeviceP2PDev", {Variant::string(u"KVR-GOOD")}), com::S_OK);
  on_ui([](CkavrelCtrl& c) {
    auto device = c.devices().find("KVR-GOOD");
    EXPECT_EQ(device->logincount.load(), 0);
    EXPECT_EQ(device->tcpConnection.load(), nullptr);
  });
  ASSERT_EQ(host_->call("CliLoginoutDeviceP2PDev", {Variant::string(u"KVR-NONE")}), com::S_OK);
}

TEST_F(DeviceFlowTest, OpenDeviceWebWithItsLocalPortTakenSaysSoAtOnce) {
  init();
  sign_in();
  ASSERT_TRUE(wait_for(kEventP2PConnected, 1, 1, "KVR-PASS", 30s)) << describe(callbacks());
  // Something listens on 37777 (this test, or whoever holds it already).
  uint16_t bound = 0;
  auto holder = platform::net::listen_loopback(37777, &bound);
  host_->clear_events();
  ASSERT_EQ(host_->call("CliOpenDeviceWeb", {Variant::string(u"KVR-PASS")}), com::S_OK);
  // Raised on the calling thread before the call returned.
  std::vector<Seen> events = callbacks();
  EXPECT_EQ(count(events, kEventHttpUrl, 37777, 10, ""), 1u) << describe(events);
  for (const auto& e : host_->events()) {
    if (e.id == kCallBackMsg && e.arg_long(2) == kEventHttpUrl && e.arg_long(4) == 10) {
      EXPECT_NE(e.arg_long(1), 0) << "the client handle";
      EXPECT_EQ(e.arg_long(6), 0);
    }
  }
  // Unknown devices are only traced.
  host_->clear_events();
  ASSERT_EQ(host_->call("CliOpenDeviceWeb", {Variant::string(u"KVR-NONE")}), com::S_OK);
  EXPECT_TRUE(callbacks().empty());
}

TEST_F(DeviceFlowTest, SyncFetchesOnlyTheListsWhoseSerialChanged) {
  init();
  sign_in();
  ASSERT_TRUE(wait_for(kEventGetCamListResult, 0, kAny, "", 30s));
  auto account = world_.cloud.store().account("alice");
  ASSERT_TRUE(account);
  ASSERT_TRUE(wait_for(kEventP2PConnected, 1, 1, "KVR-GOOD", 30s)) << describe(callbacks());
  std::shared_ptr<kavrel::DevInfo> good;
  on_ui([&](CkavrelCtrl& c) { good = c.devices().find("KVR-GOOD"); });
  ASSERT_NE(good, nullptr);
  brixa_connection tunnel = good->tcpConnection.load();
  ASSERT_NE(tunnel, nullptr);
  struct Case {
    bool devices, cameras;
    int32_t change;
    std::vector<std::string> fetched;
  } cases[] = {
      {false, true, 2, {"c2s.get_list_sn_sp", "c2s.get_cam_list_sp"}},
      {true, true, 3, {"c2s.get_list_sn_sp", "c2s.get_dev_list_sp", "c2s.get_cam_list_sp"}},
      {false, false, 0, {"c2s.get_list_sn_sp"}},
  };
  for (const auto& c : cases) {
    // The control's own writes settle first: they move the serials too.
    ASSERT_TRUE(settled());
    if (c.devices) {
      cJSON* list = world_.cloud.store().device_list(account->id);
      world_.cloud.store().store_device_list(account->id, list, true);
      cJSON_Delete(list);
    }
    if (c.cameras) {
      cJSON* list = world_.cloud.store().camera_list(account->id);
      world_.cloud.store().store_camera_list(account->id, list);
      cJSON_Delete(list);
    }
    world_.cloud.clear_requests();
    host_->clear_events();
    ASSERT_EQ(host_->call("CliCloudSync", {}), com::S_OK);
    ASSERT_TRUE(wait_for(kEventListSerialsResult, c.change, 0, "", 15s)) << c.change << describe(callbacks());
    if (c.cameras) {
      ASSERT_TRUE(wait_for(kEventGetCamListResult, 0, kAny, "", 15s));
    }
    if (c.devices) {
      ASSERT_TRUE(wait_for(kEventGetDevListResult, 0, kAny, "", 15s));
    }
    std::vector<std::string> fetched;
    for (const auto& r : world_.cloud.requests()) {
      if (r.msg.rfind("c2s.get", 0) == 0) fetched.push_back(r.msg);
    }
    EXPECT_EQ(fetched, c.fetched) << "change " << c.change;
    if (c.devices) {
      // A device already known keeps its tunnel and has its state reported again.
      EXPECT_TRUE(wait_for(kEventP2PConnected, 1, 1, "KVR-GOOD", 15s)) << describe(callbacks());
      EXPECT_EQ(tunnel, good->tcpConnection.load());
    }
  }
}

TEST_F(DeviceFlowTest, ADeviceBackWithinTheDelayIsNeverReportedOffline) {
  on_ui([](CkavrelCtrl& c) { c.set_offline_delay_for_testing(3000); });
  init();
  sign_in();
  ASSERT_TRUE(wait_for(kEventP2PConnected, 1, 1, "KVR-GOOD", 30s)) << describe(callbacks());
  ASSERT_TRUE(wait_for(kEventP2PConnected, 1, 1, "KVR-PASS", 30s)) << describe(callbacks());
  host_->clear_events();

  // KVR-GOOD drops and comes back at once; KVR-PASS stays away.
  world_.tunnel.set_device_online("KVR-GOOD", false);
  world_.tunnel.set_device_online("KVR-PASS", false);
  ASSERT_TRUE(wait_for(kEventHttpUrl, 0, -4, "KVR-GOOD", 15s)) << describe(callbacks());
  ASSERT_TRUE(wait_for(kEventHttpUrl, 0, -4, "KVR-PASS", 15s)) << describe(callbacks());
  world_.tunnel.set_device_online("KVR-GOOD", true);
  // Once the delay has passed, the next library callback announces the device still offline,
  // once: syncs bring callbacks until it is announced.
  auto announced = [&] { return count(callbacks(), kEventP2PConnected, -4, 1, "KVR-PASS") > 0; };
  auto until = std::chrono::steady_clock::now() + 30s;
  while (!announced() && std::chrono::steady_clock::now() < until) {
    ASSERT_EQ(host_->call("CliCloudSync", {}), com::S_OK);
    wait_for(kEventP2PConnected, -4, 1, "KVR-PASS", 500ms);
  }
  ASSERT_TRUE(announced()) << describe(callbacks());
  ASSERT_EQ(host_->call("CliCloudSync", {}), com::S_OK);
  ASSERT_TRUE(wait_for(kEventListSerialsResult, kAny, kAny, "", 15s));
  ASSERT_TRUE(quiet());
  std::vector<Seen> events = page_events();
  // The interruption of a tunnel that was up is reported at once (-3); the offline spell and
  // the return are not.
  EXPECT_EQ(count(events, kEventP2PConnected, -4, kAny, "KVR-GOOD"), 0u) << describe(events);
  EXPECT_EQ(count(events, kEventP2PConnected, 1, kAny, "KVR-GOOD"), 0u) << describe(events);
  EXPECT_EQ(count(events, kEventP2PConnected, -4, 1, "KVR-PASS"), 1u) << describe(events);
  on_ui([](CkavrelCtrl& c) {
    EXPECT_TRUE(c.devices().find("KVR-GOOD")->online.load());
    EXPECT_FALSE(c.devices().find("KVR-PASS")->online.load());
  });
}

TEST_F(DeviceFlowTest, DeletingADeviceWritesBothListsBackAlsoForAnUnknownOne) {
  init();
  sign_in();
  add_device(u"KVR-GOOD", u"good-pw");
  ASSERT_TRUE(wait_for(kEventAddDevice, 0, 1, "KVR-GOOD", 30s)) << describe(callbacks());
  add_device(u"KVR-PASS", u"stale-pw");
  ASSERT_TRUE(wait_for(kEventAddDevice, 0, -5, "KVR-PASS", 30s)) << describe(callbacks());
  ASSERT_TRUE(settled());

  for (const char16_t* id : {u"KVR-NONE", u"KVR-GOOD"}) {
    world_.cloud.clear_requests();
    ASSERT_EQ(host_->call("CliDelDevice", {Variant::string(id)}), com::S_OK);
    ASSERT_TRUE(eventually_requests(2)) << kavrel::to_narrow(id);
    // What the cloud holds now, in clear.
    auto account = world_.cloud.store().account("alice");
    ASSERT_TRUE(account);
    cJSON* devs = world_.cloud.store().device_list(account->id);
    cJSON* cams = world_.cloud.store().camera_list(account->id);
    ASSERT_NE(devs, nullptr);
    ASSERT_NE(cams, nullptr);
    char* d = cJSON_PrintUnformatted(devs);
    char* c = cJSON_PrintUnformatted(cams);
    std::string dev_text = d, cam_text = c;
    cJSON_free(d);
    cJSON_free(c);
    cJSON_Delete(devs);
    cJSON_Delete(cams);
    // The refused device (devInfoResult -1) is never written back.
    EXPECT_EQ(dev_text.find("KVR-PASS"), std::string::npos) << dev_text;
    EXPECT_NE(dev_text.find("KVR-DOWN"), std::string::npos) << dev_text;
    bool deleted = std::u16string(id) == u"KVR-GOOD";
    EXPECT_EQ(dev_text.find("KVR-GOOD") == std::string::npos, deleted) << dev_text;
    EXPECT_EQ(cam_text.find("KVR-GOOD_000") == std::string::npos, deleted) << cam_text;
    EXPECT_NE(cam_text.find("KVR-PASS_000"), std::string::npos) << cam_text;
  }
  on_ui([](CkavrelCtrl& c) {
    EXPECT_EQ(c.devices().find("KVR-GOOD"), nullptr);
    EXPECT_EQ(c.cameras().find("KVR-GOOD_001"), nullptr);
    EXPECT_EQ(c.devices().size(), 2u);
  });
}

TEST_F(DeviceFlowTest, UnInitDuringALoginEndsItWithinItsBound) {
  init();
  // The tunnel to the device is slow to come up: the login is still waiting when the page
  // leaves.
  world_.tunnel.set_delay("KVR-GOOD", 4000);
  add_device(u"KVR-GOOD", u"good-pw");
  // The login is under way: the worker runs and waits for the tunnel it made.
  ASSERT_TRUE(eventually([&] {
    bool waiting = false;
    on_ui([&](CkavrelCtrl& c) {
      auto device = c.devices().find("KVR-GOOD");
      waiting = device != nullptr && device->worker.running() && device->tcpConnection.load() != nullptr;
    });
    return waiting;
  }, 15s));
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(host_->call("CliUnInit", {}), com::S_OK);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 15s);
  on_ui([](CkavrelCtrl& c) {
    auto device = c.devices().find("KVR-GOOD");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->tcpConnection.load(), nullptr);
    EXPECT_FALSE(device->worker.running());
    EXPECT_FALSE(c.callback_thread_running());
    EXPECT_FALSE(c.cmd_thread_running());
  });
  // A worker that outlived its stop bound ends soon after and is joined.
  EXPECT_TRUE(eventually([] { return platform::abandoned_threads::reap() == 0; }, 15s));
}

}  // namespace
