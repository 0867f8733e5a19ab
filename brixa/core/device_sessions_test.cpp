// Device sessions against the device simulator: login sharing, login errors and their trace
// lines, session lookup, the device-information payload, service ports and alarm outputs.
#include "brixa/core/device_sessions.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "brixa/api/brixa.h"
#include "brixa/core/client_registry.h"
#include "platform/testing/debug_capture.h"
#include "sim/device/device.h"
#include "sim/tunnel/tunnel_service.h"
#include "trace/trace.h"

namespace {

using sim::device::Device;
using sim::device::FaultKind;
using sim::device::Settings;

constexpr uint16_t kDefaultTcpPort = sim::device::kDefaultServicePort;

struct Event {
  int32_t id;
  intptr_t param1;
  int32_t param2;
  std::string info;
};

// Callbacks seen by the test client; written on the dispatcher thread.
struct Events {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<Event> seen;

  bool wait_for(size_t count, int ms = 5000) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, std::chrono::milliseconds(ms), [&] { return seen.size() >= count; });
  }
  std::vector<Event> all() {
    std::lock_guard<std::mutex> hold(lock);
    return seen;
  }
};

int record(intptr_t user, brixa_handle, int32_t id, intptr_t param1, int32_t param2, const char* info, int32_t len) {
  auto* events = reinterpret_cast<Events*>(user);
  {
    std::lock_guard<std::mutex> hold(events->lock);
    events->seen.push_back({id, param1, param2, len > 0 ? std::string(info, static_cast<size_t>(len)) : ""});
  }
  events->changed.notify_all();
  return 0;
}

Settings device_settings(const char* dev_id) {
  Settings s;
  s.dev_id = dev_id;
  s.name = "Loja Centro";
  s.users = {{"admin", "admin-pass"}};
  return s;
}

