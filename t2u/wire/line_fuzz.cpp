// Fuzz target: the tunnel's line channel as a peer feeds it. Arbitrary bytes arrive in pieces
// whose size the first byte chooses; every line that comes out is taken apart the way the
// library and the service take their lines apart.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "t2u/wire/line_channel.h"
#include "t2u/wire/protocol.h"

namespace {

bool take_apart(std::string_view line) {
  if (line.size() > t2u::wire::kMaxLine || line.find('\n') != std::string_view::npos) abort();
  for (std::string_view word : t2u::wire::split_words(line)) {
    if (word.empty() || word.find(' ') != std::string_view::npos) abort();
    if (auto text = t2u::wire::decode_text(word)) {
      // A decoded text encodes to a word that decodes to it again.
      auto again = t2u::wire::decode_text(t2u::wire::encode_text(*text));
      if (!again || *again != *text || text->find('\0') != std::string::npos) abort();
    }
    t2u::wire::parse_unsigned(word, UINT64_MAX);
    t2u::wire::parse_unsigned(word, 65535);
    t2u::wire::parse_signed(word);
  }
  return line != "QUIT";  // a handler may refuse a line: the channel stops there
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t piece = data[0] % 251 + 1;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  t2u::wire::LineSplitter lines;
  while (!rest.empty()) {
    size_t n = std::min(piece, rest.size());
    if (lines.feed(rest.substr(0, n), take_apart) != t2u::wire::LineSplitter::Result::more) break;
    rest.remove_prefix(n);
  }
  return 0;
}
