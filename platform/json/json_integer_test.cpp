#include "platform/json/json_integer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using platform::integer_from_double;
using platform::json_integer;
using platform::json_integer_member;

TEST(JsonInteger, AcceptsOnlyWholeNumbersThatFit) {
  struct Case {
    double value;
    std::optional<int32_t> as_int32;
    std::optional<uint16_t> as_uint16;
    std::optional<int64_t> as_int64;
  } cases[] = {
      {0.0, 0, 0, 0},
      {-0.0, 0, 0, 0},
      {37777.0, 37777, 37777, 37777},
      {65535.0, 65535, 65535, 65535},
      {65536.0, 65536, std::nullopt, 65536},
      {-1.0, -1, std::nullopt, -1},
      {2147483647.0, INT32_MAX, std::nullopt, INT32_MAX},
      {2147483648.0, std::nullopt, std::nullopt, 2147483648LL},
      {-2147483648.0, INT32_MIN, std::nullopt, INT32_MIN},
      {-2147483649.0, std::nullopt, std::nullopt, -2147483649LL},
      {9007199254740992.0, std::nullopt, std::nullopt, 9007199254740992LL},
      // 2^63 is the first double past the 64-bit range; -2^63 is its last value.
      {9223372036854775808.0, std::nullopt, std::nullopt, std::nullopt},
      {-9223372036854775808.0, std::nullopt, std::nullopt, INT64_MIN},
      {1e300, std::nullopt, std::nullopt, std::nullopt},
      {-1e300, std::nullopt, std::nullopt, std::nullopt},
      {2.5, std::nullopt, std::nullopt, std::nullopt},
      {-0.5, std::nullopt, std::nullopt, std::nullopt},
      {1e-300, std::nullopt, std::nullopt, std::nullopt},
      {std::numeric_limits<double>::infinity(), std::nullopt, std::nullopt, std::nullopt},
      {-std::numeric_limits<double>::infinity(), std::nullopt, std::nullopt, std::nullopt},
      {std::numeric_limits<double>::quiet_NaN(), std::nullopt, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.value));
    EXPECT_EQ(integer_from_double<int32_t>(c.value), c.as_int32);
    EXPECT_EQ(integer_from_double<uint16_t>(c.value), c.as_uint16);
    EXPECT_EQ(integer_from_double<int64_t>(c.value), c.as_int64);
  }
  EXPECT_EQ(integer_from_double<uint64_t>(18446744073709549568.0), 18446744073709549568ULL);
  EXPECT_EQ(integer_from_double<uint64_t>(18446744073709551616.0), std::nullopt);
}

TEST(JsonInteger, ReadsMembersOfAParsedDocument) {
  cJSON* doc = cJSON_Parse(R"({"port": 8080, "big": 1e40, "half": 0.5, "text": "80", "none": null})");
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(json_integer_member<int32_t>(doc, "port"), 8080);
  EXPECT_EQ(json_integer_member<int32_t>(doc, "big"), std::nullopt);
  EXPECT_EQ(json_integer_member<int32_t>(doc, "half"), std::nullopt);
  EXPECT_EQ(json_integer_member<int32_t>(doc, "text"), std::nullopt);
  EXPECT_EQ(json_integer_member<int32_t>(doc, "none"), std::nullopt);
  EXPECT_EQ(json_integer_member<int32_t>(doc, "missing"), std::nullopt);
  EXPECT_EQ(json_integer<int32_t>(nullptr), std::nullopt);
  cJSON_Delete(doc);
}

}  // namespace
