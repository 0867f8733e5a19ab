// The NetSDK against the device simulator on a loopback port.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/netsdk_testing.h"
#include "devsdk/netsdk/replies.h"
#include "sim/device/device.h"

namespace {

using sim::device::Device;
using sim::device::Fault;
using sim::device::FaultKind;
using sim::device::Settings;

constexpr uint32_t err(uint32_t number) { return NET_ERROR_BASE | number; }

// What the disconnect callback saw. Written on SDK threads, read by the test.
struct Disconnects {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<int32_t> handles;
  std::vector<int32_t> ports;
  int32_t logout_from_callback = 0;  // a handle the callback logs out itself

  bool wait_for(size_t count, int ms = 3000) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, std::chrono::milliseconds(ms), [&] { return handles.size() >= count; });
  }
  size_t count() {
    std::lock_guard<std::mutex> hold(lock);
    return handles.size();
  }
};
void on_disconnect(int32_t login_id, const char* ip, int32_t port, intptr_t user) {
  auto* d = reinterpret_cast<Disconnects*>(user);
  int32_t logout;
  {
    std::lock_guard<std::mutex> hold(d->lock);
    d->handles.push_back(login_id);
    d->ports.push_back(port);
    EXPECT_STREQ(ip, "127.0.0.1");
    logout = d->logout_from_callback;
  }
  if (logout == login_id) {
    EXPECT_EQ(NET_Logout(login_id), 1);
  }
  d->changed.notify_all();
}

class NetSdkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    NET_TestReset();
    ASSERT_TRUE(NET_Init(on_disconnect, reinterpret_cast<intptr_t>(&seen)));
    NET_NetworkParams params{};
    params.wait_time_ms = 2000;
    params.connect_time_ms = 2000;
    NET_SetNetworkParam(&params);
    start_device(Settings{});
  }
  void TearDown() override {
    NET_Cleanup();
    device.reset();
  }
  void start_device(Settings s) {
    if (device) device->stop();
    s.dev_id = "KVR-NET";
    s.name = "Loja Centro";
    s.model = "NVR-4";
    s.users = {{"admin", "admin"}, {"locked", "x", true}, {"banned", "x", false, true}, {"solo", "x", false, false, true}};
    device = std::make_unique<Device>(s);
    ASSERT_TRUE(device->start());
  }
  int32_t login(const char* user = "admin", const char* password = "admin", int32_t* error = nullptr,
                NET_DEVICEINFO* info = nullptr) {
    int32_t e = -1;
    int32_t h = NET_Login("127.0.0.1", device->port(), user, password, NET_LOGIN_MODE_TCP, nullptr, info, &e);
    if (error != nullptr) *error = e;
    return h;
  }

  Disconnects seen;
  std::unique_ptr<Device> device;
};

TEST_F(NetSdkTest, LoginFillsTheDeviceInformationAndLogoutEndsTheSession) {
  NET_DEVICEINFO info;
  memset(&info, 0xCC, sizeof info);
  int32_t error = -1;
  int32_t h = login("admin", "admin", &error, &info);
  ASSERT_GT(h, 0);
  EXPECT_EQ(error, 0);
  EXPECT_STREQ(info.serial, "SN-KVR-NET");
  EXPECT_EQ(info.channels, 4);
  EXPECT_EQ(info.alarm_inputs, 4);
  EXPECT_EQ(info.alarm_outputs, 2);
  EXPECT_EQ(info.reserved[0], 0);  // the whole block is ours to fill
  EXPECT_EQ(device->last_login_mode(), 19u);
  EXPECT_EQ(device->sessions_open(), 1);

  int32_t second = login();
  EXPECT_GT(second, 0);
  EXPECT_NE(second, h);
  EXPECT_EQ(device->sessions_open(), 2);

  EXPECT_EQ(NET_Logout(h), 1);
  EXPECT_EQ(NET_Logout(h), 0);
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_INVALID_HANDLE));
  EXPECT_EQ(NET_Logout(second), 1);
  for (int i = 0; i < 300 && device->sessions_open() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(device->sessions_open(), 0);
  EXPECT_EQ(seen.count(), 0u);  // a logout is not a disconnection
}

