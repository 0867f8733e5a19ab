#include "brixa/record/date_time.h"

#include <cstdio>
#include <ctime>

namespace brixa::record {

NET_TIME parse_time(const char* text) {
  NET_TIME t{};
  if (text == nullptr) return t;
  unsigned int f[6] = {};
  sscanf(text, "%4u%2u%2u%2u%2u%2u", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]);
  t.year = f[0];
  t.month = f[1];
  t.day = f[2];
  t.hour = f[3];
  t.minute = f[4];
  t.second = f[5];
  return t;
}

NET_TIME parse_month(const char* text) {
  NET_TIME t{};
  if (text == nullptr) return t;
  unsigned int f[2] = {};
  sscanf(text, "%4u%2u", &f[0], &f[1]);
  t.year = f[0];
  t.month = f[1];
  return t;
}

NET_TIME add_seconds(const NET_TIME& time, int64_t seconds) {
  struct tm fields {};
  fields.tm_year = static_cast<int>(time.year) - 1900;
  fields.tm_mon = static_cast<int>(time.month) - 1;
  fields.tm_mday = static_cast<int>(time.day);
  fields.tm_hour = static_cast<int>(time.hour);
  fields.tm_min = static_cast<int>(time.minute);
  fields.tm_sec = static_cast<int>(time.second);
  fields.tm_isdst = -1;
  time_t point = mktime(&fields) + static_cast<time_t>(seconds);
  struct tm local {};
  localtime_r(&point, &local);
  NET_TIME out{};
  out.year = static_cast<uint32_t>(local.tm_year + 1900);
  out.month = static_cast<uint32_t>(local.tm_mon + 1);
  out.day = static_cast<uint32_t>(local.tm_mday);
  out.hour = static_cast<uint32_t>(local.tm_hour);
  out.minute = static_cast<uint32_t>(local.tm_min);
  out.second = static_cast<uint32_t>(local.tm_sec);
  return out;
}

std::string format_time(const NET_TIME& time) {
  char text[64];
  snprintf(text, sizeof text, "%d%.2d%.2d%.2d%.2d%.2d", static_cast<int>(time.year), static_cast<int>(time.month),
           static_cast<int>(time.day), static_cast<int>(time.hour), static_cast<int>(time.minute),
           static_cast<int>(time.second));
  return text;
}

}  // namespace brixa::record
