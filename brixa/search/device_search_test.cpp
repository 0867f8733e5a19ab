// The LAN device search: the found list and its report, and searches answered by simulated
// devices on an ephemeral discovery port of the loopback broadcast address, in process.
#include "brixa/search/device_search.h"

#include <arpa/inet.h>
#include <cjson/cJSON.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "brixa/api/brixa.h"
#include "devsdk/netsdk/netsdk.h"
#include "sim/device/device.h"

namespace {

using sim::device::Device;
using sim::device::Settings;

NET_DEVICE_SEARCH_INFO record_of(const char* serial, const char* name, int32_t port) {
  NET_DEVICE_SEARCH_INFO r;
  memset(&r, 0, sizeof r);
  r.size = sizeof r;
  strcpy(r.ip, "127.0.0.1");
  r.port = port;
  strcpy(r.serial, serial);
  strcpy(r.name, name);
  strcpy(r.detail_type, "NVR-4");
  r.http_port = 80;
  return r;
}

struct Report {
  std::vector<std::string> ids;
  std::vector<std::string> names;
  std::vector<std::string> ips;
  std::vector<std::string> models;
  std::vector<int> ports;
  std::vector<int> http_ports;
  bool ok = false;
};

Report parse(const std::string& json) {
  Report r;
  cJSON* root = cJSON_Parse(json.c_str());
  if (root == nullptr) return r;
  const cJSON* devices = cJSON_GetObjectItemCaseSensitive(root, "devices");
  r.ok = cJSON_IsArray(devices) && cJSON_GetArraySize(root) == 1;
  const cJSON* d;
  cJSON_ArrayForEach(d, devices) {
    // The members, in this order: id, ip, name, port, http_port, model.
    const char* order[] = {"id", "ip", "name", "port", "http_port", "model"};
    const cJSON* member = d->child;
    for (const char* key : order) {
      r.ok = r.ok && member != nullptr && strcmp(member->string, key) == 0;
      member = member != nullptr ? member->next : nullptr;
    }
    r.ok = r.ok && member == nullptr;
    r.ids.push_back(cJSON_GetObjectItemCaseSensitive(d, "id")->valuestring);
    r.ips.push_back(cJSON_GetObjectItemCaseSensitive(d, "ip")->valuestring);
    r.names.push_back(cJSON_GetObjectItemCaseSensitive(d, "name")->valuestring);
    r.models.push_back(cJSON_GetObjectItemCaseSensitive(d, "model")->valuestring);
    r.ports.push_back(cJSON_GetObjectItemCaseSensitive(d, "port")->valueint);
    r.http_ports.push_back(cJSON_GetObjectItemCaseSensitive(d, "http_port")->valueint);
  }
  cJSON_Delete(root);
  return r;
}

TEST(FoundList, EachSerialOnceNewestFirstAndEmptiedByTheReport) {
  brixa::search::take_report();  // whatever an earlier test left
  struct Case {
    NET_DEVICE_SEARCH_INFO record;
  };
  const NET_DEVICE_SEARCH_INFO answers[] = {
      record_of("SN-1", "Loja", 37777),  record_of("", "Sem serie", 1),  record_of("SN-2", "Doca", 37778),
      record_of("SN-1", "Loja de novo", 2), record_of("SN-3", "Deposito", 37779)};
  for (const auto& a : answers) brixa::search::found_device(&a, 0);
  Report r = parse(brixa::search::take_report());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.ids, (std::vector<std::string>{"SN-3", "SN-2", "SN-1"}));
  EXPECT_EQ(r.names, (std::vector<std::string>{"Deposito", "Doca", "Loja"})) << "the first answer of a serial stays";
  EXPECT_EQ(r.ports, (std::vector<int>{37779, 37778, 37777}));
  EXPECT_EQ(r.http_ports, (std::vector<int>{80, 80, 80}));
  EXPECT_EQ(r.models, (std::vector<std::string>{"NVR-4", "NVR-4", "NVR-4"}));
  EXPECT_EQ(brixa::search::take_report(), "{\"devices\":[]}");
}