TEST_F(NetSdkTest, LoginRefusalsGiveTheirCodes) {
  struct Case {
    const char* user;
    const char* password;
    int32_t code;
    uint32_t last_error;
  };
  const Case cases[] = {
      {"admin", "wrong", NET_LOGIN_WRONG_PASSWORD, NET_ERR_LOGIN_ERROR_PASSWORD},
      {"nobody", "x", NET_LOGIN_NO_SUCH_USER, NET_ERR_LOGIN_ERROR_USER},
      {"locked", "x", NET_LOGIN_LOCKED, NET_ERR_LOGIN_ERROR_LOCKED},
      {"banned", "x", NET_LOGIN_BLACKLISTED, NET_ERR_LOGIN_ERROR_BLACKLIST},
  };
  for (const auto& c : cases) {
    int32_t error = -1;
    EXPECT_EQ(login(c.user, c.password, &error), 0) << c.user;
    EXPECT_EQ(error, c.code) << c.user;
    EXPECT_EQ(NET_GetLastError(), err(c.last_error)) << c.user;
  }
  // An exclusive account refuses a second login while the first is open.
  int32_t first = login("solo", "x");
  ASSERT_GT(first, 0);
  int32_t error = -1;
  EXPECT_EQ(login("solo", "x", &error), 0);
  EXPECT_EQ(error, NET_LOGIN_ALREADY_LOGGED_IN);
  EXPECT_EQ(device->sessions_open(), 1);
}

TEST_F(NetSdkTest, EveryLoginErrorCodeCanBeReproduced) {
  for (int code = 1; code <= 10; ++code) {
    device->set_login_error(code);
    int32_t error = -1;
    EXPECT_EQ(login("admin", "admin", &error), 0) << code;
    EXPECT_EQ(error, code);
  }
  device->set_login_error(0);
  EXPECT_GT(login(), 0);
}

TEST_F(NetSdkTest, TooManyConnectionsGivesTen) {
  Settings s;
  s.max_connections = 1;
  start_device(s);
  ASSERT_GT(login(), 0);
  int32_t error = -1;
  EXPECT_EQ(login("admin", "admin", &error), 0);
  EXPECT_EQ(error, NET_LOGIN_TOO_MANY_CONNECTIONS);
}

TEST_F(NetSdkTest, LoginWithoutADeviceOrAnAnswerFailsInTime) {
  uint16_t port = device->port();
  device->stop();
  int32_t error = -1;
  EXPECT_EQ(NET_Login("127.0.0.1", port, "admin", "admin", 19, nullptr, nullptr, &error), 0);
  EXPECT_EQ(error, NET_LOGIN_MAIN_CONNECTION_FAILED);

  start_device(Settings{});
  NET_NetworkParams params{};
  params.wait_time_ms = 200;
  NET_SetNetworkParam(&params);
  struct Case {
    FaultKind kind;
    int32_t code;
  };
  const Case cases[] = {{FaultKind::stall, NET_LOGIN_TIMEOUT},
                        {FaultKind::drop, NET_LOGIN_MAIN_CONNECTION_FAILED},
                        {FaultKind::garbage, NET_LOGIN_MAIN_CONNECTION_FAILED},
                        {FaultKind::oversized, NET_LOGIN_MAIN_CONNECTION_FAILED}};
  for (const auto& c : cases) {
    device->set_fault({c.kind, 0});
    error = -1;
    EXPECT_EQ(login("admin", "admin", &error), 0) << static_cast<int>(c.kind);
    EXPECT_EQ(error, c.code) << static_cast<int>(c.kind);
  }
  EXPECT_EQ(seen.count(), 0u);  // no login, nothing to report
}

TEST_F(NetSdkTest, RefusesBadArgumentsAndAnSdkNotStarted) {
  int32_t error = -1;
  EXPECT_EQ(NET_Login(nullptr, device->port(), "admin", "admin", 19, nullptr, nullptr, &error), 0);
  EXPECT_EQ(error, NET_LOGIN_MAIN_CONNECTION_FAILED);
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_ILLEGAL_PARAM));
  EXPECT_EQ(NET_Login("not an address", device->port(), "admin", "admin", 19, nullptr, nullptr, &error), 0);
  EXPECT_EQ(error, NET_LOGIN_MAIN_CONNECTION_FAILED);
  NET_Cleanup();
  EXPECT_EQ(login("admin", "admin", &error), 0);
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_NO_INIT));
}

