#include "trace/trace.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/testing/debug_capture.h"

namespace {

using platform::testing::DebugCapture;
using Lines = std::vector<std::string>;

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override { trace::force_verbose_for_testing(true); }
  void TearDown() override { trace::force_verbose_for_testing(false); }
  DebugCapture capture;
};

struct LineCase {
  const char* label;
  void (*write)();
  const char* expected;
};

const LineCase kLineCases[] = {
    {"entry", [] { trace::enter("brixa_init"); }, "-->: brixa_init"},
    {"exit", [] { trace::leave("brixa_init"); }, "<--: brixa_init"},
    {"step", [] { trace::step("Init P2P"); }, "  -: Init P2P"},
    {"error", [] { trace::error("brixa_login", 96, "Wrong password"); }, "Error: brixa_login 96 (Wrong password)"},
    {"error without message", [] { trace::error("brixa_login", 12); }, "Error: brixa_login 12"},
    {"integer", [] { trace::value("svrport", -8000); }, "   : svrport -8000"},
    {"string", [] { trace::value("dev_name", "Loja"); }, "   : dev_name Loja"},
    {"date-time", [] { trace::date_time("start", 12, 31, 23, 5, 9); }, "   : start 12 31 23:5:9"},
    {"connector", [] { trace::connector("127.0.0.1", 37777, 0, "DEV1"); },
     "   : 127.0.0.1 peer port 37777 local port 0 (ID DEV1)"},
    {"exception", [] { trace::exception("CkavrelCtrl::CliInit", "bad alloc"); },
     "Exception in CkavrelCtrl::CliInit: bad alloc"},
    {"wide string", [] { trace::wide_value("szCamID", u"C\u00e2mera 1"); }, "   : szCamID C\xc3\xa2mera 1"},
    {"device record", [] { trace::device_record("dev", "ID7", "Loja", 1, 2); },
     " dev: id ID7, name Loja, online 1, logincount 2"},
    {"missing device record", [] { trace::missing_device_record("pDevInfo"); }, " DevInfo pDevInfo is null"},
};

TEST_F(TraceTest, EveryLineKindHasItsExactFormat) {
  for (const auto& c : kLineCases) {
    capture.clear();
    c.write();
    EXPECT_EQ(capture.lines(), Lines{c.expected}) << c.label;
  }
}

TEST_F(TraceTest, NullStringValueWritesNoLine) {
  trace::value("dev_user", static_cast<const char*>(nullptr));
  trace::wide_value("szName", nullptr);
  EXPECT_TRUE(capture.lines().empty());
}

TEST_F(TraceTest, OffWritesNothingButTheMissingDeviceRecord) {
  trace::force_verbose_for_testing(false);
  for (const auto& c : kLineCases) c.write();
  EXPECT_EQ(capture.lines(), Lines{" DevInfo pDevInfo is null"});
}

TEST_F(TraceTest, LongLinesAreCutAtTheirBuffer) {
  std::string long_name(1000, 'n');
  trace::enter(long_name.c_str());
  trace::error(long_name.c_str(), 1, long_name.c_str());
  std::string long_text(40000, 'j');
  trace::value("json", long_text.c_str());
  auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].size(), 255u);
  EXPECT_EQ(lines[0].substr(0, 5), "-->: ");
  EXPECT_EQ(lines[1].size(), 255u);
  EXPECT_EQ(lines[2].size(), 16383u);
  EXPECT_EQ(lines[2].substr(0, 10), "   : json ");
}

void method_that_throws() {
  trace::enter("CkavrelCtrl::CliThrows");
  trace::ExitGuard guard("CkavrelCtrl::CliThrows");
  throw std::runtime_error("boom");
}

void method_that_returns() {
  trace::enter("CkavrelCtrl::CliReturns");
  trace::ExitGuard guard("CkavrelCtrl::CliReturns");
  trace::leave("CkavrelCtrl::CliReturns");
  guard.disarm();
}

TEST_F(TraceTest, ExitGuardWritesTheExitLineWhenAMethodThrows) {
  EXPECT_THROW(method_that_throws(), std::runtime_error);
  EXPECT_EQ(capture.lines(), (Lines{"-->: CkavrelCtrl::CliThrows", "<--: CkavrelCtrl::CliThrows"}));
}

TEST_F(TraceTest, ExitGuardWritesNoSecondExitLine) {
  method_that_returns();
  EXPECT_EQ(capture.lines(), (Lines{"-->: CkavrelCtrl::CliReturns", "<--: CkavrelCtrl::CliReturns"}));
}

TEST(TraceProbe, WithoutTheMarkerTracingStaysOff) {
  DebugCapture capture;
  trace::reprobe_for_testing();
  trace::enter("anything");
  EXPECT_FALSE(trace::on());
  EXPECT_TRUE(capture.lines().empty());
}

}  // namespace
