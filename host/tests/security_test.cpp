// What keeps other pages and programs out: the token traded for a cookie, the cookie on every
// request, the WebSocket's Origin and Host, the message size limit, paths that leave the
// portal's folder, and secrets kept out of the host's log.
#include <gtest/gtest.h>

#include "host/tests/page_client.h"
#include "host/tests/shared_host.h"

namespace {

using namespace std::chrono_literals;
using host::testing::HttpReply;
using host::testing::PageClient;
using host::testing::SharedHost;
using host::testing::http_get;
using host::testing::json_text;

class SecurityTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SharedHost::get().running()) << SharedHost::get().start_error(); }
  static uint16_t port() { return SharedHost::get().port(); }
  static std::string here() { return "127.0.0.1:" + std::to_string(port()); }
};

TEST_F(SecurityTest, TheTokenIsTradedForAStrictHttpOnlyCookieOnce) {
  HttpReply reply = http_get(port(), "/?token=" + SharedHost::get().token());
  ASSERT_EQ(reply.status, 303);
  EXPECT_EQ(reply.headers["location"], "/");
  const std::string& cookie = reply.headers["set-cookie"];
  EXPECT_EQ(cookie.rfind(SharedHost::get().host().cookie_name() + "=", 0), 0u) << cookie;
  EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
  EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
  EXPECT_EQ(cookie.find(SharedHost::get().token()), std::string::npos) << "the cookie is not the token";
}

TEST_F(SecurityTest, RequestsWithoutTheRightCookieOrHostAreRefused) {
  std::string cookie = host::testing::session_cookie(port(), SharedHost::get().token());
  ASSERT_FALSE(cookie.empty());
  std::string name = cookie.substr(0, cookie.find('='));
  std::string wrong_token = SharedHost::get().token();
  wrong_token.back() = wrong_token.back() == '0' ? '1' : '0';
  struct Case {
    std::string target;
    std::map<std::string, std::string> headers;
    int status;
  } cases[] = {
      {"/?token=" + wrong_token, {}, 403},
      {"/?token=", {}, 403},
      {"/typelib.json", {}, 401},
      {"/index.html", {}, 401},
      {"/typelib.json", {{"cookie", name + "=" + std::string(48, '0')}}, 403},
      {"/typelib.json", {{"cookie", "kavrel_session_1=" + cookie.substr(cookie.find('=') + 1)}}, 401},
      {"/typelib.json", {{"cookie", cookie}, {"host", "evil.example:" + std::to_string(port())}}, 403},
      {"/typelib.json", {{"cookie", cookie}, {"host", "127.0.0.1:1"}}, 403},
      {"/?token=" + SharedHost::get().token(), {{"host", "evil.example"}}, 403},
      {"/typelib.json", {{"cookie", cookie}}, 200},
      {"/typelib.json", {{"cookie", "other=1; " + cookie}, {"host", "localhost:" + std::to_string(port())}}, 200},
      {"/", {{"cookie", cookie}}, 200},
      {"/kavrel.js", {{"cookie", cookie}}, 200},
      {"/../CMakeLists.txt", {{"cookie", cookie}}, 404},
      {"/%2e%2e/CMakeLists.txt", {{"cookie", cookie}}, 404},
      {"/.hidden", {{"cookie", cookie}}, 404},
      {"/download/0123456789abcdef", {{"cookie", cookie}}, 404},
  };
  for (const Case& c : cases) {
    HttpReply reply = http_get(port(), c.target, c.headers);
    std::string host = c.headers.count("host") ? c.headers.at("host") : here();
    EXPECT_EQ(reply.status, c.status) << c.target << " Host " << host;
  }
}

