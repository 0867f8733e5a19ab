#include "t2u/wire/protocol.h"

#include <charconv>

namespace t2u::wire {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string encode_text(std::string_view text) {
  if (text.empty()) return "%";
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || c == '%') {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 15]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::optional<std::string> decode_text(std::string_view word) {
  if (word == "%") return std::string();
  if (word.empty()) return std::nullopt;
  std::string out;
  out.reserve(word.size());
  for (size_t i = 0; i < word.size(); ++i) {
    if (word[i] != '%') {
      // Bytes the encoding always escapes never stand for themselves (a raw zero would cut
      // the text short once it is used as a C string).
      auto byte = static_cast<unsigned char>(word[i]);
      if (byte <= 0x20 || byte >= 0x7F) return std::nullopt;
      out.push_back(word[i]);
      continue;
    }
    if (i + 2 >= word.size()) return std::nullopt;
    int hi = hex_value(word[i + 1]);
    int lo = hex_value(word[i + 2]);
    if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return std::nullopt;  // texts are C strings
    out.push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  return out;
}

std::vector<std::string_view> split_words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

std::optional<uint64_t> parse_unsigned(std::string_view word, uint64_t max) {
  uint64_t value = 0;
  auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (ec != std::errc() || end != word.data() + word.size() || value > max) return std::nullopt;
  return value;
}

std::optional<int64_t> parse_signed(std::string_view word) {
  int64_t value = 0;
  auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (ec != std::errc() || end != word.data() + word.size()) return std::nullopt;
  return value;
}

}  // namespace t2u::wire