TEST(FoundList, UnterminatedTextsAreCutAtTheirFields) {
  brixa::search::take_report();
  NET_DEVICE_SEARCH_INFO r = record_of("x", "y", 1);
  memset(r.serial, 'S', sizeof r.serial);
  memset(r.name, 'N', sizeof r.name);
  memset(r.detail_type, 'M', sizeof r.detail_type);
  memset(r.ip, '1', sizeof r.ip);
  brixa::search::found_device(&r, 0);
  Report report = parse(brixa::search::take_report());
  ASSERT_EQ(report.ids.size(), 1u);
  EXPECT_EQ(report.ids[0], std::string(sizeof r.serial, 'S'));
  EXPECT_EQ(report.names[0], std::string(sizeof r.name, 'N'));
  EXPECT_EQ(report.models[0], std::string(sizeof r.detail_type, 'M'));
  EXPECT_EQ(report.ips[0], std::string(sizeof r.ip, '1'));
}

// Search reports seen by the test client; written on the dispatcher thread.
struct Reports {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::string> seen;

  bool wait_for(size_t count, int ms = 5000) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, std::chrono::milliseconds(ms), [&] { return seen.size() >= count; });
  }
  size_t count() {
    std::lock_guard<std::mutex> hold(lock);
    return seen.size();
  }
  std::string at(size_t i) {
    std::lock_guard<std::mutex> hold(lock);
    return seen.at(i);
  }
};

int record_report(intptr_t user, brixa_handle, int32_t id, intptr_t param1, int32_t param2, const char* info,
                  int32_t len) {
  if (id != BRIXA_CB_CALLBACK_SEARCH_DEVICE) return 0;
  auto* reports = reinterpret_cast<Reports*>(user);
  EXPECT_EQ(param1, 0);
  EXPECT_EQ(param2, 0);
  {
    std::lock_guard<std::mutex> hold(reports->lock);
    reports->seen.emplace_back(info, static_cast<size_t>(len));
  }
  reports->changed.notify_all();
  return 0;
}

// A loopback UDP port nobody listens on now.
uint16_t free_udp_port() {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(fd);
  return ntohs(a.sin_port);
}

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    brixa_init("127.0.0.1", 8000, "key");
    client = brixa_create();
    ASSERT_NE(client, nullptr);
    brixa_cli_attach_callback(client, record_report, reinterpret_cast<intptr_t>(&reports));
  }
  void TearDown() override {
    brixa_cli_detach_callback(client);
    brixa_release(client);
    brixa_uninit();
    devices.clear();
    NET_SetSearchPort(0);
  }

  // A device answering the search; the first one takes an ephemeral discovery port, which the
  // others and the NetSDK then share.
  Device& start_device(const char* dev_id, const char* serial, const char* name) {
    Settings s;
    s.dev_id = dev_id;
    s.serial = serial;
    s.name = name;
    s.model = std::string("M-") + dev_id;
    s.http_port = 8080;
    devices.push_back(std::make_unique<Device>(s));
    Device& d = *devices.back();
    EXPECT_TRUE(d.start());
    uint16_t port = d.answer_search(discovery_port);
    EXPECT_NE(port, 0);
    discovery_port = port;
    NET_SetSearchPort(port);
    return d;
  }

  brixa_handle client = nullptr;
  Reports reports;
  std::vector<std::unique_ptr<Device>> devices;
  uint16_t discovery_port = 0;
};

