// The cloud account client end to end against the cloud account service simulator.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "brixa/api/brixa.h"
#include "brixa/cloud/cloud_session.h"
#include "brixa/cloud/crypto.h"
#include "brixa/cloud/service_key.h"
#include "brixa/core/client_registry.h"
#include "platform/threads/thread.h"
#include "sim/cloud/cloud_service.h"
#include "sim/cloud/service_crypto.h"
#include "sim/fixture/fixture.h"

namespace {

using namespace std::chrono_literals;
using sim::cloud::Fault;

// Cameras three groups deep, and one at the top.
const char* kFixture = R"({
  "applications": [ { "app_key": "app", "app_pass": "app-pass" } ],
  "accounts": [ {
    "user": "alice", "password": "alice-pw", "devs_sn": 10, "cams_sn": 20,
    "devices": [
      { "dev_id": "KVR-0001", "dev_user": "admin", "dev_pass": "pw-one", "name": "Loja", "channel_count": 3 },
      { "dev_id": "KVR-0002-with-a-rather-long-identifier-of-48-b", "dev_user": "root", "dev_pass": "pw-two" }
    ],
    "cameras": {
      "groups": [ { "name": "A", "groups": [ { "name": "B", "groups": [ { "name": "C",
                    "cams": [ { "id": "deep", "devid": "KVR-0001", "chlid": 2, "dev_pass": "deep-pass" } ] } ],
                    "cams": [ { "id": "mid", "devid": "KVR-0001", "chlid": 1 } ] } ],
                  "cams": [ { "id": "top-group", "devid": "KVR-0001", "chlid": 0 } ] } ],
      "cams": [ { "id": "root", "devid": "KVR-0002-with-a-rather-long-identifier-of-48-b", "chlid": 0 } ]
    }
  } ]
})";

struct Message {
  int32_t id = 0;
  intptr_t param1 = 0;
  int32_t param2 = 0;
  bool has_info = false;
  std::string info;
};

class CallbackLog {
 public:
  static int callback(intptr_t user, brixa_handle, int32_t id, intptr_t param1, int32_t param2, const char* info,
                      int32_t len) {
    auto* self = reinterpret_cast<CallbackLog*>(user);
    Message m{id, param1, param2, len > 0, len > 0 ? std::string(info, static_cast<size_t>(len)) : std::string()};
    if (len > 0) {
      EXPECT_EQ(info[len], 0) << "payload not NUL-terminated";
    }
    {
      std::lock_guard<std::mutex> hold(self->lock_);
      self->messages_.push_back(std::move(m));
    }
    self->arrived_.notify_all();
    return 0;
  }

  // The first `n` messages; fails the test when they do not arrive within 10 s.
  std::vector<Message> wait_for(size_t n) {
    std::unique_lock<std::mutex> hold(lock_);
    bool arrived = arrived_.wait_for(hold, 10s, [&] { return messages_.size() >= n; });
    EXPECT_TRUE(arrived) << "only " << messages_.size() << " of " << n << " callbacks arrived";
    return messages_;
  }

  void clear() {
    std::lock_guard<std::mutex> hold(lock_);
    messages_.clear();
  }

 private:
  std::mutex lock_;
  std::condition_variable arrived_;
  std::vector<Message> messages_;
};

// The IPv4 sockets of this process that are not the service's own (its listener and the
// connections it accepted all have the service's port as their local port): the client's.
// Counting only these keeps the count free of the service closing its side on its own time.
size_t client_sockets(uint16_t service_port) {
  size_t n = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (dirent* entry = readdir(dir)) {
      int fd = std::atoi(entry->d_name);
      if (entry->d_name[0] == '.' || fd == dirfd(dir)) continue;
      sockaddr_in local{};
      socklen_t length = sizeof local;
      if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0 || local.sin_family != AF_INET) continue;
      if (ntohs(local.sin_port) != service_port) ++n;
    }
    closedir(dir);
  }
  return n;
}

Fault fault(Fault::Kind kind, int status = 500, int delay_ms = 0, std::string body = "", std::string method = "") {
  Fault f;
  f.kind = kind;
  f.status = status;
  f.delay_ms = delay_ms;
  f.body = std::move(body);
  f.method = std::move(method);
  return f;
}

