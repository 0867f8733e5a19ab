// No password, key or pass given to an export reaches the developer trace.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "brixa/api/brixa.h"
#include "platform/testing/debug_capture.h"
#include "trace/trace.h"

namespace {

class Secrets : public ::testing::Test {
 protected:
  void SetUp() override {
    trace::force_verbose_for_testing(true);
    brixa_init("127.0.0.1", 1, "init-key-Zq81");
    client_ = brixa_create();
  }
  void TearDown() override {
    brixa_release(client_);
    brixa_uninit();
    trace::force_verbose_for_testing(false);
  }
  brixa_handle client_ = nullptr;
};

TEST_F(Secrets, NoSecretGivenToAnExportAppearsInTheTrace) {
  struct Case {
    const char* name;
    std::vector<std::string> secrets;
    std::function<void(brixa_handle)> call;
  } cases[] = {
      {"brixa_init", {"svr-key-Xr42"},
       [](brixa_handle) {
         brixa_uninit();
         brixa_init("127.0.0.1", 1, "svr-key-Xr42");
       }},
      {"biz_create", {"app-key-Qw17", "app-pass-Lm93", "user-pass-Kd55"},
       [](brixa_handle c) {
         biz_create(c, "app-key-Qw17", "app-pass-Lm93", "http://127.0.0.1:1/", "alice", "user-pass-Kd55", 0);
       }},
      {"brixa_login", {"dev-pass-Ty28"}, [](brixa_handle c) { brixa_login(c, "dev", 1, "admin", "dev-pass-Ty28"); }},
      {"biz_set_device_list", {"list-pass-Hu61"},
       [](brixa_handle c) {
         biz_set_device_list(c, 1, R"({"devs":[{"dev_id":"A1","dev_user":"admin","dev_pass":"list-pass-Hu61"}]})");
       }},
      {"biz_set_cam_list", {"cam-pass-Vb07"},
       [](brixa_handle c) {
         biz_set_cam_list(c, R"({"cams":[],"groups":[{"cams":[{"devid":"A1","dev_pass":"cam-pass-Vb07"}]}]})");
       }},
      {"set list that is not JSON", {"raw-pass-Ne33"},
       [](brixa_handle c) { biz_set_cam_list(c, "dev_pass=raw-pass-Ne33"); }},
      {"brixa_aes_decrypt", {"Y2lwaGVyLXRleHQtb2YtYS1rZXk="},
       [](brixa_handle) {
         char out[129] = {};
         brixa_aes_decrypt("Y2lwaGVyLXRleHQtb2YtYS1rZXk=", out, "phrase-Gg90");
       }},
  };
  for (const Case& c : cases) {
    platform::testing::DebugCapture capture;
    c.call(client_);
    EXPECT_FALSE(capture.lines().empty()) << c.name << " traced nothing at all";
    for (const std::string& secret : c.secrets) EXPECT_FALSE(capture.mentions(secret)) << c.name << ": " << secret;
    EXPECT_FALSE(capture.mentions("phrase-Gg90")) << c.name;
  }
}

TEST_F(Secrets, AMaskedSecretStillShowsThatOneWasGiven) {
  platform::testing::DebugCapture capture;
  brixa_login(client_, "dev", 1, "admin", "dev-pass-Ty28");
  biz_set_device_list(client_, 1, R"({"devs":[{"dev_id":"A1","dev_pass":"x"}]})");
  EXPECT_TRUE(capture.contains("   : dev_pass ***"));
  EXPECT_TRUE(capture.contains(R"(   : list {"devs":[{"dev_id":"A1","dev_pass":"***"}]})"));
}

}  // namespace
