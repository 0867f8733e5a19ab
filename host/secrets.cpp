#include "host/secrets.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace host {

std::string random_hex(size_t bytes) {
  std::vector<uint8_t> raw(bytes);
  size_t filled = 0;
  while (filled < bytes) {
    ssize_t got = getrandom(raw.data() + filled, bytes - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      // Without the kernel's randomness there is no safe secret to hand out.
      std::abort();
    }
    filled += static_cast<size_t>(got);
  }
  static const char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes * 2);
  for (uint8_t b : raw) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

bool secret_equal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

}  // namespace host
