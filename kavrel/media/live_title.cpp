#include "kavrel/media/live_title.h"

#include <cstdio>
#include <vector>

namespace kavrel {

const char* live_stream_name(int32_t stream) {
  switch (stream) {
    case 0: return "Principal ";
    case 1: return "Extra ";
    case 2: return "Multicanais ";
    default: return "";
  }
}

std::string live_title(const std::string& device_name, int32_t channel, int32_t stream, int32_t width,
                       int32_t height, const LiveConnectionFacts& facts) {
  const char* format = "%s : %d (%s %d x %d NAT %sL:%d R:%d V:%d)";
  auto print = [&](char* out, size_t size) {
    return std::snprintf(out, size, format, device_name.c_str(), channel + 1, live_stream_name(stream), width, height,
                         facts.using_relay != 0 ? "Relay " : "", facts.local_nat, facts.remote_nat,
                         facts.remote_version);
  };
  int length = print(nullptr, 0);
  if (length <= 0) return {};
  std::vector<char> text(static_cast<size_t>(length) + 1);
  print(text.data(), text.size());
  return std::string(text.data(), static_cast<size_t>(length));
}

}  // namespace kavrel