cJSON* parse(const std::string& text) { return cJSON_Parse(text.c_str()); }

std::string text_member(const cJSON* object, const char* name) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
  return cJSON_IsString(item) ? item->valuestring : "<missing>";
}

class CloudApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::fixture::Fixture fixture;
    std::string error;
    ASSERT_TRUE(sim::fixture::parse(kFixture, fixture, error)) << error;
    ASSERT_TRUE(service.load_fixture(fixture, error)) << error;
    ASSERT_NE(service.start(), 0);
    brixa_init("127.0.0.1", 0, "");
    client = brixa_create();
    ASSERT_NE(client, nullptr);
    brixa_cli_attach_callback(client, &CallbackLog::callback, reinterpret_cast<intptr_t>(&log));
    ASSERT_EQ(biz_create(client, "app", "app-pass", service.url().c_str(), "alice", "alice-pw", 0), 0);
  }

  void TearDown() override {
    brixa_cli_detach_callback(client);
    brixa_release(client);
    brixa_uninit();
    service.stop();
  }

  // Short time limits so time-out cases end quickly.
  void shorten_timing() {
    brixa::with_client(client, [](brixa_client* c) {
      auto session = brixa::cloud::current_session(c);
      session->timing.header_slice_ms = 20;
      session->timing.header_first_slices = 25;
      session->timing.header_next_slices = 25;
      session->timing.body_slice_ms = 20;
      session->timing.body_slices = 25;
      return 0;
    });
  }

  sim::cloud::CloudService service;
  brixa_handle client = nullptr;
  CallbackLog log;
};

TEST(CloudKey, LibraryModulusIsTheServiceKeys) {
  EXPECT_EQ(sim::cloud::service_key().modulus_hex(), brixa::cloud::kServiceModulusHex);
}

TEST(CloudKey, RsaRoundTripThroughTheServicePrivateKey) {
  for (std::string text : {std::string("hello"), std::string(""), std::string(53, 'z'), brixa::cloud::make_session_key()}) {
    auto block = brixa::cloud::rsa_encrypt(text);
    ASSERT_TRUE(block.has_value()) << text;
    std::string encoded = brixa::cloud::base64_encode(block->data(), block->size());
    EXPECT_EQ(encoded.size(), 88u);
    auto plain = sim::cloud::service_key().decrypt_base64(encoded);
    ASSERT_TRUE(plain.has_value()) << text;
    EXPECT_EQ(*plain, text);
  }
  EXPECT_FALSE(brixa::cloud::rsa_encrypt(std::string(54, 'z')).has_value());
}

TEST(CloudFrame, ResultsWithoutLibraryOrClient) {
  // No registry: -2. (Tests of this binary uninitialise the library when they end.)
  EXPECT_EQ(biz_get_list_sn(nullptr), BRIXA_ERR_NOT_INITIALISED);
  EXPECT_EQ(biz_create(nullptr, "a", "b", "http://127.0.0.1:1/", "u", "p", 0), BRIXA_ERR_NOT_INITIALISED);
  brixa_init("127.0.0.1", 0, "");
  int not_a_client = 0;
  auto* unknown = reinterpret_cast<brixa_handle>(&not_a_client);
  EXPECT_EQ(biz_get_list(nullptr), BRIXA_ERR_FAILED);
  EXPECT_EQ(biz_get_list(unknown), BRIXA_ERR_FAILED);
  EXPECT_EQ(biz_set_cam_list(unknown, "{}"), BRIXA_ERR_FAILED);
  EXPECT_EQ(biz_release(unknown), BRIXA_ERR_FAILED);
  brixa_uninit();
}

