// The pane title of a live stream: device name, channel counted from 1, stream name, size and
// the tunnel's facts, with "Relay " only for a relayed tunnel.
#include "kavrel/media/live_title.h"

#include <gtest/gtest.h>

namespace kavrel {
namespace {

struct TitleCase {
  int32_t channel, stream, width, height;
  LiveConnectionFacts facts;
  const char* expected;
};

TEST(LiveTitleTest, TitlesForEachStreamAndTunnel) {
  const TitleCase cases[] = {
      {0, 0, 704, 576, {1, 2, 3, 4}, "Loja : 1 (Principal  704 x 576 NAT Relay L:2 R:3 V:4)"},
      {1, 1, 352, 288, {0, 1, 0, 7}, "Loja : 2 (Extra  352 x 288 NAT L:1 R:0 V:7)"},
      {2, 2, 0, 0, {0, 0, 0, 0}, "Loja : 3 (Multicanais  0 x 0 NAT L:0 R:0 V:0)"},
      {0, 8, 704, 576, {5, 0, 0, 0}, "Loja : 1 ( 704 x 576 NAT Relay L:0 R:0 V:0)"},
  };
  for (const TitleCase& c : cases) {
    EXPECT_EQ(live_title("Loja", c.channel, c.stream, c.width, c.height, c.facts), c.expected);
  }
}

TEST(LiveTitleTest, ALongDeviceNameIsKeptWhole) {
  std::string name(600, 'n');
  std::string title = live_title(name, 0, 0, 1, 1, {});
  EXPECT_EQ(title.rfind(name + " : 1 (Principal ", 0), 0u);
}

}  // namespace
}  // namespace kavrel
