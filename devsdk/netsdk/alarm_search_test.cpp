// The NetSDK's alarm listening and LAN device search against the device simulator, in process
// on loopback ports.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/netsdk_testing.h"
#include "devsdk/proto/alarms.h"
#include "sim/device/device.h"

namespace {

using sim::device::Device;
using sim::device::Settings;

struct Message {
  int32_t command;
  int32_t login;
  std::vector<uint8_t> body;
  std::string ip;
  int32_t port;
};

// Messages seen by the callback; written on the SDK's alarm thread.
struct Messages {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<Message> seen;
  int32_t stop_listen_from_callback = 0;  // a login the callback stops listening on itself

  bool wait_for(size_t count, int ms = 5000) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, std::chrono::milliseconds(ms), [&] { return seen.size() >= count; });
  }
  Message at(size_t i) {
    std::lock_guard<std::mutex> hold(lock);
    return seen.at(i);
  }
};

NET_BOOL on_message(int32_t command, int32_t login, const char* body, uint32_t length, const char* ip, int32_t port,
                    intptr_t user) {
  auto* m = reinterpret_cast<Messages*>(user);
  int32_t stop;
  {
    std::lock_guard<std::mutex> hold(m->lock);
    m->seen.push_back({command, login, std::vector<uint8_t>(body, body + length), ip, port});
    stop = m->stop_listen_from_callback;
  }
  // Any NetSDK call may be made from the callback: it does not run on a connection's reader.
  if (stop == login) {
    EXPECT_EQ(NET_StopListen(login), 1);
  }
  m->changed.notify_all();
  return 1;
}

class AlarmListeningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings s;
    s.channels = 4;
    s.alarm_inputs = {0, 0, 0, 0, 0, 0};
    device = std::make_unique<Device>(s);
    ASSERT_TRUE(device->start());
    ASSERT_EQ(NET_Init(nullptr, 0), 1);
    NET_SetMessageCallback(on_message, reinterpret_cast<intptr_t>(&messages));
    int32_t error = 0;
    login = NET_Login("127.0.0.1", device->port(), "admin", "admin", NET_LOGIN_MODE_TCP, nullptr, nullptr, &error);
    ASSERT_GT(login, 0);
  }
  void TearDown() override {
    NET_Cleanup();
    NET_SetMessageCallback(nullptr, 0);
    device.reset();
  }

  std::unique_ptr<Device> device;
  Messages messages;
  int32_t login = 0;
};

// Each message carries the kind's state on every channel (every alarm input for inputs).
TEST_F(AlarmListeningTest, MessagesCarryTheStateOfEveryChannel) {
  ASSERT_EQ(NET_StartListenEx(login), 1);
  struct Case {
    uint32_t kind;
    int32_t channel;
    bool on;
    std::vector<uint8_t> body;
  };
  const Case cases[] = {
      {NET_ALARM_MOTION, 2, true, {0, 0, 1, 0}},
      {NET_ALARM_MOTION, 0, true, {1, 0, 1, 0}},
      {NET_ALARM_MOTION, 2, false, {1, 0, 0, 0}},
      {NET_ALARM_INPUT, 5, true, {0, 0, 0, 0, 0, 1}},
      {NET_ALARM_AUDIO, 1, true, {0, 1, 0, 0}},
      {NET_ALARM_DISK_ERROR, 6, true, {0, 0, 0, 0, 0, 0, 1}},  // beyond the channels: grows
  };
  size_t n = 0;
  for (const Case& c : cases) {
    device->raise_alarm(c.kind, c.channel, c.on);
    ASSERT_TRUE(messages.wait_for(++n));
    Message m = messages.at(n - 1);
    EXPECT_EQ(m.command, static_cast<int32_t>(c.kind));
    EXPECT_EQ(m.login, login);
    EXPECT_EQ(m.body, c.body) << "kind " << c.kind << " channel " << c.channel;
    EXPECT_EQ(m.ip, "127.0.0.1");
    EXPECT_EQ(m.port, device->port());
  }
}