// A client of the library, a tunnel service and devices registered with it, all in this
// process on loopback: every session is created by brixa_create_connect and logged in through
// 127.0.0.1 and its tunnel's mapped port.
class DeviceSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service.start());
    brixa_init("127.0.0.1", service.port(), "key");
    client = brixa_create();
    ASSERT_NE(client, nullptr);
    brixa_cli_attach_callback(client, record, reinterpret_cast<intptr_t>(&events));
  }
  void TearDown() override {
    trace::force_verbose_for_testing(false);
    brixa_cli_detach_callback(client);
    brixa_release(client);
    brixa_uninit();
    devices.clear();
    service.stop();
  }

  // Starts a device registered with the tunnel service under its identifier.
  Device& start_device(Settings s) {
    s.tunnel.service_port = service.port();
    devices.push_back(std::make_unique<Device>(std::move(s)));
    Device& d = *devices.back();
    EXPECT_TRUE(d.start());
    EXPECT_TRUE(d.wait_tunnel_registered(5000));
    return d;
  }

  // A tunnel to the device's service port, newest first in the client's list: its mapped port.
  uint16_t connect(const Device& d, const char* dev_id = nullptr) {
    brixa_connection c = brixa_create_connect(client, dev_id != nullptr ? dev_id : d.dev_id().c_str(),
                                              d.tunnel_port(), 0);
    EXPECT_NE(c, nullptr);
    int32_t port = brixa_connnect_get_mapped_port(client, c);
    EXPECT_GT(port, 0);
    return static_cast<uint16_t>(port);
  }

  int32_t login(const char* dev_id, uint16_t port, const char* password = "admin-pass") {
    return brixa_login(client, dev_id, port, "admin", password);
  }

  // Only the tunnel messages' count and the device-information messages matter here.
  std::vector<Event> device_info_events() {
    std::vector<Event> out;
    for (const auto& e : events.all())
      if (e.id == BRIXA_CB_CALLBACK_GET_DEVINFO) out.push_back(e);
    return out;
  }
  bool wait_device_info(size_t count, int ms = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (device_info_events().size() < count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }
  bool wait_tunnel_status(int32_t status, int ms = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      for (const auto& e : events.all())
        if (e.id == BRIXA_CB_CALLBACK_P2P_MAPPED && e.param2 == status) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  sim::tunnel::TunnelService service;
  Events events;
  brixa_handle client = nullptr;
  std::vector<std::unique_ptr<Device>> devices;
};

TEST_F(DeviceSessionTest, SecondLoginSharesTheSessionAndNeedsTwoLogouts) {
  Device& d = start_device(device_settings("KVR-1"));
  uint16_t port = connect(d);
  ASSERT_TRUE(wait_tunnel_status(1));
  platform::testing::DebugCapture capture;
  trace::force_verbose_for_testing(true);

  ASSERT_EQ(login("KVR-1", port), 0);
  EXPECT_GT(brixa_get_login_id(client, "KVR-1"), 0);
  EXPECT_EQ(brixa_get_dev_channel_count(client, "KVR-1"), 4);
  EXPECT_EQ(brixa_get_output_count(client, "KVR-1"), 2);
  EXPECT_FALSE(capture.contains("  -: Login found"));
  // The tunnel is up, so its statistics are copied and traced.
  EXPECT_TRUE(capture.contains("   : connector->remoteVersion 3"));

  ASSERT_EQ(login("KVR-1", port), 0);
  EXPECT_TRUE(capture.contains("  -: Login found"));
  EXPECT_EQ(d.logins_accepted(), 1);  // shared, not a second device login

  EXPECT_EQ(brixa_logout(client, "KVR-1"), 0);
  EXPECT_GT(brixa_get_login_id(client, "KVR-1"), 0);
  EXPECT_FALSE(capture.contains("  -: Logging out of device (286)"));
  EXPECT_EQ(brixa_logout(client, "KVR-1"), 0);
  EXPECT_TRUE(capture.contains("  -: Logging out of device (286)"));
  EXPECT_EQ(brixa_get_login_id(client, "KVR-1"), BRIXA_ERR_NO_SESSION);
  EXPECT_EQ(brixa_logout(client, "KVR-1"), 0);  // nothing left to log out
  EXPECT_EQ(brixa_logout(client, "unknown"), 0);
  for (int i = 0; i < 300 && d.sessions_open() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(d.sessions_open(), 0);

  // The session and its tunnel stay: a new login works at the same port.
  EXPECT_EQ(login("KVR-1", port), 0);
  EXPECT_EQ(d.logins_accepted(), 2);
}

TEST_F(DeviceSessionTest, EachLoginErrorIsReturnedAndTracedOnItsLine) {
  const char* messages[] = {"Wrong password",
                            "User does not exist",
                            "Login timeout",
                            "Account logged in",
                            "Account is locked",
                            "Account is in black list",
                            "System busy",
                            "Sub connection failed",
                            "Main connection failed",
                            "Over max number of user connections"};
  const char* names[] = {"ERROR_NET_LOGIN_ERROR_PASSWORD", "ERROR_NET_LOGIN_ERROR_USER",
                         "ERROR_NET_LOGIN_ERROR_TIMEOUT",  "ERROR_NET_LOGIN_ERROR_RELOGGIN",
                         "ERROR_NET_LOGIN_ERROR_LOCKED",   "ERROR_NET_LOGIN_ERROR_BLACKLIST",
                         "ERROR_NET_LOGIN_ERROR_BUSY",     "ERROR_NET_LOGIN_ERROR_NETWORK",
                         "ERROR_NET_LOGIN_ERROR_CONNECT",  "ERROR_NET_LOGIN_ERROR_BUSY"};
  Device& d = start_device(device_settings("KVR-1"));
  uint16_t port = connect(d);
  platform::testing::DebugCapture capture;
  trace::force_verbose_for_testing(true);
  for (int code = 1; code <= 10; ++code) {
    capture.clear();
    d.set_login_error(code);
    EXPECT_EQ(login("KVR-1", port), code);
    EXPECT_TRUE(capture.contains("  -: Login failed"));
    EXPECT_TRUE(capture.contains("Error: brixa_login " + std::to_string(95 + code) + " (" + messages[code - 1] + ")"))
        << code;
    EXPECT_TRUE(capture.contains(std::string("Error: brixa_login 107 (NET_Login (64) ") + names[code - 1] + ")"))
        << code;
    EXPECT_EQ(brixa_get_login_id(client, "KVR-1"), BRIXA_ERR_NO_SESSION);
  }
  d.set_login_error(0);
  EXPECT_EQ(login("KVR-1", port, "wrong"), 1);
  EXPECT_EQ(login("KVR-1", port), 0);
}

TEST_F(DeviceSessionTest, WrongPortNeverMatchesAndItsLoginIsClosed) {
  Device& d1 = start_device(device_settings("KVR-1"));
  Device& d2 = start_device(device_settings("KVR-2"));
  uint16_t port1 = connect(d1);
  uint16_t port2 = connect(d2);
  ASSERT_EQ(login("KVR-1", port1), 0);

  // KVR-2 accepts the login at its port, but no session of KVR-1 maps that port.
  EXPECT_EQ(login("KVR-1", port2), BRIXA_ERR_FAILED);
  EXPECT_EQ(d2.logins_accepted(), 1);
  for (int i = 0; i < 300 && d2.sessions_open() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(d2.sessions_open(), 0);
  EXPECT_EQ(brixa_get_login_id(client, "KVR-2"), BRIXA_ERR_NO_SESSION);
  // Nor does a logged-in session answer for another port: KVR-1 counts one login.
  EXPECT_EQ(brixa_logout(client, "KVR-1"), 0);
  EXPECT_EQ(brixa_get_login_id(client, "KVR-1"), BRIXA_ERR_NO_SESSION);
}

TEST_F(DeviceSessionTest, LogoutAndResetActOnTheNewestSessionOfAnIdentifier) {
  Device& d = start_device(device_settings("KVR-1"));
  uint16_t login_port = connect(d);
  ASSERT_EQ(login("KVR-1", login_port), 0);
  int32_t older_login = brixa_get_login_id(client, "KVR-1");
  uint16_t web_port = connect(d);  // a newer session of the same device, first in the list
  ASSERT_NE(web_port, login_port);

  // The lookups of the other exports pass over the newer session, which is not logged in.
  EXPECT_EQ(brixa_get_login_id(client, "KVR-1"), older_login);
  EXPECT_EQ(brixa_get_output_count(client, "KVR-1"), 2);
  EXPECT_EQ(brixa_get_TCP_port(client, "KVR-1"), kDefaultTcpPort);

  // Logout takes the newer session: the older one stays logged in.
  EXPECT_EQ(brixa_logout(client, "KVR-1"), 0);
  EXPECT_EQ(brixa_get_login_id(client, "KVR-1"), older_login);
  EXPECT_EQ(d.sessions_open(), 1);

  // Reset deletes the newer session and its tunnel; the next reset deletes the older one and
  // logs it out.
  EXPECT_EQ(brixa_reset(client, "KVR-1"), 0);
  EXPECT_EQ(brixa_get_login_id(client, "KVR-1"), older_login);
  EXPECT_EQ(login("KVR-1", web_port), 9);  // main connection failed: that port is unmapped
  EXPECT_EQ(brixa_reset(client, "KVR-1"), 0);
  EXPECT_EQ(brixa_get_login_id(client, "KVR-1"), BRIXA_ERR_NO_SESSION);
  EXPECT_EQ(brixa_reset(client, "KVR-1"), BRIXA_ERR_NO_SESSION);
  for (int i = 0; i < 300 && d.sessions_open() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(d.sessions_open(), 0);
}

TEST_F(DeviceSessionTest, ZeroChannelsRefusesDeviceInformationAndPostsNothing) {
  Settings s = device_settings("KVR-0");
  s.channels = 0;
  Device& d = start_device(s);
  ASSERT_EQ(login("KVR-0", connect(d)), 0);
  EXPECT_EQ(brixa_start_get_device_info(client, "KVR-0"), -4);
  EXPECT_FALSE(wait_device_info(1, 300));
}

TEST_F(DeviceSessionTest, DeviceInformationListsEveryChannelWithTwoStreams) {
  Settings s = device_settings("KVR-2");
  s.channels = 2;
  Device& d = start_device(s);
  ASSERT_EQ(login("KVR-2", connect(d)), 0);
  ASSERT_EQ(brixa_start_get_device_info(client, "KVR-2"), 0);
  ASSERT_TRUE(wait_device_info(1));
  Event e = device_info_events()[0];
  EXPECT_EQ(e.param1, 0);
  EXPECT_EQ(e.param2, 0);
  const char* stream = R"({"stream_id":%d,"width":0,"height":0,"frame_rate":0})";
  char s0[96], s1[96];
  snprintf(s0, sizeof s0, stream, 0);
  snprintf(s1, sizeof s1, stream, 1);
  std::string streams = std::string("[") + s0 + "," + s1 + "]";
  std::string expected =
      R"({"dev_id":"KVR-2","name":"Loja Centro","model":"Loja Centro","firmware":"","vendor":"Generic","status":1,)"
      R"("channels":[{"uid":"KVR-2_000","chlid":0,"name":"KVR-2_000","ptz":1,"streams":)" +
      streams + R"(},{"uid":"KVR-2_001","chlid":1,"name":"KVR-2_001","ptz":1,"streams":)" + streams + "}]}";
  EXPECT_EQ(e.info, expected);
  EXPECT_EQ(brixa_stop_get_device_info(client, "KVR-2"), 0);
}

TEST_F(DeviceSessionTest, DeviceInformationFailurePostsTheIdentifier) {
  Device& d = start_device(device_settings("KVR-1"));
  ASSERT_EQ(login("KVR-1", connect(d)), 0);
  d.set_fault({FaultKind::drop, static_cast<uint16_t>(proto::Type::get_config)});
  platform::testing::DebugCapture capture;
  trace::force_verbose_for_testing(true);
  ASSERT_EQ(brixa_start_get_device_info(client, "KVR-1"), 0);
  ASSERT_TRUE(wait_device_info(1));
  Event e = device_info_events()[0];
  EXPECT_EQ(e.param2, -1);
  EXPECT_EQ(e.info, "KVR-1");
  EXPECT_TRUE(capture.contains("Error: get_device_info_thread 132 (NET_GetDevConfig (125) 2)"));
}

TEST_F(DeviceSessionTest, StartingDeviceInformationTwiceReportsItAndServesBoth) {
  Device& d = start_device(device_settings("KVR-1"));
  uint16_t port = connect(d);
  EXPECT_EQ(brixa_start_get_device_info(client, "KVR-1"), BRIXA_ERR_NO_SESSION);
  EXPECT_EQ(brixa_stop_get_device_info(client, "KVR-1"), BRIXA_ERR_NO_SESSION);
  ASSERT_EQ(login("KVR-1", port), 0);
  ASSERT_EQ(brixa_start_get_device_info(client, "KVR-1"), 0);
  EXPECT_EQ(brixa_start_get_device_info(client, "KVR-1"), -5);
  ASSERT_TRUE(wait_device_info(2));
  for (const auto& e : device_info_events()) EXPECT_EQ(e.param2, 0);
  EXPECT_EQ(brixa_stop_get_device_info(client, "KVR-1"), 0);
}

TEST_F(DeviceSessionTest, ServicePortsComeFromTheNetworkConfiguration) {
  Settings s = device_settings("KVR-1");
  s.tcp_port = 37778;
  s.http_port = 8080;
  s.https_port = 8443;
  Device& d = start_device(s);
  uint16_t port = connect(d);
  EXPECT_EQ(brixa_get_HTTP_port(client, "KVR-1"), BRIXA_ERR_NO_SESSION);
  ASSERT_EQ(login("KVR-1", port), 0);
  platform::testing::DebugCapture capture;
  trace::force_verbose_for_testing(true);
  EXPECT_EQ(brixa_get_HTTP_port(client, "KVR-1"), 8080);
  EXPECT_EQ(brixa_get_HTTPS_port(client, "KVR-1"), 8443);
  EXPECT_EQ(brixa_get_TCP_port(client, "KVR-1"), 37778);
  EXPECT_TRUE(capture.contains("   : outBuffer.wHttpPort 8080"));
  EXPECT_TRUE(capture.contains("   : outBuffer.wHttpsPort 8443"));
  EXPECT_TRUE(capture.contains("   : outBuffer.wTcpPort 37778"));
}

// A device that drops the connection in the middle of a request: an error at once, not a hang.
TEST_F(DeviceSessionTest, DeviceDroppingMidRequestGivesAnError) {
  Device& d = start_device(device_settings("KVR-1"));
  uint16_t port = connect(d);
  ASSERT_EQ(login("KVR-1", port), 0);
  platform::testing::DebugCapture capture;
  trace::force_verbose_for_testing(true);
  d.set_fault({FaultKind::drop, static_cast<uint16_t>(proto::Type::get_config)});
  EXPECT_EQ(brixa_get_HTTP_port(client, "KVR-1"), BRIXA_ERR_NO_SESSION);
  EXPECT_TRUE(capture.contains("Error: brixa_get_HTTP_port 63 (NET_GetDevConfig (67) ERROR_NET_NETWORK_ERROR)"));
  // The NetSDK tells the library the connection dropped.
  // (Wait for its exit line: the notice is traced on the SDK's thread, line by line.)
  for (int i = 0; i < 300 && !capture.contains("<--: DisConnectFunc"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(capture.contains("-->: DisConnectFunc"));
  EXPECT_TRUE(capture.contains("   : pchDVRIP 127.0.0.1"));
  // The session's connection is gone: later requests fail the same way, at once.
  d.set_fault({});
  EXPECT_EQ(brixa_get_TCP_port(client, "KVR-1"), BRIXA_ERR_NO_SESSION);
  EXPECT_EQ(brixa_get_output(client, "KVR-1", 0), BRIXA_ERR_FAILED);
  EXPECT_TRUE(capture.contains("Error: brixa_get_output 138 (QueryIOControlState (73) ERROR_NET_NETWORK_ERROR)"));
  // Logging out and in again recovers.
  EXPECT_EQ(brixa_logout(client, "KVR-1"), 0);
  ASSERT_EQ(login("KVR-1", port), 0);
  EXPECT_EQ(brixa_get_output(client, "KVR-1", 0), 0);
}

TEST_F(DeviceSessionTest, OutputsOutsideTheirRangeAreRefusedWithoutAQuery) {
  Settings many = device_settings("KVR-17");
  many.alarm_outputs.assign(17, 0);
  Device& d17 = start_device(many);
  Device& d2 = start_device(device_settings("KVR-2"));
  ASSERT_EQ(login("KVR-17", connect(d17)), 0);
  ASSERT_EQ(login("KVR-2", connect(d2)), 0);
  EXPECT_EQ(brixa_get_output_count(client, "KVR-17"), 17);
  EXPECT_EQ(brixa_get_output(client, "KVR-17", 0), BRIXA_ERR_NO_SESSION);
  EXPECT_EQ(brixa_close_output(client, "KVR-17", 0), BRIXA_ERR_NO_SESSION);
  EXPECT_EQ(d17.io_queries(), 0);

  for (int32_t index : {-1, 2, 1000}) {
    EXPECT_EQ(brixa_get_output(client, "KVR-2", index), BRIXA_ERR_NO_SESSION) << index;
    EXPECT_EQ(brixa_set_output(client, "KVR-2", index, 1), BRIXA_ERR_NO_SESSION) << index;
  }
  EXPECT_EQ(d2.io_queries(), 0);
  EXPECT_TRUE(d2.output_writes().empty());
}

TEST_F(DeviceSessionTest, ClosingOneOutputWritesTheOthersBackUnchanged) {
  Device& d = start_device(device_settings("KVR-1"));
  d.set_alarm_output(1, 1);
  ASSERT_EQ(login("KVR-1", connect(d)), 0);
  EXPECT_EQ(brixa_get_output(client, "KVR-1", 0), 0);
  EXPECT_EQ(brixa_get_output(client, "KVR-1", 1), 1);

  EXPECT_EQ(brixa_close_output(client, "KVR-1", 0), 0);
  ASSERT_EQ(d.output_writes().size(), 1u);
  EXPECT_EQ(d.output_writes()[0], (std::vector<uint16_t>{1, 1}));
  EXPECT_EQ(brixa_get_output(client, "KVR-1", 0), 1);

  EXPECT_EQ(brixa_open_output(client, "KVR-1", 1), 0);
  EXPECT_EQ(d.output_writes().back(), (std::vector<uint16_t>{1, 0}));
  EXPECT_EQ(d.alarm_outputs(), (std::vector<uint16_t>{1, 0}));
}

TEST_F(DeviceSessionTest, TextsTooLongForTheirFieldsAreRefusedBeforeAnyConnection) {
  Device& d = start_device(device_settings("KVR-1"));
  uint16_t port = connect(d);
  std::string id128(128, 'i'), user64(64, 'u'), pass32(32, 'p');
  EXPECT_EQ(brixa_login(client, id128.c_str(), port, "admin", "admin-pass"), BRIXA_ERR_FAILED);
  EXPECT_EQ(brixa_login(client, "KVR-1", port, user64.c_str(), "admin-pass"), BRIXA_ERR_FAILED);
  EXPECT_EQ(brixa_login(client, "KVR-1", port, "admin", pass32.c_str()), BRIXA_ERR_FAILED);
  EXPECT_EQ(brixa_login(client, nullptr, port, "admin", "admin-pass"), BRIXA_ERR_FAILED);
  EXPECT_EQ(d.connections_accepted(), 0);
  // One shorter fits, and reaches the device (which knows no such user).
  std::string user63(63, 'u');
  EXPECT_EQ(brixa_login(client, "KVR-1", port, user63.c_str(), "admin-pass"), 2);
}

TEST_F(DeviceSessionTest, UnknownClientsAndAStoppedLibraryAreRefused) {
  auto* stranger = reinterpret_cast<brixa_handle>(uintptr_t{0x1234});
  EXPECT_EQ(brixa_login(stranger, "KVR-1", 1, "admin", "x"), BRIXA_ERR_FAILED);
  EXPECT_EQ(brixa_get_login_id(stranger, "KVR-1"), BRIXA_ERR_FAILED);
  EXPECT_EQ(brixa_get_output(nullptr, "KVR-1", 0), BRIXA_ERR_FAILED);
  EXPECT_EQ(brixa_reset(stranger, "KVR-1"), BRIXA_ERR_FAILED);

  brixa_cli_detach_callback(client);
  brixa_release(client);
  brixa_uninit();
  platform::testing::DebugCapture capture;
  trace::force_verbose_for_testing(true);
  EXPECT_EQ(brixa_login(client, "KVR-1", 1, "admin", "x"), BRIXA_ERR_NOT_INITIALISED);
  EXPECT_FALSE(capture.contains("<--: brixa_login"));
  EXPECT_EQ(brixa_get_HTTP_port(client, "KVR-1"), BRIXA_ERR_NOT_INITIALISED);
  EXPECT_EQ(brixa_logout(client, "KVR-1"), BRIXA_ERR_NOT_INITIALISED);
  // TearDown releases again: give it a fresh library and client.
  brixa_init("127.0.0.1", service.port(), "key");
  client = brixa_create();
}

TEST(DeviceInfoJson, CutsNothingForTheLongestIdentifier) {
  std::string id(127, 'x');
  std::string json = brixa::device_info_json(id.c_str(), "n", 1);
  EXPECT_NE(json.find("\"uid\":\"" + id + "_000\""), std::string::npos);
}

}  // namespace
