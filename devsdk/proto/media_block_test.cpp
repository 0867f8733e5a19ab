#include "devsdk/proto/media_block.h"

#include <gtest/gtest.h>

namespace proto {
namespace {

std::vector<uint8_t> two_blocks() {
  std::vector<uint8_t> stream;
  const uint8_t a[] = {0, 0, 0, 1, 0x65, 1, 2, 3};
  append_media_block(stream, 1, 1, 1765000000123ull, 704, 576, a, sizeof a);
  append_media_block(stream, 4, 0, 1765000000124ull, 1280, 720, nullptr, 0);
  return stream;
}

// A consumer may get the raw stream cut anywhere: every cut gives the same blocks.
TEST(MediaBlock, ReadsTheSameBlocksWhereverTheStreamIsCut) {
  auto stream = two_blocks();
  ASSERT_EQ(stream.size(), 2 * kMediaBlockHeaderBytes + 8);
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    MediaBlockReader reader;
    std::vector<MediaBlock> blocks;
    MediaBlock b;
    reader.feed(stream.data(), cut);
    while (reader.next(b) == MediaBlockReader::Result::block) blocks.push_back(b);
    reader.feed(stream.data() + cut, stream.size() - cut);
    while (reader.next(b) == MediaBlockReader::Result::block) blocks.push_back(b);
    ASSERT_EQ(blocks.size(), 2u) << "cut at " << cut;
    EXPECT_EQ(blocks[0].kind, 1);
    EXPECT_EQ(blocks[0].timestamp_ms, 1765000000123ull);
    EXPECT_EQ(blocks[0].width, 704);
    EXPECT_EQ(blocks[0].height, 576);
    EXPECT_EQ(blocks[0].data.size(), 8u);
    EXPECT_EQ(blocks[1].kind, 4);
    EXPECT_TRUE(blocks[1].data.empty());
    EXPECT_EQ(reader.buffered(), 0u);
  }
}

TEST(MediaBlock, BadHeadersFailForGood) {
  struct Case {
    const char* what;
    size_t offset;
    uint8_t value;
  };
  const Case cases[] = {{"magic", 0, 'X'}, {"version", 4, 2}, {"length above 4 MiB", 23, 0x01}};
  for (const auto& c : cases) {
    auto stream = two_blocks();
    stream[c.offset] = c.value;
    MediaBlockReader reader;
    reader.feed(stream.data(), stream.size());
    MediaBlock b;
    EXPECT_EQ(reader.next(b), MediaBlockReader::Result::malformed) << c.what;
    auto good = two_blocks();
    reader.feed(good.data(), good.size());
    EXPECT_EQ(reader.next(b), MediaBlockReader::Result::malformed) << c.what;
  }
}

}  // namespace
}  // namespace proto
