// The PTZ head on a clock the test turns: which way each command moves, speeds that do not pile
// up, stops, presets, and the refusals.
#include "sim/device/video/ptz_head.h"

#include <gtest/gtest.h>

#include "devsdk/proto/messages.h"

namespace sim::device::video {
namespace {

class PtzHeadTest : public ::testing::Test {
 protected:
  int32_t send(uint32_t command, int32_t param2, bool stop = false) {
    proto::PtzControl c;
    c.command = command;
    c.param2 = param2;
    c.stop = stop ? 1 : 0;
    return head.control(c);
  }
  uint64_t now = 1000;
  PtzHead head{[this] { return now; }};
};

TEST_F(PtzHeadTest, EachCommandMovesItsAxisItsWayAtItsSpeed) {
  struct Case {
    uint32_t command;
    double pan, tilt, zoom;  // after one second at speed 2
  };
  const Case cases[] = {
      {proto::kPtzLeft, -2 * PtzHead::kPanRate, 0, 0},  {proto::kPtzRight, 2 * PtzHead::kPanRate, 0, 0},
      {proto::kPtzUp, 0, -2 * PtzHead::kTiltRate, 0},   {proto::kPtzDown, 0, 2 * PtzHead::kTiltRate, 0},
      {proto::kPtzZoomIn, 0, 0, 2 * PtzHead::kZoomRate},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    ASSERT_EQ(send(proto::kPtzSetPreset, 9), proto::status::ok);
    ASSERT_EQ(send(c.command, 2), proto::status::ok);
    now += 1000;
    auto p = head.position();
    EXPECT_DOUBLE_EQ(p.pan, c.pan);
    EXPECT_DOUBLE_EQ(p.tilt, c.tilt);
    EXPECT_DOUBLE_EQ(p.zoom, c.zoom);
    ASSERT_EQ(send(proto::kPtzGotoPreset, 9), proto::status::ok);
  }
  // Zooming out from the widest view stays there.
  ASSERT_EQ(send(proto::kPtzZoomOut, 8), proto::status::ok);
  now += 1000;
  EXPECT_EQ(head.position().zoom, 0);
}

TEST_F(PtzHeadTest, ARepeatedCommandKeepsItsSpeedAndAStopEndsAnyMotion) {
  ASSERT_EQ(send(proto::kPtzRight, 4), proto::status::ok);
  now += 500;
  ASSERT_EQ(send(proto::kPtzRight, 4), proto::status::ok);  // the same again: no faster
  ASSERT_EQ(send(proto::kPtzRight, 4), proto::status::ok);
  now += 500;
  EXPECT_DOUBLE_EQ(head.position().pan, 4 * PtzHead::kPanRate);
  // A stop names whatever command it likes, even none.
  proto::PtzControl stop;
  stop.command = 0xFFFFFFFFu;
  stop.param1 = stop.param2 = -1;
  stop.stop = 1;
  ASSERT_EQ(head.control(stop), proto::status::ok);
  EXPECT_FALSE(head.moving());
  now += 5000;
  EXPECT_DOUBLE_EQ(head.position().pan, 4 * PtzHead::kPanRate);
  EXPECT_EQ(head.view(), (PtzView{8, 0, 0}));
  // Speeds outside 1 to 8 are brought into that range; the head stops at its ends.
  ASSERT_EQ(send(proto::kPtzRight, 200), proto::status::ok);
  now += 1000;
  EXPECT_DOUBLE_EQ(head.position().pan, 4 * PtzHead::kPanRate + 8 * PtzHead::kPanRate);
  now += 60000;
  EXPECT_DOUBLE_EQ(head.position().pan, PtzHead::kMaxPan);
}

TEST_F(PtzHeadTest, PresetsKeepAPositionUntilCleared) {
  ASSERT_EQ(send(proto::kPtzDown, 3), proto::status::ok);
  now += 2000;
  ASSERT_EQ(send(proto::kPtzSetPreset, 5), proto::status::ok);  // taken while moving: where it is now
  const double tilt = head.position().tilt;
  now += 2000;
  ASSERT_EQ(send(proto::kPtzGotoPreset, 5), proto::status::ok);
  EXPECT_DOUBLE_EQ(head.position().tilt, tilt);
  EXPECT_FALSE(head.moving()) << "a preset ends the motion";
  ASSERT_EQ(send(proto::kPtzClearPreset, 5), proto::status::ok);
  EXPECT_EQ(send(proto::kPtzGotoPreset, 5), proto::status::no_record);
  EXPECT_EQ(send(proto::kPtzSetPreset, 0), proto::status::invalid_parameter);
  EXPECT_EQ(send(proto::kPtzGotoPreset, 256), proto::status::invalid_parameter);
  EXPECT_EQ(send(42, 1), proto::status::not_supported);
}

}  // namespace
}  // namespace sim::device::video