TEST_F(NetSdkTest, ConfigurationBlocksCarryTheFieldsAtTheirOffsets) {
  Settings s;
  s.http_port = 8080;
  s.https_port = 8443;
  s.tcp_port = 37777;
  s.multi_preview = 16;
  s.video_standard = 1;
  start_device(s);
  int32_t h = login();
  ASSERT_GT(h, 0);

  uint8_t device_block[212];
  memset(device_block, 0xCC, sizeof device_block);
  uint32_t returned = 0;
  ASSERT_TRUE(NET_GetDevConfig(h, NET_DEV_DEVICECFG, -1, device_block, sizeof device_block, &returned, 3000));
  EXPECT_EQ(returned, 212u);
  EXPECT_STREQ(reinterpret_cast<char*>(device_block + 149), "Loja Centro");
  EXPECT_EQ(device_block[181], 16);
  EXPECT_EQ(device_block[204], 1);

  uint8_t network_block[1852];
  ASSERT_TRUE(NET_GetDevConfig(h, NET_DEV_NETCFG, -1, network_block, sizeof network_block, &returned, 3000));
  EXPECT_EQ(returned, 1852u);
  auto port_at = [&](size_t offset) { return static_cast<uint16_t>(network_block[offset] | (network_block[offset + 1] << 8)); };
  EXPECT_EQ(port_at(22), 37777);
  EXPECT_EQ(port_at(26), 8080);
  EXPECT_EQ(port_at(28), 8443);

  // A buffer too small is refused before anything is written.
  memset(device_block, 0xCC, sizeof device_block);
  EXPECT_FALSE(NET_GetDevConfig(h, NET_DEV_DEVICECFG, -1, device_block, 211, &returned, 3000));
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(device_block[0], 0xCC);
  EXPECT_FALSE(NET_GetDevConfig(h, 99, -1, network_block, sizeof network_block, &returned, 3000));
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_NOT_SUPPORTED));
  EXPECT_FALSE(NET_GetDevConfig(h + 1000, NET_DEV_DEVICECFG, -1, device_block, 212, &returned, 3000));
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_INVALID_HANDLE));
}

TEST_F(NetSdkTest, ReportedTcpPortDefaultsToTheListeningPort) {
  int32_t h = login();
  NET_NETWORK_CONFIG block;
  uint32_t returned = 0;
  ASSERT_TRUE(NET_GetDevConfig(h, NET_DEV_NETCFG, -1, &block, sizeof block, &returned, 3000));
  EXPECT_EQ(block.tcp_port, device->port());
  EXPECT_EQ(block.http_port, 80);
  EXPECT_EQ(block.https_port, 443);
}

TEST_F(NetSdkTest, AlarmOutputsAreQueriedAndSet) {
  device->set_alarm_output(1, 1);
  int32_t h = login();
  NET_IO_STATE states[2];
  uint32_t returned = 0;
  ASSERT_TRUE(NET_QueryIOControlState(h, NET_IO_ALARM_OUTPUT, states, sizeof states, &returned, 3000));
  EXPECT_EQ(returned, 8u);
  EXPECT_EQ(states[0].state, 0);
  EXPECT_EQ(states[1].number, 1);
  EXPECT_EQ(states[1].state, 1);

  states[0].state = 1;
  states[1].state = 0;
  ASSERT_TRUE(NET_IOControl(h, NET_IO_ALARM_OUTPUT, states, sizeof states));
  EXPECT_EQ(device->alarm_outputs(), (std::vector<uint16_t>{1, 0}));

  // A buffer for one entry gets one entry; inputs are readable; odd sizes are refused.
  NET_IO_STATE one[1];
  ASSERT_TRUE(NET_QueryIOControlState(h, NET_IO_ALARM_OUTPUT, one, sizeof one, &returned, 3000));
  EXPECT_EQ(returned, 4u);
  NET_IO_STATE inputs[8];
  ASSERT_TRUE(NET_QueryIOControlState(h, NET_IO_ALARM_INPUT, inputs, sizeof inputs, &returned, 3000));
  EXPECT_EQ(returned, 16u);
  EXPECT_FALSE(NET_IOControl(h, NET_IO_ALARM_OUTPUT, states, 6));
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_ILLEGAL_PARAM));
  EXPECT_FALSE(NET_IOControl(h, NET_IO_ALARM_INPUT, states, sizeof states));
  // More outputs than the device has: refused by the device, nothing changes.
  NET_IO_STATE three[3] = {{0, 0}, {1, 1}, {2, 1}};
  EXPECT_FALSE(NET_IOControl(h, NET_IO_ALARM_OUTPUT, three, sizeof three));
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_ILLEGAL_PARAM));
  EXPECT_EQ(device->alarm_outputs(), (std::vector<uint16_t>{1, 0}));
}

