#include "streamconv/annex_b.h"

#include <gtest/gtest.h>

#include <string>

namespace streamconv {
namespace {

std::string text_of(const NalView& unit) { return std::string(reinterpret_cast<const char*>(unit.data), unit.size); }

TEST(AnnexB, SplitsUnitsBehindThreeAndFourByteStartCodes) {
  const uint8_t stream[] = {9, 9, 0, 0, 0, 1, 0x67, 'a', 'b', 0, 0, 1, 0x68, 'c', 0, 0, 0, 1, 0x65, 'd', 0, 0};
  std::vector<NalView> units = split_annex_b(stream, sizeof stream);
  ASSERT_EQ(units.size(), 3u);
  EXPECT_EQ(text_of(units[0]), "\x67" "ab");
  EXPECT_EQ(text_of(units[1]), "\x68" "c");
  EXPECT_EQ(text_of(units[2]), "\x65" "d");  // trailing zeros are not the unit's
  EXPECT_EQ(units[0].type(), kNalSps);
  EXPECT_TRUE(split_annex_b(stream, 2).empty());
}

TEST(AnnexB, ParameterSetsAreTheFirstSpsAndPps) {
  const uint8_t key[] = {0, 0, 0, 1, 0x09, 0x10,                   // delimiter
                         0, 0, 0, 1, 0x67, 0x42, 0xc0, 0x1e, 0x8c,  // SPS
                         0, 0, 1, 0x68, 0xce, 0x3c,                 // PPS
                         0, 0, 1, 0x68, 0x11,                       // a second PPS
                         0, 0, 1, 0x65, 0x88, 0x84};
  const std::vector<uint8_t> expected = {0, 0, 0, 1, 0x67, 0x42, 0xc0, 0x1e, 0x8c, 0, 0, 0, 1, 0x68, 0xce, 0x3c};
  EXPECT_EQ(parameter_sets_of(key, sizeof key), expected);
}

TEST(AnnexB, NoParameterSetsWithoutBothOrWithAShortSps) {
  const uint8_t no_pps[] = {0, 0, 1, 0x67, 0x42, 0xc0, 0x1e, 0, 0, 1, 0x65, 0x88};
  const uint8_t short_sps[] = {0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x68, 0xce, 0, 0, 1, 0x65, 0x88};
  EXPECT_TRUE(parameter_sets_of(no_pps, sizeof no_pps).empty());
  EXPECT_TRUE(parameter_sets_of(short_sps, sizeof short_sps).empty());
}

}  // namespace
}  // namespace streamconv
