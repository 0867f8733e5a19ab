// Date-times of the recordings: reading the texts, writing answers, seconds added in local time.
#include "brixa/record/date_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "brixa/record/fake_record_sdk.h"

namespace brixa::record {
namespace {

using testing::text_of;

// Runs the test body in a named time zone and restores the process's zone after it.
class LocalTime : public ::testing::Test {
 protected:
  void use_zone(const char* zone) {
    const char* old = getenv("TZ");
    had_tz_ = old != nullptr;
    if (had_tz_) old_tz_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  void TearDown() override {
    if (had_tz_) {
      setenv("TZ", old_tz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  bool had_tz_ = false;
  std::string old_tz_;
};

TEST(DateTime, TextsAreReadFieldByFieldAndMissingFieldsStayZero) {
  struct Case {
    const char* text;
    const char* read;
  } cases[] = {
      {"20240131235950", "2024-01-31 23:59:50"},
      {"20240131", "2024-01-31 00:00:00"},
      {"202401312", "2024-01-31 02:00:00"},
      {"2024", "2024-00-00 00:00:00"},
      {"", "0000-00-00 00:00:00"},
      {nullptr, "0000-00-00 00:00:00"},
  };
  for (const auto& c : cases) EXPECT_EQ(text_of(parse_time(c.text)), c.read) << (c.text ? c.text : "null");
  EXPECT_EQ(text_of(parse_month("202402")), "2024-02-00 00:00:00");
  EXPECT_EQ(text_of(parse_month("20240215")), "2024-02-00 00:00:00") << "only year and month are read";
}

TEST(DateTime, AnswersWriteTheYearUnpaddedAndTwoDigitFields) {
  EXPECT_EQ(format_time(NET_TIME{2024, 2, 1, 0, 5, 9}), "20240201000509");
  EXPECT_EQ(format_time(NET_TIME{999, 12, 31, 23, 59, 59}), "9991231235959");
}

TEST_F(LocalTime, SecondsAreAddedAcrossDayMonthAndYearEnds) {
  use_zone("UTC");
  struct Case {
    const char* from;
    int64_t seconds;
    const char* to;
  } cases[] = {
      {"20240131235950", 3600, "2024-02-01 00:59:50"},
      {"20240131235955", 10, "2024-02-01 00:00:05"},
      {"20240131235955", -10, "2024-01-31 23:59:45"},
      {"20240201000005", -15, "2024-01-31 23:59:50"},
      {"20240228235959", 1, "2024-02-29 00:00:00"},  // leap year
      {"20230228235959", 1, "2023-03-01 00:00:00"},
      {"20231231235959", 1, "2024-01-01 00:00:00"},
      {"20240101000000", -1, "2023-12-31 23:59:59"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text_of(add_seconds(parse_time(c.from), c.seconds)), c.to) << c.from << " + " << c.seconds;
  }
}

TEST_F(LocalTime, SecondsAreCountedInLocalTimeAcrossADaylightSavingChange) {
  use_zone("Europe/Berlin");
  // Clocks go from 02:00 to 03:00 on 31 March 2024: 20 real seconds after 01:59:50 it is 03:00:10.
  EXPECT_EQ(text_of(add_seconds(parse_time("20240331015950"), 20)), "2024-03-31 03:00:10");
  // And back from 03:00 to 02:00 on 27 October: an hour after 01:30 (summer time) it is 02:30 summer
  // time, the first of the two.
  EXPECT_EQ(text_of(add_seconds(parse_time("20241027013000"), 3600)), "2024-10-27 02:30:00");
}

}  // namespace
}  // namespace brixa::record