TEST_F(CloudApiTest, GetListReportsSerialsDevicesAndCamerasInOrder) {
  EXPECT_EQ(biz_get_list(client), 200);
  auto m = log.wait_for(3);
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].id, BRIXA_CB_CALLBACK_BIZ_GET_LIST_SN);
  EXPECT_EQ(m[1].id, BRIXA_CB_CALLBACK_BIZ_GET_DEVLIST);
  EXPECT_EQ(m[2].id, BRIXA_CB_CALLBACK_BIZ_GET_CAMLIST);
  for (const Message& msg : m) {
    EXPECT_EQ(msg.param1, 0);
    EXPECT_EQ(msg.param2, 0);
    EXPECT_TRUE(msg.has_info);
  }
  EXPECT_EQ(m[0].info, R"({"devs_sn":10,"cams_sn":20})");

  // Device list: secrets in clear, each moved to the end of its element, printed with formatting.
  cJSON* devices = parse(m[1].info);
  ASSERT_NE(devices, nullptr);
  EXPECT_NE(m[1].info.find("\n\t"), std::string::npos);
  cJSON* devs = cJSON_GetObjectItemCaseSensitive(devices, "devs");
  ASSERT_EQ(cJSON_GetArraySize(devs), 2);
  cJSON* first = cJSON_GetArrayItem(devs, 0);
  EXPECT_EQ(text_member(first, "dev_id"), "KVR-0001");
  EXPECT_EQ(text_member(first, "dev_user"), "admin");
  EXPECT_EQ(text_member(first, "dev_pass"), "pw-one");
  EXPECT_EQ(text_member(first, "name"), "Loja");
  int n = cJSON_GetArraySize(first);
  EXPECT_STREQ(cJSON_GetArrayItem(first, n - 3)->string, "dev_id");
  EXPECT_STREQ(cJSON_GetArrayItem(first, n - 2)->string, "dev_user");
  EXPECT_STREQ(cJSON_GetArrayItem(first, n - 1)->string, "dev_pass");
  cJSON* channels = cJSON_GetObjectItemCaseSensitive(first, "channels");
  ASSERT_EQ(cJSON_GetArraySize(channels), 3);
  EXPECT_STREQ(cJSON_GetArrayItem(channels, 2)->valuestring, "deep");
  EXPECT_EQ(text_member(cJSON_GetArrayItem(devs, 1), "dev_id"), "KVR-0002-with-a-rather-long-identifier-of-48-b");
  cJSON_Delete(devices);

  // Camera list: every depth decrypted.
  cJSON* cameras = parse(m[2].info);
  ASSERT_NE(cameras, nullptr);
  cJSON* a = cJSON_GetArrayItem(cJSON_GetObjectItemCaseSensitive(cameras, "groups"), 0);
  cJSON* b = cJSON_GetArrayItem(cJSON_GetObjectItemCaseSensitive(a, "groups"), 0);
  cJSON* c = cJSON_GetArrayItem(cJSON_GetObjectItemCaseSensitive(b, "groups"), 0);
  EXPECT_EQ(text_member(c, "name"), "C");
  struct Expected {
    cJSON* node;
    const char* id;
    const char* devid;
    const char* dev_pass;
  } expected[] = {
      {a, "top-group", "KVR-0001", "pw-one"},
      {b, "mid", "KVR-0001", "pw-one"},
      {c, "deep", "KVR-0001", "deep-pass"},
      {cameras, "root", "KVR-0002-with-a-rather-long-identifier-of-48-b", "pw-two"},
  };
  for (const Expected& e : expected) {
    cJSON* cam = cJSON_GetArrayItem(cJSON_GetObjectItemCaseSensitive(e.node, "cams"), 0);
    EXPECT_EQ(text_member(cam, "id"), e.id);
    EXPECT_EQ(text_member(cam, "devid"), e.devid) << e.id;
    EXPECT_EQ(text_member(cam, "dev_pass"), e.dev_pass) << e.id;
  }
  cJSON_Delete(cameras);

  // What travelled: secrets were encrypted on the wire, the password and app pass never.
  auto requests = service.requests();
  ASSERT_EQ(requests.size(), 3u);
  for (const auto& r : requests) {
    EXPECT_EQ(r.body.find("alice-pw"), std::string::npos);
    EXPECT_EQ(r.body.find("app-pass"), std::string::npos);
    EXPECT_EQ(r.status, 200);
  }
}