TEST_F(AlarmListeningTest, AlarmsOnWhenListeningStartsAreReported) {
  device->raise_alarm(NET_ALARM_VIDEO_LOSS, 3, true);
  device->set_alarm_input(1, 1);
  ASSERT_EQ(NET_StartListenEx(login), 1);
  ASSERT_TRUE(messages.wait_for(2));
  std::vector<int32_t> commands = {messages.at(0).command, messages.at(1).command};
  std::sort(commands.begin(), commands.end());
  EXPECT_EQ(commands, (std::vector<int32_t>{NET_ALARM_INPUT, NET_ALARM_VIDEO_LOSS}));
}

TEST_F(AlarmListeningTest, StopListenAndLogoutEndTheDevicesReports) {
  ASSERT_EQ(NET_StartListenEx(login), 1);
  ASSERT_EQ(NET_StartListenEx(login), 1) << "twice is harmless";
  EXPECT_EQ(device->alarms().subscribers(), 1u);
  ASSERT_EQ(NET_StopListen(login), 1);
  EXPECT_EQ(device->alarms().subscribers(), 0u);
  EXPECT_EQ(NET_StopListen(login), 1) << "not listening is no failure";
  ASSERT_EQ(NET_StartListenEx(login), 1);
  ASSERT_EQ(NET_Logout(login), 1);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (device->alarms().subscribers() != 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(device->alarms().subscribers(), 0u);
  EXPECT_EQ(NET_StartListenEx(login), 0);
  EXPECT_EQ(NET_GetLastError(), NET_ERROR_BASE | NET_ERR_INVALID_HANDLE);
  EXPECT_EQ(NET_StopListen(login), 0);
}

TEST_F(AlarmListeningTest, CallbackMayStopListening) {
  {
    std::lock_guard<std::mutex> hold(messages.lock);
    messages.stop_listen_from_callback = login;
  }
  ASSERT_EQ(NET_StartListenEx(login), 1);
  device->raise_alarm(NET_ALARM_MOTION, 0, true);
  ASSERT_TRUE(messages.wait_for(1));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (device->alarms().subscribers() != 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(device->alarms().subscribers(), 0u);
}

TEST_F(AlarmListeningTest, DeviceThatRefuses) {
  device->set_fault({sim::device::FaultKind::refuse, static_cast<uint16_t>(proto::Type::alarm_subscribe)});
  EXPECT_EQ(NET_StartListenEx(login), 0);
  EXPECT_EQ(NET_GetLastError(), NET_ERROR_BASE | NET_ERR_NOT_SUPPORTED);
  device->set_fault({});
  EXPECT_EQ(NET_StartListenEx(login), 1);
}

// ---- LAN device search ----

struct Found {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<NET_DEVICE_SEARCH_INFO> records;
  int32_t stop_from_callback = 0;  // a search the callback stops itself
  bool stopped_itself = false;

  bool wait_for(size_t count, int ms = 5000) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, std::chrono::milliseconds(ms), [&] { return records.size() >= count; });
  }
  bool wait_stopped_itself(int ms = 5000) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, std::chrono::milliseconds(ms), [&] { return stopped_itself; });
  }
  size_t count() {
    std::lock_guard<std::mutex> hold(lock);
    return records.size();
  }
};

void on_found(const NET_DEVICE_SEARCH_INFO* info, intptr_t user) {
  auto* f = reinterpret_cast<Found*>(user);
  int32_t stop;
  {
    std::lock_guard<std::mutex> hold(f->lock);
    f->records.push_back(*info);
    stop = f->stopped_itself ? 0 : f->stop_from_callback;
  }
  if (stop != 0) {
    EXPECT_EQ(NET_StopSearchDevices(stop), 1);
    std::lock_guard<std::mutex> hold(f->lock);
    f->stopped_itself = true;
  }
  f->changed.notify_all();
}

