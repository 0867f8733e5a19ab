// Script strings (UTF-16) and the platform's narrow code page (UTF-8). Lengths of narrow text
// always count bytes. Invalid sequences become U+FFFD instead of being dropped or overrun.
#pragma once

#include <string>
#include <string_view>

namespace kavrel {

std::string to_narrow(std::u16string_view text);
// A null BSTR reads as empty text.
std::string to_narrow(const char16_t* text);
std::u16string to_wide(std::string_view text);
// Null reads as empty text.
std::u16string to_wide(const char* text);

}  // namespace kavrel
