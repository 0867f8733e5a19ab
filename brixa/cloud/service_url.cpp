#include "brixa/cloud/service_url.h"

#include <cstdlib>
#include <cstring>

namespace brixa::cloud {
namespace {

constexpr size_t kHostMax = 63;
constexpr size_t kPathMax = 255;

uint16_t read_port(const std::string& text) {
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || value <= 0 || value > 65535) return 80;
  return static_cast<uint16_t>(value);
}

}  // namespace

bool parse_service_url(const char* url, ServiceUrl& out) {
  if (url == nullptr) return false;
  const char* scheme = std::strstr(url, "http://");
  if (scheme == nullptr) return false;
  std::string rest(scheme + 7);

  size_t slash = rest.find('/');
  std::string authority = rest.substr(0, slash);
  ServiceUrl parsed;
  size_t colon = authority.find(':');
  if (colon != std::string::npos) {
    parsed.host = authority.substr(0, colon);
    parsed.port = read_port(authority.substr(colon + 1));
  } else {
    parsed.host = authority;
    parsed.port = 80;
  }
  parsed.path = slash == std::string::npos ? "/" : rest.substr(slash);
  if (parsed.host.size() > kHostMax) parsed.host.resize(kHostMax);
  if (parsed.path.size() > kPathMax) parsed.path.resize(kPathMax);
  out = std::move(parsed);
  return true;
}

}  // namespace brixa::cloud