template <class T>
T at_offset(const NET_DEVICE_SEARCH_INFO& r, size_t offset) {
  T value;
  memcpy(&value, reinterpret_cast<const uint8_t*>(&r) + offset, sizeof value);
  return value;
}

std::string text_at(const NET_DEVICE_SEARCH_INFO& r, size_t offset) {
  return reinterpret_cast<const char*>(&r) + offset;
}

class DeviceSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings s;
    s.dev_id = "KVR-S1";
    s.serial = "SN-S1";
    s.name = "Loja Centro";
    s.model = "NVR-4";
    s.http_port = 8080;
    device = std::make_unique<Device>(s);
    ASSERT_TRUE(device->start());
    port = device->answer_search(0);
    ASSERT_NE(port, 0);
    NET_SetSearchPort(port);
  }
  void TearDown() override {
    NET_Cleanup();
    NET_SetSearchPort(0);
    device.reset();
  }

  std::unique_ptr<Device> device;
  uint16_t port = 0;
  Found found;
};

// The record carries the device at the offsets applications read it by.
TEST_F(DeviceSearchTest, AnswersArriveAsSearchRecords) {
  int32_t search = NET_StartSearchDevices(on_found, reinterpret_cast<intptr_t>(&found), nullptr);
  ASSERT_GT(search, 0);
  ASSERT_TRUE(found.wait_for(1));
  ASSERT_EQ(NET_StopSearchDevices(search), 1);
  size_t seen = found.count();
  EXPECT_EQ(NET_StopSearchDevices(search), 0);
  const NET_DEVICE_SEARCH_INFO r = found.records[0];
  EXPECT_EQ(at_offset<uint32_t>(r, 0), 1052u);
  EXPECT_EQ(text_at(r, 4), "127.0.0.1");
  EXPECT_EQ(at_offset<int32_t>(r, 68), device->port());
  EXPECT_EQ(text_at(r, 364), "SN-S1");
  EXPECT_EQ(text_at(r, 540), "NVR-4");
  EXPECT_EQ(text_at(r, 700), "Loja Centro");
  EXPECT_EQ(at_offset<uint16_t>(r, 796), 8080);
  EXPECT_EQ(found.count(), seen) << "no callback after the stop returned";
}

TEST_F(DeviceSearchTest, RequestsRepeatWhileTheSearchRuns) {
  int32_t search = NET_StartSearchDevices(on_found, reinterpret_cast<intptr_t>(&found), "127.0.0.1");
  ASSERT_GT(search, 0);
  EXPECT_TRUE(found.wait_for(2, 5000)) << "a second request a second later";
  EXPECT_EQ(NET_StopSearchDevices(search), 1);
}

TEST_F(DeviceSearchTest, OnlyLoopbackAddressesSearch) {
  for (const char* address : {"10.0.0.1", "0.0.0.0", "192.168.1.2", "not an address"}) {
    EXPECT_EQ(NET_StartSearchDevices(on_found, 0, address), 0) << address;
    EXPECT_EQ(NET_GetLastError(), NET_ERROR_BASE | NET_ERR_ILLEGAL_PARAM) << address;
  }
  EXPECT_EQ(NET_StartSearchDevices(nullptr, 0, nullptr), 0);
}

// A search stopped from its own callback ends; the cleanup joins it.
TEST_F(DeviceSearchTest, CallbackMayStopItsSearch) {
  int32_t search = NET_StartSearchDevices(on_found, reinterpret_cast<intptr_t>(&found), nullptr);
  ASSERT_GT(search, 0);
  {
    std::lock_guard<std::mutex> hold(found.lock);
    found.stop_from_callback = search;
  }
  ASSERT_TRUE(found.wait_stopped_itself());
  EXPECT_EQ(NET_StopSearchDevices(search), 0) << "already stopped by its callback";
}

}  // namespace
