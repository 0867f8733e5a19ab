#include "t2u/wire/line_channel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "t2u/wire/protocol.h"

namespace t2u::wire {
namespace {

TEST(LineSplitter, GivesWholeLinesWhateverThePiecesAndRefusesOverLongOnes) {
  const std::string longest(kMaxLine, 'x');
  struct Case {
    std::string stream;
    std::vector<std::string> lines;
    LineSplitter::Result end;
  } cases[] = {
      {"STATUS 1 1 0 0\nSTATUS 2", {"STATUS 1 1 0 0"}, LineSplitter::Result::more},
      {"\n\na\n", {"", "", "a"}, LineSplitter::Result::more},
      {longest + "\n", {longest}, LineSplitter::Result::more},
      // Too long whether it arrives whole or still open.
      {longest + "y\nnext\n", {}, LineSplitter::Result::too_long},
      {longest + "y", {}, LineSplitter::Result::too_long},
      // The handler refuses "stop": nothing after it is handed on.
      {"a\nstop\nb\n", {"a", "stop"}, LineSplitter::Result::refused},
  };
  for (const auto& c : cases) {
    for (size_t piece : {size_t{1}, size_t{3}, size_t{5000}}) {
      SCOPED_TRACE(c.stream.substr(0, 20) + " in pieces of " + std::to_string(piece));
      LineSplitter splitter;
      std::vector<std::string> lines;
      LineSplitter::Result end = LineSplitter::Result::more;
      for (size_t at = 0; at < c.stream.size() && end == LineSplitter::Result::more; at += piece) {
        end = splitter.feed(std::string_view(c.stream).substr(at, piece), [&](std::string_view line) {
          lines.emplace_back(line);
          return line != "stop";
        });
      }
      EXPECT_EQ(end, c.end);
      EXPECT_EQ(lines, c.lines);
    }
  }
}

}  // namespace
}  // namespace t2u::wire
