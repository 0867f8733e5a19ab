#include "devsdk/proto/g711.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace proto {
namespace {

// A-law keeps about 12 bits of a sample's magnitude: the error grows with it, to 1/32 at most.
TEST(G711, EveryCodeDecodesToASampleThatEncodesBackToIt) {
  for (int code = 0; code < 256; ++code) {
    const int16_t sample = alaw_decode(static_cast<uint8_t>(code));
    EXPECT_EQ(alaw_encode(sample), code) << code;
  }
  const int16_t samples[] = {0, 1, -1, 100, -100, 1000, -1000, 8000, -8000, 32767, -32768};
  for (int16_t s : samples) {
    const int back = alaw_decode(alaw_encode(s));
    EXPECT_LE(std::abs(back - s), std::abs(s) / 32 + 16) << s;
    EXPECT_EQ(back < 0, s < 0) << s;
  }
}

}  // namespace
}  // namespace proto
