#include "sim/device/recordings/recordings_json.h"

#include <cstdio>
#include <cstring>

#include "platform/json/json_integer.h"
#include "sim/device/recordings/schedule.h"

namespace sim::device::recordings {
namespace {

bool digits(const char* text, size_t count) {
  if (std::strlen(text) != count) return false;
  for (size_t i = 0; i < count; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

// A 14-digit local time YYYYMMDDhhmmss.
bool absolute_time(const cJSON* item, int64_t& out) {
  if (!cJSON_IsString(item) || !digits(item->valuestring, 14)) return false;
  unsigned y, mo, d, h, mi, s;
  if (std::sscanf(item->valuestring, "%4u%2u%2u%2u%2u%2u", &y, &mo, &d, &h, &mi, &s) != 6) return false;
  if (y < 1970 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59) return false;
  proto::Time t;
  t.year = static_cast<uint16_t>(y);
  t.month = static_cast<uint8_t>(mo);
  t.day = static_cast<uint8_t>(d);
  t.hour = static_cast<uint8_t>(h);
  t.minute = static_cast<uint8_t>(mi);
  t.second = static_cast<uint8_t>(s);
  out = to_epoch(t);
  return true;
}

// A 6-digit time of day hhmmss, 240000 for the end of the day: seconds after midnight.
bool time_of_day(const cJSON* item, int64_t fallback, int64_t& out) {
  if (item == nullptr) {
    out = fallback;
    return true;
  }
  if (!cJSON_IsString(item) || !digits(item->valuestring, 6)) return false;
  unsigned h, mi, s;
  if (std::sscanf(item->valuestring, "%2u%2u%2u", &h, &mi, &s) != 3) return false;
  if (mi > 59 || s > 59 || h > 24 || (h == 24 && (mi != 0 || s != 0))) return false;
  out = h * 3600 + mi * 60 + s;
  return true;
}

template <class Int>
bool integer(const cJSON* object, const char* key, long long low, long long high, Int& value) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, key);
  if (item == nullptr) return true;
  std::optional<long long> v = platform::json_integer<long long>(item);
  if (!v || *v < low || *v > high) return false;
  value = static_cast<Int>(*v);
  return true;
}

}  // namespace

bool read_recordings(const cJSON* item, int64_t now, std::vector<RecordSpan>& out, std::string& error,
                     const std::string& where) {
  if (!cJSON_IsArray(item)) {
    error = where + ": \"device\".\"recordings\" must be an array of spans";
    return false;
  }
  out.clear();
  int index = 0;
  const cJSON* entry;
  cJSON_ArrayForEach(entry, item) {
    std::string at = where + ": \"device\".\"recordings\"[" + std::to_string(index++) + "]";
    auto refuse = [&](const char* what) {
      error = at + ": " + what;
      return false;
    };
    if (!cJSON_IsObject(entry)) return refuse("must be an object");
    RecordSpan base;
    base.channel = -1;
    if (!integer(entry, "channel", 0, 255, base.channel)) return refuse("\"channel\" must be an integer from 0 to 255");
    if (!integer(entry, "file_seconds", 1, 86400, base.file_seconds))
      return refuse("\"file_seconds\" must be an integer from 1 to 86400");
    if (!integer(entry, "type", 0, 3, base.record_type)) return refuse("\"type\" must be an integer from 0 to 3");
    const cJSON* start = cJSON_GetObjectItemCaseSensitive(entry, "start");
    const cJSON* end = cJSON_GetObjectItemCaseSensitive(entry, "end");
    if (start != nullptr || end != nullptr) {
      if (!absolute_time(start, base.start) || !absolute_time(end, base.end))
        return refuse("\"start\" and \"end\" must be local times of 14 digits, YYYYMMDDhhmmss");
      if (base.end <= base.start) return refuse("\"end\" must come after \"start\"");
      out.push_back(base);
      continue;
    }
    int day = 0, days = 1;
    if (!integer(entry, "day", -3650, 0, day)) return refuse("\"day\" must be an integer from -3650 to 0 (today)");
    if (!integer(entry, "days", 1, 3650, days)) return refuse("\"days\" must be an integer from 1 to 3650");
    int64_t from = 0, to = 0;
    if (!time_of_day(cJSON_GetObjectItemCaseSensitive(entry, "from"), 0, from) ||
        !time_of_day(cJSON_GetObjectItemCaseSensitive(entry, "to"), 86400, to)) {
      return refuse("\"from\" and \"to\" must be times of day of 6 digits, hhmmss (240000: midnight)");
    }
    if (to <= from) return refuse("\"to\" must come after \"from\"");
    for (int i = 0; i < days; ++i) {
      // Hours past the day's start, so a day of a daylight-saving change keeps its wall clock.
      int64_t midnight = local_midnight(now, day + i);
      RecordSpan span = base;
      proto::Time t = from_epoch(midnight);
      t.hour = static_cast<uint8_t>(from / 3600);
      t.minute = static_cast<uint8_t>(from / 60 % 60);
      t.second = static_cast<uint8_t>(from % 60);
      span.start = to_epoch(t);
      if (to == 86400) {
        span.end = local_midnight(now, day + i + 1);
      } else {
        t.hour = static_cast<uint8_t>(to / 3600);
        t.minute = static_cast<uint8_t>(to / 60 % 60);
        t.second = static_cast<uint8_t>(to % 60);
        span.end = to_epoch(t);
      }
      if (span.end > span.start) out.push_back(span);
    }
  }
  return true;
}

}  // namespace sim::device::recordings