TEST_F(CloudApiTest, ListOutcomesFromTheReply) {
  struct Case {
    const char* name;
    Fault fault;
    int32_t result;
    int32_t param2;
    const char* payload;  // null: no payload
  } cases[] = {
      {"404", fault(Fault::Kind::kStatus, 404), 404, 404, nullptr},
      {"not JSON", fault(Fault::Kind::kNotJson), 200, -1, nullptr},
      {"no devs", fault(Fault::Kind::kBody, 200, 0, R"({"other":[1]})"), 200, 0, "{\n\t\"other\":\t[1]\n}"},
      {"devs not an array", fault(Fault::Kind::kBody, 200, 0, R"({"devs":7})"), 200, 0, "{\n\t\"devs\":\t7\n}"},
  };
  for (const Case& c : cases) {
    service.clear_faults();
    service.add_fault(c.fault);
    log.clear();
    EXPECT_EQ(biz_get_device_list(client), c.result) << c.name;
    auto m = log.wait_for(1);
    ASSERT_EQ(m.size(), 1u) << c.name;
    EXPECT_EQ(m[0].id, BRIXA_CB_CALLBACK_BIZ_GET_DEVLIST) << c.name;
    EXPECT_EQ(m[0].param2, c.param2) << c.name;
    EXPECT_EQ(m[0].has_info, c.payload != nullptr) << c.name;
    if (c.payload != nullptr) {
      EXPECT_EQ(m[0].info, c.payload) << c.name;
    }
  }
}

TEST_F(CloudApiTest, GetListGoesOnAfterAFailedStep) {
  service.add_fault(fault(Fault::Kind::kStatus, 500, 0, "", "c2s.get_list_sn_sp"));
  service.add_fault(fault(Fault::Kind::kClose, 0, 0, "", "c2s.get_dev_list_sp"));
  EXPECT_EQ(biz_get_list(client), 200);
  auto m = log.wait_for(3);
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].id, BRIXA_CB_CALLBACK_BIZ_GET_LIST_SN);
  EXPECT_EQ(m[0].param2, 500);
  EXPECT_FALSE(m[0].has_info);
  EXPECT_EQ(m[1].id, BRIXA_CB_CALLBACK_BIZ_GET_DEVLIST);
  EXPECT_EQ(m[1].param2, BRIXA_ERR_CLOUD_TRANSPORT);
  EXPECT_FALSE(m[1].has_info);
  EXPECT_EQ(m[2].id, BRIXA_CB_CALLBACK_BIZ_GET_CAMLIST);
  EXPECT_EQ(m[2].param2, 0);
}

TEST_F(CloudApiTest, WrongPasswordIsRefusedByTheService) {
  ASSERT_EQ(biz_create(client, "app", "app-pass", service.url().c_str(), "alice", "not-alice", 0), 0);
  EXPECT_EQ(biz_get_list(client), 401);
  auto m = log.wait_for(3);
  for (const Message& msg : m) {
    EXPECT_EQ(msg.param2, 401);
    EXPECT_FALSE(msg.has_info);
  }
}

TEST_F(CloudApiTest, WithoutSessionNothingIsSent) {
  ASSERT_EQ(biz_create(client, "app", "app-pass", "127.0.0.1:1/", "alice", "alice-pw", 0), 0);
  EXPECT_EQ(biz_get_list(client), -1);
  EXPECT_EQ(biz_set_device_list(client, 1, R"({"devs":[]})"), -1);
  EXPECT_EQ(biz_set_cam_list(client, R"({"cams":[]})"), -1);
  auto m = log.wait_for(5);
  int32_t ids[] = {513, 514, 515, 516, 517};
  ASSERT_EQ(m.size(), 5u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(m[i].id, ids[i]);
    EXPECT_EQ(m[i].param2, -1);
    EXPECT_FALSE(m[i].has_info);
  }
  EXPECT_EQ(biz_release(client), 0);
  EXPECT_EQ(biz_get_list_sn(client), -1);
  EXPECT_TRUE(service.requests().empty());
}

