#include "sim/device/recordings/schedule.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace sim::device::recordings {

int64_t to_epoch(const proto::Time& t) {
  struct tm fields {};
  fields.tm_year = t.year - 1900;
  fields.tm_mon = t.month - 1;
  fields.tm_mday = t.day;
  fields.tm_hour = t.hour;
  fields.tm_min = t.minute;
  fields.tm_sec = t.second;
  fields.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&fields));
}

proto::Time from_epoch(int64_t seconds) {
  time_t t = static_cast<time_t>(seconds);
  struct tm fields {};
  localtime_r(&t, &fields);
  proto::Time out;
  out.year = static_cast<uint16_t>(fields.tm_year + 1900);
  out.month = static_cast<uint8_t>(fields.tm_mon + 1);
  out.day = static_cast<uint8_t>(fields.tm_mday);
  out.hour = static_cast<uint8_t>(fields.tm_hour);
  out.minute = static_cast<uint8_t>(fields.tm_min);
  out.second = static_cast<uint8_t>(fields.tm_sec);
  return out;
}

int64_t local_midnight(int64_t seconds, int days) {
  time_t t = static_cast<time_t>(seconds);
  struct tm fields {};
  localtime_r(&t, &fields);
  fields.tm_mday += days;
  fields.tm_hour = 0;
  fields.tm_min = 0;
  fields.tm_sec = 0;
  fields.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&fields));
}

std::vector<RecordSpan> channel_spans(const std::optional<std::vector<RecordSpan>>& configured, int32_t channel,
                                      int64_t now) {
  std::vector<RecordSpan> spans;
  if (configured) {
    for (auto span : *configured) {
      if (span.channel != channel && span.channel >= 0) continue;
      span.channel = channel;
      span.end = std::min(span.end, now);
      if (span.end > span.start && span.file_seconds > 0) spans.push_back(span);
    }
    std::sort(spans.begin(), spans.end(), [](const RecordSpan& a, const RecordSpan& b) { return a.start < b.start; });
    return spans;
  }
  for (int day = 1 - kDefaultDays; day <= 0; ++day) {
    int64_t midnight = local_midnight(now, day);
    int64_t gap_start = midnight + kDefaultGapHour * 3600;
    int64_t next_midnight = local_midnight(now, day + 1);
    for (auto [from, to] : {std::pair<int64_t, int64_t>{midnight, gap_start},
                            std::pair<int64_t, int64_t>{gap_start + 3600, next_midnight}}) {
      to = std::min(to, now);
      if (to > from) spans.push_back(RecordSpan{channel, from, to, 3600, 0});
    }
  }
  return spans;
}

std::vector<RecordedFile> files_overlapping(const std::vector<RecordSpan>& spans, int64_t from, int64_t to,
                                            uint32_t record_type, size_t most) {
  std::vector<RecordedFile> files;
  for (const auto& span : spans) {
    if (files.size() >= most) break;
    if (span.start >= to || span.end <= from) continue;
    if (record_type != 0 && span.record_type != record_type) continue;
    // The first file of the span that ends after `from`.
    int64_t index = from > span.start ? (from - span.start) / span.file_seconds : 0;
    for (int64_t start = span.start + index * span.file_seconds; start < span.end && start < to; start += span.file_seconds) {
      int64_t end = std::min(start + span.file_seconds, span.end);
      if (end <= from) continue;
      if (files.size() >= most) break;
      files.push_back(RecordedFile{span.channel, start, end, span.record_type});
    }
  }
  return files;
}

uint32_t month_mask(const std::vector<RecordSpan>& spans, int year, int month, uint32_t record_type) {
  uint32_t mask = 0;
  proto::Time first;
  first.year = static_cast<uint16_t>(year);
  first.month = static_cast<uint8_t>(month);
  first.day = 1;
  int64_t day_start = to_epoch(first);
  for (int day = 0; day < 31; ++day) {
    int64_t next = local_midnight(day_start, 1);
    if (from_epoch(day_start).month != month) break;
    if (!files_overlapping(spans, day_start, next, record_type, 1).empty()) mask |= 1u << day;
    day_start = next;
  }
  return mask;
}

proto::RecordFile describe(const RecordedFile& file) {
  proto::RecordFile out;
  out.start = from_epoch(file.start);
  out.end = from_epoch(file.end);
  char name[128];
  std::snprintf(name, sizeof name, "/mnt/sd/%04u-%02u-%02u/ch%02d/%02u.%02u.%02u-%02u.%02u.%02u[%c].dav",
                out.start.year, out.start.month, out.start.day, file.channel + 1, out.start.hour, out.start.minute,
                out.start.second, out.end.hour, out.end.minute, out.end.second, "RAMC"[file.record_type & 3]);
  out.name = name;
  int64_t seconds = file.end - file.start;
  out.size_kib = static_cast<uint32_t>(seconds * kKibPerSecond);
  out.frames = static_cast<uint32_t>(seconds * 25);
  out.record_type = file.record_type;
  return out;
}

}  // namespace sim::device::recordings
