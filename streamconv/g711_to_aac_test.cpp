#include "streamconv/g711_to_aac.h"

#include <gtest/gtest.h>

#include "streamconv/testing/dav_file.h"

namespace streamconv {
namespace {

TEST(G711, ALawDecodesToTheStandardValues) {
  struct Case {
    uint8_t alaw;
    int16_t linear;
  };
  const Case cases[] = {{0xd5, 8}, {0x55, -8}, {0xd4, 24}, {0xaa, 32256}, {0x2a, -32256}, {0xc5, 264}, {0x80, 5504}};
  for (const Case& c : cases) EXPECT_EQ(alaw_to_linear(c.alaw), c.linear) << std::hex << int{c.alaw};
}

TEST(G711, EveryCodeSurvivesTheWayBack) {
  for (int code = 0; code < 256; ++code) {
    EXPECT_EQ(testing::linear_to_alaw(alaw_to_linear(static_cast<uint8_t>(code))), code) << code;
  }
}

}  // namespace
}  // namespace streamconv
