#include "devsdk/netsdk/local_time.h"

#include <ctime>

namespace netsdk {

bool to_wire_time(const NET_TIME& in, proto::Time& out) {
  if (in.year < 1970 || in.year > 9999 || in.month < 1 || in.month > 12 || in.day < 1 || in.day > 31 ||
      in.hour > 23 || in.minute > 59 || in.second > 59) {
    return false;
  }
  out.year = static_cast<uint16_t>(in.year);
  out.month = static_cast<uint8_t>(in.month);
  out.day = static_cast<uint8_t>(in.day);
  out.hour = static_cast<uint8_t>(in.hour);
  out.minute = static_cast<uint8_t>(in.minute);
  out.second = static_cast<uint8_t>(in.second);
  return true;
}

NET_TIME local_net_time(uint64_t epoch_ms) {
  time_t t = static_cast<time_t>(epoch_ms / 1000);
  struct tm fields {};
  localtime_r(&t, &fields);
  return NET_TIME{static_cast<uint32_t>(fields.tm_year + 1900), static_cast<uint32_t>(fields.tm_mon + 1),
                  static_cast<uint32_t>(fields.tm_mday),        static_cast<uint32_t>(fields.tm_hour),
                  static_cast<uint32_t>(fields.tm_min),         static_cast<uint32_t>(fields.tm_sec)};
}

}  // namespace netsdk
