// The recording schedule: the default one around today, configured spans, and the fixture's
// "recordings" member.
#include "sim/device/recordings/schedule.h"

#include <gtest/gtest.h>

#include <memory>

#include "sim/device/recordings/recording_stream.h"
#include "sim/device/recordings/recordings_json.h"

namespace sim::device::recordings {
namespace {

int64_t local(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  proto::Time t;
  t.year = static_cast<uint16_t>(y);
  t.month = static_cast<uint8_t>(mo);
  t.day = static_cast<uint8_t>(d);
  t.hour = static_cast<uint8_t>(h);
  t.minute = static_cast<uint8_t>(mi);
  t.second = static_cast<uint8_t>(s);
  return to_epoch(t);
}

std::string flags(uint32_t mask) {
  std::string out;
  for (int i = 0; i < 31; ++i) out += (mask >> i) & 1u ? '1' : '0';
  return out;
}

TEST(Schedule, DefaultHasHourlyFilesOverFortyDaysWithADailyGapUpToNow) {
  const int64_t now = local(2024, 3, 5, 14, 30, 15);
  auto spans = channel_spans(std::nullopt, 2, now);
  auto files = files_overlapping(spans, 0, now + 86400, 0, 100000);
  ASSERT_FALSE(files.empty());
  EXPECT_EQ(files.front().start, local(2024, 1, 26));  // 39 days before the 5th of March
  EXPECT_EQ(files.back().start, local(2024, 3, 5, 14));
  EXPECT_EQ(files.back().end, now);  // the current hour's file is still being written
  EXPECT_EQ(files.size(), 39u * 23u + 3u + 11u);
  for (const auto& f : files) {
    EXPECT_EQ(f.channel, 2);
    EXPECT_NE(from_epoch(f.start).hour, kDefaultGapHour);
  }
  // A month before and the current one: recordings today and in the previous month.
  EXPECT_EQ(flags(month_mask(spans, 2024, 1, 0)), std::string(25, '0') + "111111");
  EXPECT_EQ(flags(month_mask(spans, 2024, 2, 0)), std::string(29, '1') + "00");
  EXPECT_EQ(flags(month_mask(spans, 2024, 3, 0)), "11111" + std::string(26, '0'));
  EXPECT_EQ(month_mask(spans, 2024, 4, 0), 0u);
}

TEST(Schedule, ConfiguredSpansReplaceTheDefaultAndEndAtThePresent) {
  const int64_t now = local(2024, 3, 5, 12);
  std::vector<RecordSpan> configured = {
      {1, local(2024, 3, 5, 9), local(2024, 3, 5, 10), 600, 2},     // channel 1: six motion files
      {-1, local(2024, 3, 5, 11), local(2024, 3, 5, 13), 1800, 0},  // every channel, into the future
  };
  auto spans = channel_spans(configured, 1, now);
  auto files = files_overlapping(spans, local(2024, 3, 5), local(2024, 3, 6), 0, 1000);
  ASSERT_EQ(files.size(), 8u);
  EXPECT_EQ(files[0].record_type, 2);
  EXPECT_EQ(files.back().end, now);
  EXPECT_EQ(files_overlapping(spans, local(2024, 3, 5), local(2024, 3, 6), 2, 1000).size(), 6u);
  EXPECT_EQ(files_overlapping(spans, local(2024, 3, 5), local(2024, 3, 6), 0, 3).size(), 3u);
  // A range starting inside a file takes that file first; one ending at a file's start leaves it.
  auto part = files_overlapping(spans, local(2024, 3, 5, 9, 15), local(2024, 3, 5, 9, 30), 0, 1000);
  ASSERT_EQ(part.size(), 2u);
  EXPECT_EQ(part[0].start, local(2024, 3, 5, 9, 10));
  EXPECT_EQ(channel_spans(configured, 0, now).size(), 1u);

  // Segments of a playback join spans that touch and skip gaps.
  auto segments = span_segments(spans, local(2024, 3, 5, 9, 30), local(2024, 3, 5, 11, 0, 10), 0);
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].start_ms, local(2024, 3, 5, 9, 30) * 1000);
  EXPECT_EQ(segments[0].end_ms, local(2024, 3, 5, 10) * 1000);
  EXPECT_EQ(segments[1].end_ms, local(2024, 3, 5, 11, 0, 10) * 1000);
  EXPECT_EQ(frame_count(segments), 30u * 60u * 25u + 10u * 25u);
}

TEST(RecordingsJson, ReadsAbsoluteAndRelativeSpans) {
  const int64_t now = local(2024, 3, 5, 12);
  std::unique_ptr<cJSON, decltype(&cJSON_Delete)> json(
      cJSON_Parse(R"([{"channel": 0, "start": "20240101100000", "end": "20240101110000", "type": 1},
                      {"day": -2, "days": 2, "from": "080000", "to": "121000", "file_seconds": 60},
                      {"day": 0, "from": "220000"}])"),
      cJSON_Delete);
  std::vector<RecordSpan> spans;
  std::string error;
  ASSERT_TRUE(read_recordings(json.get(), now, spans, error, "device")) << error;
  ASSERT_EQ(spans.size(), 4u);
  EXPECT_EQ(spans[0].channel, 0);
  EXPECT_EQ(spans[0].start, local(2024, 1, 1, 10));
  EXPECT_EQ(spans[0].file_seconds, 3600);
  EXPECT_EQ(spans[0].record_type, 1);
  EXPECT_EQ(spans[1].channel, -1);
  EXPECT_EQ(spans[1].start, local(2024, 3, 3, 8));
  EXPECT_EQ(spans[2].end, local(2024, 3, 4, 12, 10));
  EXPECT_EQ(spans[2].file_seconds, 60);
  EXPECT_EQ(spans[3].end, local(2024, 3, 6));

  const char* bad[] = {
      R"({"day": 0})",
      R"([{"start": "2024010110000", "end": "20240101110000"}])",
      R"([{"start": "20240101110000", "end": "20240101100000"}])",
      R"([{"start": "20241301100000", "end": "20241301110000"}])",
      R"([{"day": 1}])",
      R"([{"day": -1, "from": "250000"}])",
      R"([{"day": -1, "from": "120000", "to": "080000"}])",
      R"([{"day": -1, "file_seconds": 0}])",
      R"([{"day": -1, "type": 4}])",
      R"([{"day": -1, "channel": -1}])",
      R"([3])",
  };
  for (const char* text : bad) {
    std::unique_ptr<cJSON, decltype(&cJSON_Delete)> b(cJSON_Parse(text), cJSON_Delete);
    EXPECT_FALSE(read_recordings(b.get(), now, spans, error, "device")) << text;
    EXPECT_NE(error.find("recordings"), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace sim::device::recordings