TEST_F(SecurityTest, WebSocketsFromOtherOriginsHostsOrWithoutTheCookieAreRefused) {
  std::string cookie = host::testing::session_cookie(port(), SharedHost::get().token());
  ASSERT_FALSE(cookie.empty());
  struct Case {
    std::string cookie;
    std::optional<std::string> origin;
    std::optional<std::string> host;
    int status;
  } cases[] = {
      {"", std::nullopt, std::nullopt, 401},
      {cookie, std::string("http://evil.example"), std::nullopt, 403},
      {cookie, std::string(""), std::nullopt, 403},  // no Origin at all
      {cookie, std::string("https://" + here()), std::nullopt, 403},
      {cookie, std::string("http://localhost:" + std::to_string(port())), std::nullopt, 403},  // not its own page
      {cookie, std::string("http://evil.example:" + std::to_string(port())), std::string("evil.example:" + std::to_string(port())), 403},
  };
  for (const Case& c : cases) {
    PageClient client;
    int status = -1;
    EXPECT_FALSE(client.connect(port(), c.cookie, c.origin, c.host, &status)) << c.origin.value_or("(default)");
    EXPECT_EQ(status, c.status) << c.origin.value_or("(default)") << " " << c.host.value_or("(default)");
  }
  PageClient right;
  EXPECT_TRUE(right.connect(port(), cookie, std::string("http://localhost:" + std::to_string(port())),
                            std::string("localhost:" + std::to_string(port()))));
}

TEST_F(SecurityTest, AMessageOverOneMebibyteClosesItsSocket) {
  std::string cookie = host::testing::session_cookie(port(), SharedHost::get().token());
  PageClient client;
  ASSERT_TRUE(client.connect(port(), cookie));
  ASSERT_TRUE(client.next_of("hello", 10s));
  std::string huge = R"({"type":"call","id":1,"method":"CliDelDevice","args":[")" + std::string(1u << 20, 'x') + "\"]}";
  client.send(huge);
  std::optional<int> code = client.wait_closed(10s);
  ASSERT_TRUE(code) << "the host kept reading";
  EXPECT_EQ(*code, 1009);
  PageClient next;
  ASSERT_TRUE(next.connect(port(), cookie));
  EXPECT_TRUE(next.next_of("hello", 10s));
}

TEST_F(SecurityTest, TokensCookiesPasswordsAndKeysNeverReachTheLog) {
  std::string cookie = host::testing::session_cookie(port(), SharedHost::get().token());
  PageClient client;
  ASSERT_TRUE(client.connect(port(), cookie));
  const auto& d = SharedHost::get().demo();
  auto q = [](const std::string& s) { return "\"" + s + "\""; };
  // Calls carrying every kind of credential, refused ones included, with verbose logging on.
  client.call("CliInit", "[" + q(d.server) + "," + q(d.app_key) + "," + q(d.app_pass) + "," + q(d.tunnel_host) + "," +
                             std::to_string(d.tunnel_port) + "," + q(d.tunnel_key) + "]");
  client.call("CliCloudInitSimple", "[" + q(d.user) + "," + q(d.password) + "]");
  client.call("CliAddDeviceP2P", R"(["KVR-000007","admin","segredo-do-dispositivo","Novo",37777,80])");
  client.call("CliLoginDeviceP2PDev", R"(["KVR-000007","admin","outro-segredo",37777,80])");
  client.call("CliCloudInitSimple", "[" + q(d.user) + "]");  // refused: one argument short
  client.call("CliUnInit", "[]");
  http_get(port(), "/?token=" + SharedHost::get().token() + "x");

  auto lines = SharedHost::get().log_lines();
  ASSERT_FALSE(lines.empty());
  bool saw_masked_call = false;
  const std::string secrets[] = {SharedHost::get().token(), cookie.substr(cookie.find('=') + 1), d.password, d.app_key,
                                 d.app_pass, d.tunnel_key, "segredo-do-dispositivo", "outro-segredo"};
  for (const std::string& line : lines) {
    for (const std::string& secret : secrets) EXPECT_EQ(line.find(secret), std::string::npos) << "leaked: " << line;
    if (line.find("CliInit(") != std::string::npos && line.find("***") != std::string::npos) saw_masked_call = true;
  }
  EXPECT_TRUE(saw_masked_call) << "the verbose log shows calls, masked";
}

}  // namespace