// Two devices, and a third that repeats the first one's serial number: each serial once.
TEST_F(SearchTest, FindsEachDeviceOnce) {
  Device& a = start_device("KVR-A", "SN-A", "Loja Centro");
  Device& b = start_device("KVR-B", "SN-B", "Doca");
  start_device("KVR-A2", "SN-A", "Loja Centro");
  ASSERT_EQ(brixa_start_search_devices(client), 0);
  ASSERT_TRUE(reports.wait_for(1));
  Report r = parse(reports.at(0));
  ASSERT_TRUE(r.ok) << reports.at(0);
  ASSERT_EQ(r.ids.size(), 2u) << reports.at(0);
  EXPECT_EQ(std::set<std::string>(r.ids.begin(), r.ids.end()), (std::set<std::string>{"SN-A", "SN-B"}));
  for (size_t i = 0; i < r.ids.size(); ++i) {
    bool is_b = r.ids[i] == "SN-B";
    EXPECT_EQ(r.ips[i], "127.0.0.1");
    EXPECT_EQ(r.http_ports[i], 8080);
    if (is_b) {
      EXPECT_EQ(r.names[i], "Doca");
      EXPECT_EQ(r.models[i], "M-KVR-B");
      EXPECT_EQ(r.ports[i], b.port());
    } else {
      EXPECT_EQ(r.names[i], "Loja Centro");
    }
  }
  EXPECT_GE(a.search_responder().answers_sent(), 1);
}

TEST_F(SearchTest, NothingFoundReportsAnEmptyList) {
  NET_SetSearchPort(free_udp_port());
  ASSERT_EQ(brixa_start_search_devices(client), 0);
  ASSERT_TRUE(reports.wait_for(1));
  EXPECT_EQ(reports.at(0), "{\"devices\":[]}");
}

// A finished search stays recorded until it is stopped.
TEST_F(SearchTest, SecondStartWithoutStopIsRefused) {
  start_device("KVR-A", "SN-A", "Loja");
  EXPECT_EQ(brixa_stop_search_devices(), -1) << "nothing recorded yet";
  ASSERT_EQ(brixa_start_search_devices(client), 0);
  EXPECT_EQ(brixa_start_search_devices(client), -1) << "while it collects";
  ASSERT_TRUE(reports.wait_for(1));
  EXPECT_EQ(brixa_start_search_devices(client), -1) << "after its report";
  EXPECT_EQ(brixa_stop_search_devices(), 0);
  EXPECT_EQ(brixa_stop_search_devices(), -1);
  EXPECT_EQ(brixa_start_search_devices(client), 0);
  ASSERT_TRUE(reports.wait_for(2));
}

// A stop while the search collects ends it without a report; what it found so far comes with
// the next report.
TEST_F(SearchTest, StopDuringCollectionCancelsTheReport) {
  Device& a = start_device("KVR-A", "SN-A", "Loja");
  ASSERT_EQ(brixa_start_search_devices(client), 0);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (a.search_responder().answers_sent() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_GE(a.search_responder().answers_sent(), 1);
  ASSERT_EQ(brixa_stop_search_devices(), 0);
  a.stop();  // answers nothing more: the next report holds what the cancelled search found
  ASSERT_EQ(brixa_start_search_devices(client), 0);
  ASSERT_TRUE(reports.wait_for(1));
  Report r = parse(reports.at(0));
  EXPECT_EQ(r.ids, (std::vector<std::string>{"SN-A"}));
  ASSERT_EQ(brixa_stop_search_devices(), 0);
  EXPECT_EQ(reports.count(), 1u) << "the cancelled search posted nothing";
}

// brixa_uninit during a search ends it without a report; a new library starts afresh.
TEST_F(SearchTest, UninitDuringASearch) {
  start_device("KVR-A", "SN-A", "Loja");
  ASSERT_EQ(brixa_start_search_devices(client), 0);
  brixa_cli_detach_callback(client);
  brixa_release(client);
  brixa_uninit();
  EXPECT_EQ(brixa_stop_search_devices(), -1) << "uninit ended and forgot the search";
  brixa_init("127.0.0.1", 8000, "key");
  client = brixa_create();
  brixa_cli_attach_callback(client, record_report, reinterpret_cast<intptr_t>(&reports));
  ASSERT_EQ(brixa_start_search_devices(client), 0);
  ASSERT_TRUE(reports.wait_for(1));
  EXPECT_EQ(parse(reports.at(0)).ids, (std::vector<std::string>{"SN-A"}));
  ASSERT_EQ(brixa_stop_search_devices(), 0);
  EXPECT_EQ(reports.count(), 1u);
}

}  // namespace