// A device that misbehaves in the middle of a request: the call fails within its wait, the
// session's connection is closed and the application hears of it once.
TEST_F(NetSdkTest, MisbehavingDeviceFailsTheRequestAndReportsTheDisconnection) {
  struct Case {
    FaultKind kind;
    bool disconnects;
  };
  const Case cases[] = {{FaultKind::drop, true},
                        {FaultKind::garbage, true},
                        {FaultKind::oversized, true},
                        {FaultKind::stall, false}};
  size_t expected = 0;
  for (const auto& c : cases) {
    device->set_fault({});
    int32_t h = login();
    ASSERT_GT(h, 0);
    device->set_fault({c.kind, static_cast<uint16_t>(proto::Type::get_config)});
    uint8_t block[212];
    uint32_t returned = 0;
    EXPECT_FALSE(NET_GetDevConfig(h, NET_DEV_DEVICECFG, -1, block, sizeof block, &returned, 300))
        << static_cast<int>(c.kind);
    EXPECT_EQ(NET_GetLastError(), err(NET_ERR_NETWORK_ERROR)) << static_cast<int>(c.kind);
    if (c.disconnects) {
      ++expected;
      ASSERT_TRUE(seen.wait_for(expected)) << static_cast<int>(c.kind);
      std::lock_guard<std::mutex> hold(seen.lock);
      EXPECT_EQ(seen.handles.back(), h);
      EXPECT_EQ(seen.ports.back(), device->port());
    }
    // Later requests on the handle fail at once; the handle stays until logged out.
    device->set_fault({});
    if (c.disconnects) {
      EXPECT_FALSE(NET_GetDevConfig(h, NET_DEV_DEVICECFG, -1, block, sizeof block, &returned, 3000));
      EXPECT_EQ(NET_GetLastError(), err(NET_ERR_NETWORK_ERROR));
    }
    EXPECT_EQ(NET_Logout(h), 1);
  }
  EXPECT_EQ(seen.count(), expected);
}

TEST_F(NetSdkTest, DroppedConnectionIsReportedOnceAndMayBeLoggedOutFromTheCallback) {
  int32_t a = login();
  int32_t b = login();
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  {
    std::lock_guard<std::mutex> hold(seen.lock);
    seen.logout_from_callback = a;
  }
  device->drop_connections();
  ASSERT_TRUE(seen.wait_for(2));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(seen.count(), 2u);
  EXPECT_EQ(NET_Logout(a), 0);  // already logged out by the callback
  EXPECT_EQ(NET_Logout(b), 1);
}

TEST_F(NetSdkTest, CleanupClosesOpenLogins) {
  ASSERT_GT(login(), 0);
  ASSERT_GT(login(), 0);
  NET_Cleanup();
  for (int i = 0; i < 300 && device->sessions_open() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(device->sessions_open(), 0);
  EXPECT_EQ(seen.count(), 0u);
}

TEST_F(NetSdkTest, ConcurrentCallersShareTheSdk) {
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10; ++i) {
        int32_t e = 0;
        int32_t h = NET_Login("127.0.0.1", device->port(), "admin", "admin", 19, nullptr, nullptr, &e);
        if (h <= 0) {
          ++failures;
          continue;
        }
        NET_DEVICE_CONFIG block;
        uint32_t returned = 0;
        if (!NET_GetDevConfig(h, NET_DEV_DEVICECFG, -1, &block, sizeof block, &returned, 3000)) ++failures;
        if (!NET_Logout(h)) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST(Replies, LoginErrorsMapToTheirLastErrors) {
  EXPECT_EQ(netsdk::login_error_from_status(5), 5);
  EXPECT_EQ(netsdk::login_error_from_status(0x100), NET_LOGIN_MAIN_CONNECTION_FAILED);
  EXPECT_EQ(netsdk::login_error_from_status(11), NET_LOGIN_MAIN_CONNECTION_FAILED);
  EXPECT_EQ(netsdk::last_error_from_login_error(NET_LOGIN_TIMEOUT), NET_ERR_LOGIN_ERROR_TIMEOUT);
  EXPECT_EQ(netsdk::last_error_from_status(proto::status::not_logged_in), NET_ERR_INVALID_HANDLE);
}

TEST(Replies, LongTextsAreCutToTheirFields) {
  proto::LoginReply r;
  r.serial = std::string(64, 'S');
  NET_DEVICEINFO info;
  netsdk::fill_device_info(r, &info);
  EXPECT_EQ(strlen(info.serial), 47u);

  proto::DeviceConfig c;
  c.name = std::string(200, 'N');
  uint8_t block[212];
  ASSERT_TRUE(netsdk::fill_config_block(NET_DEV_DEVICECFG, proto::encode(c), block, sizeof block));
  EXPECT_EQ(strnlen(reinterpret_cast<char*>(block + 149), 40), 31u);
  EXPECT_EQ(block[181], 0);
}

}  // namespace
