#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "brixa/api/brixa.h"
#include "devsdk/netsdk/netsdk_testing.h"
#include "devsdk/playsdk/playsdk.h"
#include "platform/testing/debug_capture.h"
#include "trace/trace.h"

namespace {

using platform::testing::DebugCapture;

class SdkErrors : public ::testing::Test {
 protected:
  void SetUp() override { trace::force_verbose_for_testing(true); }
  void TearDown() override {
    trace::force_verbose_for_testing(false);
    NET_TestSetLastError(0);
  }
  DebugCapture capture;
};

TEST_F(SdkErrors, NetSdkErrorLineNamesTheLastError) {
  struct Case {
    uint32_t code;
    const char* name;
  } cases[] = {
      {0, "ERROR_NET_NOERROR"},
      {NET_ERROR_BASE | 1, "ERROR_NET_SYSTEM_ERROR"},
      {NET_ERROR_BASE | 4, "ERROR_NET_INVALID_HANDLE"},
      {NET_ERROR_BASE | 24, "ERROR_NET_NO_RECORD_FOUND"},
      {NET_ERROR_BASE | 25, "ERROR_NET_ERROR"},
      {NET_ERROR_BASE | 26, "ERROR_NET_ERROR"},
      {NET_ERROR_BASE | 27, "ERROR_NET_NO_TALK_CHANNEL"},
      {NET_ERROR_BASE | 30, "ERROR_NET_DOWNLOAD_END"},
      {NET_ERROR_BASE | 31, "ERROR_NET_ERROR"},
      {NET_ERROR_BASE | 104, "ERROR_NET_LOGIN_ERROR_LOCKED"},
      {NET_ERROR_BASE | 127, "ERROR_NET_RENDER_FRAMERATE_ERROR"},
      {NET_ERROR_BASE | 310, "ERROR_NET_CONFIG_DATAILLEGAL"},
      {5, "ERROR_NET_ERROR"},  // not a NetSDK error code at all
  };
  for (const auto& c : cases) {
    capture.clear();
    NET_TestSetLastError(c.code);
    brixa_error("brixa_logout", 197, "NET_Logout (197)");
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{std::string("Error: brixa_logout 197 (NET_Logout (197) ") + c.name + ")"})
        << std::hex << c.code;
  }
}

TEST_F(SdkErrors, PlaySdkErrorLineHasTheTextOrAnEmptyDetail) {
  struct Case {
    uint32_t code;
    const char* line;
  } cases[] = {
      {0, "Error: brixa_start_realplay 12 (PLAY_OpenStream (12) No error)"},
      {2, "Error: brixa_start_realplay 12 (PLAY_OpenStream (12) Callabck sequence is not right)"},
      {24, "Error: brixa_start_realplay 12 (PLAY_OpenStream (12) Memory too small)"},
      {25, "Error: brixa_start_realplay 12 ()"},
      {1000, "Error: brixa_start_realplay 12 ()"},
  };
  for (const auto& c : cases) {
    capture.clear();
    PLAY_TestSetLastError(9, c.code);
    brixa_play_error("brixa_start_realplay", 12, "PLAY_OpenStream (12)", 9);
    EXPECT_EQ(capture.lines(), std::vector<std::string>{c.line}) << c.code;
  }
}

TEST_F(SdkErrors, NothingIsWrittenWhileTracingIsOff) {
  trace::force_verbose_for_testing(false);
  NET_TestSetLastError(NET_ERROR_BASE | 25);
  brixa_error("f", 1, "m");
  brixa_play_error("f", 1, "m", 3);
  EXPECT_TRUE(capture.lines().empty());
}

}  // namespace