TEST_F(CloudApiTest, SetCameraListSendsNoSerialsAndBumpsTheCameraSerial) {
  const char* cams = R"({"cams":[
      {"dev_pass":"pw-one","dev_user":"admin","devid":"KVR-0001","id":"top-group","name":"Frente","shared":"true",
       "ptz":0,"state":1,"chlid":0,"type":1,"sn":20},
      {"dev_pass":"pw-one","dev_user":"admin","devid":"KVR-0001","id":"mid","name":"Meio","shared":"false",
       "ptz":0,"state":1,"chlid":1,"type":1,"sn":20}]})";
  EXPECT_EQ(biz_set_cam_list(client, cams), 200);
  auto m = log.wait_for(1);
  EXPECT_EQ(m[0].id, BRIXA_CB_CALLBACK_BIZ_SET_CAMLIST);
  EXPECT_EQ(m[0].param2, 0);
  EXPECT_EQ(m[0].info, R"({"sn":21})");

  auto requests = service.requests();
  ASSERT_EQ(requests.size(), 1u);
  cJSON* request = parse(requests[0].body);
  EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(request, "update_sn"), nullptr);
  cJSON* content = parse(text_member(request, "content"));
  ASSERT_NE(content, nullptr);
  cJSON* cam_array = cJSON_GetObjectItemCaseSensitive(content, "cams");
  for (cJSON* cam = cam_array->child; cam != nullptr; cam = cam->next) {
    EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(cam, "sn"), nullptr);
    std::string devid = text_member(cam, "devid");
    EXPECT_EQ(devid.size(), 88u);
    EXPECT_EQ(sim::cloud::service_key().decrypt_base64(devid).value_or(""), "KVR-0001");
    EXPECT_EQ(sim::cloud::service_key().decrypt_base64(text_member(cam, "dev_pass")).value_or(""), "pw-one");
  }
  cJSON_Delete(content);
  cJSON_Delete(request);

  log.clear();
  EXPECT_EQ(biz_get_list_sn(client), 200);
  EXPECT_EQ(log.wait_for(1)[0].info, R"({"devs_sn":10,"cams_sn":21})");
}

TEST_F(CloudApiTest, SetDeviceListRoundTrips) {
  const char* devs = R"({"devs":[{"channels":["x"],"vendor":"v","dev_pass":"new-pass","dev_user":"new-user",
      "name":"Nova","dev_id":"KVR-9999","model":"m","dev_port":37777,"dev_http_port":80,"status_sp":3}]})";
  EXPECT_EQ(biz_set_device_list(client, 1, devs), 200);
  auto m = log.wait_for(1);
  EXPECT_EQ(m[0].id, BRIXA_CB_CALLBACK_BIZ_SET_DEVLIST);
  EXPECT_EQ(m[0].info, R"({"sn":11})");
  cJSON* request = parse(service.requests()[0].body);
  EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(request, "update_sn")->valueint, 1);
  cJSON_Delete(request);

  log.clear();
  EXPECT_EQ(biz_get_device_list(client), 200);
  cJSON* list = parse(log.wait_for(1)[0].info);
  cJSON* dev = cJSON_GetArrayItem(cJSON_GetObjectItemCaseSensitive(list, "devs"), 0);
  EXPECT_EQ(text_member(dev, "dev_id"), "KVR-9999");
  EXPECT_EQ(text_member(dev, "dev_user"), "new-user");
  EXPECT_EQ(text_member(dev, "dev_pass"), "new-pass");
  EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(dev, "status_sp")->valueint, 3);
  cJSON_Delete(list);
}

TEST_F(CloudApiTest, SetRequestsThatCannotBeBuiltAreRefused) {
  std::string long_pass(54, 'p');
  std::string at_limit(53, 'p');
  struct Case {
    bool cameras;
    std::string list;
    int32_t result;
  } cases[] = {
      {false, "not json", -1},
      {true, "{\"cams\": [", -1},
      {false, R"({"devs":[{"dev_id":"A","dev_pass":")" + long_pass + "\"}]}", -1},
      {true, R"({"groups":[{"cams":[{"id":"c","devid":"A","dev_user":")" + long_pass + "\"}]}]}", -1},
      {false, R"({"devs":[{"dev_id":5}]})", -1},
      {false, R"({"devs":[{"dev_id":"A","dev_pass":")" + at_limit + "\"}]}", 200},
  };
  for (const Case& c : cases) {
    log.clear();
    service.clear_requests();
    int32_t result = c.cameras ? biz_set_cam_list(client, c.list.c_str()) : biz_set_device_list(client, 0, c.list.c_str());
    EXPECT_EQ(result, c.result) << c.list;
    auto m = log.wait_for(1);
    EXPECT_EQ(m[0].id, c.cameras ? BRIXA_CB_CALLBACK_BIZ_SET_CAMLIST : BRIXA_CB_CALLBACK_BIZ_SET_DEVLIST);
    EXPECT_EQ(m[0].param2, c.result == 200 ? 0 : -1) << c.list;
    EXPECT_EQ(service.requests().size(), c.result == 200 ? 1u : 0u) << c.list;
  }
  EXPECT_EQ(biz_set_cam_list(client, nullptr), -1);
}

