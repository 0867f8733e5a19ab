// Random secrets of one run (the address token, the session cookie, download names) and their
// comparison.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace host {

// `bytes` random bytes from the kernel (getrandom), as lowercase hexadecimal.
std::string random_hex(size_t bytes);

// Compares in time that depends only on the lengths, so a guess learns nothing from timing.
bool secret_equal(std::string_view a, std::string_view b);

}  // namespace host
