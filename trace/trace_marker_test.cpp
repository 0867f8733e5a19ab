// Runs from a folder that holds the "ExDebug.dll" marker, so the real probe switches tracing on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testing/debug_capture.h"
#include "trace/trace.h"

namespace {

TEST(TraceProbe, MarkerBesideTheModuleSwitchesTracingOnAndIsAnnouncedOnce) {
  platform::testing::DebugCapture capture;
  trace::reprobe_for_testing();
  trace::enter("brixa_init");
  trace::step("Init P2P");
  EXPECT_TRUE(trace::on());
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{"Extended debug DLL found", "-->: brixa_init", "  -: Init P2P"}));
}

}  // namespace
