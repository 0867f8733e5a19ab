// The cloud account service's address, as given to biz_create.
#pragma once

#include <cstdint>
#include <string>

namespace brixa::cloud {

struct ServiceUrl {
  std::string host;  // at most 63 characters
  uint16_t port = 80;
  std::string path = "/";  // at most 255 characters
};

// Reads "http://host[:port][/path]". Fails when the text holds no "http://". A port of 0, one
// that is not a number from 1 to 65535, or no port at all gives 80; no path gives "/". A ":"
// after the first "/" belongs to the path, not to the host.
bool parse_service_url(const char* url, ServiceUrl& out);

}  // namespace brixa::cloud
