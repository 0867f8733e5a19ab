#include "brixa/cloud/signed_request.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "brixa/cloud/cloud_session.h"

namespace brixa::cloud {
namespace {

std::shared_ptr<CloudSession> session_for(const char* user, const char* pass) {
  return make_session("key", "pass", "http://127.0.0.1:9/", user, pass, 0);
}

TEST(Signature, HashesFiveFieldsOrSixWithExtraText) {
  auto s = session_for("someone", "secret");
  ASSERT_TRUE(s);
  EXPECT_STREQ(s->password_digest, "5ebe2294ecd0e0f08eab7690d2a6ee69");
  // MD5 of "c2s.get_list_sn_sp|key|1700000000|pass|5ebe2294ecd0e0f08eab7690d2a6ee69".
  EXPECT_EQ(signature("c2s.get_list_sn_sp", *s, 1700000000), "829b1ba5066582c97a56d84297f2eab1");
  EXPECT_EQ(signature("c2s.get_list_sn_sp", *s, 1700000000, ""), "829b1ba5066582c97a56d84297f2eab1");
  // ... with "|EXTRA" appended.
  EXPECT_EQ(signature("c2s.get_dev_list_sp", *s, 1700000000, "EXTRA"), "06818916ec70131e3816ec20cb424a9a");
}

TEST(Signature, WithoutAccountTheDigestFieldIsEmpty) {
  // A user without a password (or the reverse) signs in as nobody.
  for (auto s : {session_for("someone", ""), session_for("", "secret")}) {
    EXPECT_STREQ(s->user, "");
    EXPECT_EQ(signature("c2s.get_list_sn_sp", *s, 1700000000), "28b34d53a53e585f805dd98e09303a22");
  }
}

TEST(Envelope, MembersInOrderWithoutSecrets) {
  auto s = session_for("someone", "secret");
  s->use_sess = 3;
  cJSON* doc = envelope("c2s.get_list_sn_sp", 1700000000, *s, "abc");
  ASSERT_NE(doc, nullptr);
  char* text = cJSON_PrintUnformatted(doc);
  EXPECT_STREQ(text,
               R"({"msg":"c2s.get_list_sn_sp","timestamp":1700000000,"app_key":"key","user":"someone",)"
               R"("use_sess":3,"key":"abc"})");
  EXPECT_EQ(std::string(text).find("secret"), std::string::npos);
  EXPECT_EQ(std::string(text).find("\"pass\""), std::string::npos);
  cJSON_free(text);
  cJSON_Delete(doc);
}

TEST(Session, CutsTextsAndRefusesUrlsWithoutScheme) {
  std::string long_key(200, 'k');
  std::string long_user(100, 'u');
  auto s = make_session(long_key.c_str(), nullptr, "http://h:81/p", long_user.c_str(), "pw", 1);
  ASSERT_TRUE(s);
  EXPECT_EQ(std::string(s->app_key), std::string(127, 'k'));
  EXPECT_STREQ(s->app_pass, "");
  EXPECT_EQ(std::string(s->user), std::string(63, 'u'));
  EXPECT_STREQ(s->host, "h");
  EXPECT_EQ(s->port, 81);
  EXPECT_STREQ(s->path, "/p");
  EXPECT_EQ(make_session("k", "p", "h:81/p", "u", "pw", 0), nullptr);
}

}  // namespace
}  // namespace brixa::cloud
