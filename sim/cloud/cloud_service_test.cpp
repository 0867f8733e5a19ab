#include "sim/cloud/cloud_service.h"

#include <gtest/gtest.h>

#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <string>

#include "sim/cloud/service_crypto.h"

namespace sim::cloud {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

const char* kFixture = R"({
  "applications": [ { "app_key": "app", "app_pass": "app-pass" } ],
  "accounts": [ {
    "user": "alice", "password": "alice-pw", "devs_sn": 10, "cams_sn": 20,
    "devices": [ { "dev_id": "D1", "channel_count": 2 } ],
    "cameras": {
      "groups": [ { "name": "G", "cams": [ { "id": "c0", "devid": "D1", "chlid": 0, "onvif_port": 8899 } ] } ],
      "cams": [ { "id": "c1", "devid": "D1", "chlid": 1 } ]
    }
  } ]
})";

struct Reply {
  int status = 0;
  std::string body;
};

// A minimal signed client, independent of the library's.
Reply post(uint16_t port, const std::string& body) {
  asio::io_context io;
  tcp::socket socket(io);
  socket.connect({asio::ip::make_address("127.0.0.1"), port});
  http::request<http::string_body> req{http::verb::post, "/", 11};
  req.set(http::field::host, "127.0.0.1");
  req.body() = body;
  req.prepare_payload();
  http::write(socket, req);
  beast::flat_buffer buffer;
  http::response<http::string_body> res;
  http::read(socket, buffer, res);
  return {static_cast<int>(res.result_int()), res.body()};
}

std::string signed_request(const std::string& msg, const std::string& app_key, const std::string& app_pass,
                           const std::string& user, const std::string& password, const std::string& extra_member = "",
                           const std::string& extra_text = "", const std::string& ts = "1700000000") {
  std::string text = msg + "|" + app_key + "|" + ts + "|" + app_pass + "|" + md5_hex(password);
  if (!extra_text.empty()) text += "|" + extra_text;
  return R"({"msg":")" + msg + R"(","timestamp":)" + ts + R"(,"app_key":")" + app_key + R"(","user":")" + user +
         R"(","use_sess":0,"key":")" + md5_hex(text) + "\"" + extra_member + "}";
}

class CloudServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture::Fixture f;
    std::string error;
    ASSERT_TRUE(fixture::parse(kFixture, f, error)) << error;
    ASSERT_TRUE(service.load_fixture(f, error)) << error;
    port = service.start();
    ASSERT_NE(port, 0);
  }
  CloudService service;
  uint16_t port = 0;
};

TEST_F(CloudServiceTest, AnswersTheSerialsOfAGoodRequest) {
  Reply r = post(port, signed_request("c2s.get_list_sn_sp", "app", "app-pass", "alice", "alice-pw"));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, R"({"devs_sn":10,"cams_sn":20})");
}

TEST_F(CloudServiceTest, RefusesWrongCredentialsWithAJsonError) {
  struct Case {
    const char* app_key;
    const char* app_pass;
    const char* user;
    const char* password;
  } cases[] = {
      {"other", "app-pass", "alice", "alice-pw"},
      {"app", "wrong", "alice", "alice-pw"},
      {"app", "app-pass", "bob", "alice-pw"},
      {"app", "app-pass", "alice", "wrong"},
  };
  for (const Case& c : cases) {
    Reply r = post(port, signed_request("c2s.get_list_sn_sp", c.app_key, c.app_pass, c.user, c.password));
    EXPECT_EQ(r.status, 401) << c.app_key << " " << c.app_pass << " " << c.user << " " << c.password;
    EXPECT_NE(r.body.find("\"error\""), std::string::npos);
  }
  EXPECT_EQ(post(port, "not json").status, 400);
  EXPECT_EQ(post(port, signed_request("c2s.unknown", "app", "app-pass", "alice", "alice-pw")).status, 400);
  // A timestamp that is no integer is refused as missing, signed as it stands or not.
  for (const char* ts : {"1e300", "-1e300", "1700000000.5", "9223372036854775808"}) {
    EXPECT_EQ(post(port, signed_request("c2s.get_list_sn_sp", "app", "app-pass", "alice", "alice-pw", "", "", ts)).status,
              400)
        << ts;
  }
  // A list request whose pkey_pass is not an encrypted block.
  std::string member = R"(,"pkey_pass":"AAAA")";
  EXPECT_EQ(post(port, signed_request("c2s.get_dev_list_sp", "app", "app-pass", "alice", "alice-pw", member, "AAAA")).status,
            400);
}

TEST_F(CloudServiceTest, FlatCameraWriteKeepsGroupsAndStoredMembers) {
  // What the control writes: every camera flat, secrets in clear here (the store's view).
  cJSON* content = cJSON_Parse(R"({"cams":[
      {"id":"c0","name":"renamed","devid":"D1","chlid":0,"shared":"true","ptz":1,"state":1,"type":2},
      {"id":"c9","name":"new","devid":"D1","chlid":1,"shared":"false","ptz":0,"state":1,"type":0}]})");
  auto account = service.store().account("alice");
  ASSERT_TRUE(account);
  auto serial = service.store().store_camera_list(account->id, content);
  cJSON_Delete(content);
  ASSERT_TRUE(serial);
  EXPECT_EQ(*serial, 21);

  cJSON* list = service.store().camera_list(account->id);
  char* text = cJSON_PrintUnformatted(list);
  std::string printed = text;
  cJSON_free(text);
  cJSON_Delete(list);
  // c0 stays in its group with its serial and ONVIF port; c1 is gone; c9 is new at the top.
  EXPECT_NE(printed.find(R"("name":"G","groups":[],"cams":[{"id":"c0","sn":20,"shared":1,"name":"renamed")"),
            std::string::npos)
      << printed;
  EXPECT_NE(printed.find(R"("onvif_port":8899)"), std::string::npos) << printed;
  EXPECT_EQ(printed.find(R"("id":"c1")"), std::string::npos) << printed;
  EXPECT_NE(printed.find(R"({"id":"c9","sn":21,"shared":0,"name":"new")"), std::string::npos) << printed;
}

TEST_F(CloudServiceTest, StopEndsHeldConnections) {
  Fault stall;
  stall.kind = Fault::Kind::kStallBody;
  service.add_fault(stall);
  asio::io_context io;
  tcp::socket socket(io);
  socket.connect({asio::ip::make_address("127.0.0.1"), port});
  std::string request = "POST / HTTP/1.1\r\nHost: x\r\nContent-Length:2\r\n\r\n{}";
  asio::write(socket, asio::buffer(request));
  char head[64];
  socket.read_some(asio::buffer(head));  // the first half arrives, then nothing
  auto started = std::chrono::steady_clock::now();
  service.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  // The held connection was closed by the service.
  beast::error_code ec;
  for (int i = 0; i < 10 && !ec; ++i) socket.read_some(asio::buffer(head), ec);
  EXPECT_TRUE(ec);
}

TEST(CloudServiceKey, DecryptsOnlyItsOwnBlocks) {
  EXPECT_EQ(service_key().modulus_hex().size(), 128u);
  EXPECT_FALSE(service_key().decrypt_base64("not base64!").has_value());
  EXPECT_FALSE(service_key().decrypt_base64(std::string(88, 'A')).has_value());
}

}  // namespace
}  // namespace sim::cloud
