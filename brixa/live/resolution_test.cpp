// The legacy resolution-code table.
#include "brixa/live/resolution.h"

#include <gtest/gtest.h>

#include "platform/testing/debug_capture.h"
#include "trace/trace.h"

namespace brixa::live {
namespace {

TEST(ResolutionCodes, TableWithVideoStandard) {
  struct Case {
    int32_t code;
    uint8_t standard;
    int32_t width, height;
  } cases[] = {
      {0, 0, 704, 576},   {0, 1, 704, 480},    {1, 0, 352, 576},   {2, 1, 704, 240},    {3, 0, 352, 288},
      {4, 0, 176, 144},   {4, 7, 176, 120},    {5, 0, 640, 480},   {5, 1, 640, 480},    {9, 0, 800, 592},
      {16, 0, 240, 192},  {17, 0, 1280, 720},  {18, 1, 1920, 1080}, {23, 0, 2432, 2050}, {27, 0, 2560, 1920},
      {28, 0, 960, 576},  {28, 1, 960, 480},   {29, 0, 960, 720},  {31, 0, 960, 1080},
      {30, 0, 1, 1},      {32, 0, 1, 1},       {255, 0, 1, 1},     {-1, 0, 1, 1},
  };
  for (const Case& c : cases) {
    ImageSize s = get_image_size(c.code, c.standard);
    EXPECT_EQ(s.width, c.width) << c.code << "/" << int{c.standard};
    EXPECT_EQ(s.height, c.height) << c.code << "/" << int{c.standard};
  }
}

TEST(ResolutionCodes, UnknownCodeIsTraced) {
  platform::testing::DebugCapture lines;
  trace::force_verbose_for_testing(true);
  get_image_size(30, 0);
  trace::force_verbose_for_testing(false);
  EXPECT_TRUE(lines.contains("Error: get_image_size 0 (Unrecognized resolution code: 30)"));
}

}  // namespace
}  // namespace brixa::live