TEST_F(CloudApiTest, TransportFaultsGiveTheirCodeAndLeaveNoSocket) {
  shorten_timing();
  struct Case {
    const char* name;
    Fault fault;
    int32_t result;
    int32_t param2;
  } cases[] = {
      {"closed connection", fault(Fault::Kind::kClose), BRIXA_ERR_CLOUD_TRANSPORT, BRIXA_ERR_CLOUD_TRANSPORT},
      {"header over 1024 bytes", fault(Fault::Kind::kLongHeader), BRIXA_ERR_CLOUD_TRANSPORT, BRIXA_ERR_CLOUD_TRANSPORT},
      {"no header in time", fault(Fault::Kind::kDelay, 0, 1500), BRIXA_ERR_CLOUD_NO_HEADER, BRIXA_ERR_CLOUD_NO_HEADER},
      {"bad status line", fault(Fault::Kind::kBadStatusLine), BRIXA_ERR_CLOUD_STATUS, BRIXA_ERR_CLOUD_STATUS},
      {"body cut short", fault(Fault::Kind::kShortBody), BRIXA_ERR_CLOUD_BODY, BRIXA_ERR_CLOUD_BODY},
      // Read as a reply without body: the list is not JSON.
      {"lower-case content-length", fault(Fault::Kind::kLowercaseLength), 200, -1},
      // The body read gives up on silence and keeps the half that came: not JSON either.
      {"stalled body", fault(Fault::Kind::kStallBody), 200, -1},
      {"slow but in time", fault(Fault::Kind::kDelay, 0, 50), 200, 0},
  };
  const size_t baseline = client_sockets(service.port());
  for (const Case& c : cases) {
    service.clear_faults();
    service.add_fault(c.fault);
    log.clear();
    EXPECT_EQ(biz_get_device_list(client), c.result) << c.name;
    auto m = log.wait_for(1);
    EXPECT_EQ(m[0].param2, c.param2) << c.name;
    EXPECT_EQ(m[0].has_info, c.param2 == 0) << c.name;
    brixa::with_client(client, [&](brixa_client* cl) {
      EXPECT_FALSE(brixa::cloud::current_session(cl)->has_socket()) << c.name;
      return 0;
    });
    // The session lets go of its socket with its last user, which may be a moment after the
    // call returned; wait for that, bounded.
    auto deadline = std::chrono::steady_clock::now() + 3s;
    while (client_sockets(service.port()) > baseline && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(10ms);
    EXPECT_EQ(client_sockets(service.port()), baseline) << c.name;
  }
}

TEST_F(CloudApiTest, ConnectionRefusedAndUnresolvableHost) {
  service.stop();  // nothing listens on the port any more
  // The stopped service's port, a port where nothing listens, and a URL without a host name.
  for (std::string url : {service.url(), std::string("http://127.0.0.1:1/"), std::string("http://:80/")}) {
    ASSERT_EQ(biz_create(client, "app", "app-pass", url.c_str(), "alice", "alice-pw", 0), 0);
    log.clear();
    EXPECT_EQ(biz_get_list_sn(client), BRIXA_ERR_CLOUD_TRANSPORT) << url;
    EXPECT_EQ(log.wait_for(1)[0].param2, BRIXA_ERR_CLOUD_TRANSPORT) << url;
  }
}

TEST_F(CloudApiTest, ConcurrentCallsOnOneClientStayApart) {
  std::atomic<int> failures{0};
  std::atomic<bool> done{false};
  auto fetch = [&] {
    for (int i = 0; i < 15; ++i)
      if (biz_get_device_list(client) != 200) ++failures;
  };
  std::thread a(fetch);
  std::thread b(fetch);
  std::thread c([&] {
    for (int i = 0; i < 15; ++i)
      if (biz_get_list_sn(client) != 200) ++failures;
  });
  // Replacing the session meanwhile must not disturb exchanges in flight.
  std::thread replace([&] {
    while (!done.load()) {
      biz_create(client, "app", "app-pass", service.url().c_str(), "alice", "alice-pw", 0);
      std::this_thread::sleep_for(2ms);
    }
  });
  a.join();
  b.join();
  c.join();
  done.store(true);
  replace.join();
  EXPECT_EQ(failures.load(), 0);
  auto m = log.wait_for(45);
  for (const Message& msg : m) EXPECT_EQ(msg.param2, 0);
}

// Runs `call` on a thread of its own and reports whether it returned within `limit`; a call that
// does not is handed to the abandoned-thread list, so the test fails instead of hanging.
template <class Fn>
bool returns_within(std::chrono::milliseconds limit, Fn call) {
  platform::Thread caller(call);
  return caller.join_within(static_cast<uint32_t>(limit.count())) == platform::Thread::End::joined;
}

// A call whose service never answers, on a thread of its own.
class StalledCall {
 public:
  explicit StalledCall(sim::cloud::CloudService& service, brixa_handle client) {
    service.clear_requests();
    service.add_fault(fault(Fault::Kind::kDelay, 0, 600000));
    thread_ = platform::Thread([this, client] { result_ = biz_get_list_sn(client); });
    auto until = std::chrono::steady_clock::now() + 10s;
    while (service.requests().empty() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(2ms);
    in_flight_ = !service.requests().empty();
  }
  // The request reached the service, whose answer now stalls.
  bool in_flight() const { return in_flight_; }
  // Waits (bounded) for the call to end; its result, or 1 when it has not ended.
  int32_t end_within(std::chrono::milliseconds limit) {
    if (thread_.join_within(static_cast<uint32_t>(limit.count())) != platform::Thread::End::joined) return 1;
    return result_.load();
  }

 private:
  std::atomic<int32_t> result_{1};
  bool in_flight_ = false;
  platform::Thread thread_;
};

TEST_F(CloudApiTest, EveryReleaseCancelsAStalledCallAndReturnsWithinItsBound) {
  struct Case {
    const char* name;
    void (*release)(brixa_handle);
  } cases[] = {
      {"biz_release", [](brixa_handle c) { biz_release(c); }},
      {"brixa_release", [](brixa_handle c) { brixa_release(c); }},
      {"brixa_uninit", [](brixa_handle) { brixa_uninit(); }},
  };
  for (const Case& c : cases) {
    StalledCall call(service, client);
    ASSERT_TRUE(call.in_flight()) << c.name;
    EXPECT_TRUE(returns_within(5s, [&] { c.release(client); })) << c.name << " waited for the stalled service";
    EXPECT_EQ(call.end_within(5s), BRIXA_ERR_CLOUD_TRANSPORT) << c.name << ": the call was not cancelled";
    service.clear_faults();
    // A fresh start for the next case.
    brixa_release(client);
    brixa_init("127.0.0.1", 0, "");
    client = brixa_create();
    brixa_cli_attach_callback(client, &CallbackLog::callback, reinterpret_cast<intptr_t>(&log));
    ASSERT_EQ(biz_create(client, "app", "app-pass", service.url().c_str(), "alice", "alice-pw", 0), 0);
  }
}

TEST_F(CloudApiTest, ReleasingTheClientFreesItsSession) {
  // brixa_release frees the session (the leak checker of the sanitizer build watches this);
  // later calls see an unknown handle.
  brixa_cli_detach_callback(client);
  brixa_release(client);
  EXPECT_EQ(biz_get_list_sn(client), BRIXA_ERR_FAILED);
  client = brixa_create();
}

}  // namespace
