#include "devsdk/proto/wire.h"

#include <gtest/gtest.h>

#include "devsdk/proto/messages.h"

namespace proto {
namespace {

using Result = FrameReader::Result;

std::vector<uint8_t> sample(uint16_t type, uint32_t id, std::vector<uint8_t> payload, uint8_t flags = 0) {
  std::vector<uint8_t> out;
  Header h;
  h.type = type;
  h.request_id = id;
  h.flags = flags;
  append_message(out, h, payload);
  return out;
}

TEST(FrameReader, DeliversAMessageFedOneByteAtATime) {
  auto bytes = sample(7, 42, {1, 2, 3, 4, 5});
  FrameReader reader(kMaxControlPayload);
  Message m;
  for (size_t i = 0; i + 1 < bytes.size(); ++i) {
    reader.feed(&bytes[i], 1);
    ASSERT_EQ(reader.next(m), Result::need_more) << "after byte " << i;
  }
  reader.feed(&bytes.back(), 1);
  ASSERT_EQ(reader.next(m), Result::message);
  EXPECT_EQ(m.header.type, 7);
  EXPECT_EQ(m.header.request_id, 42u);
  EXPECT_EQ(m.payload, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(reader.next(m), Result::need_more);
  EXPECT_EQ(reader.buffered(), 0u);
}

TEST(FrameReader, SplitsSeveralMessagesFedAtOnce) {
  std::vector<uint8_t> bytes;
  for (uint32_t id = 1; id <= 3; ++id) {
    auto one = sample(9, id, std::vector<uint8_t>(id * 10, static_cast<uint8_t>(id)), kFlagReply);
    bytes.insert(bytes.end(), one.begin(), one.end());
  }
  auto tail = sample(9, 4, {9, 9});
  bytes.insert(bytes.end(), tail.begin(), tail.begin() + 5);  // a partial fourth message
  FrameReader reader(kMaxControlPayload);
  reader.feed(bytes.data(), bytes.size());
  Message m;
  for (uint32_t id = 1; id <= 3; ++id) {
    ASSERT_EQ(reader.next(m), Result::message);
    EXPECT_EQ(m.header.request_id, id);
    EXPECT_TRUE(m.is_reply());
    EXPECT_EQ(m.payload.size(), id * 10);
  }
  EXPECT_EQ(reader.next(m), Result::need_more);
  reader.feed(tail.data() + 5, tail.size() - 5);
  ASSERT_EQ(reader.next(m), Result::message);
  EXPECT_EQ(m.header.request_id, 4u);
}

TEST(FrameReader, RefusesBrokenHeadersAndStaysFailed) {
  struct Case {
    const char* what;
    size_t offset;
    uint8_t value;
    Result expected;
  };
  const Case cases[] = {
      {"wrong magic", 0, 'X', Result::malformed},
      {"wrong version", 4, 2, Result::malformed},
      {"unknown flag", 5, 0x04, Result::malformed},
      {"reply and push at once", 5, 0x03, Result::malformed},
      {"type 0", 6, 0, Result::malformed},
      {"length above the limit", 18, 0x01, Result::oversized},  // 65536 + payload
  };
  for (const auto& c : cases) {
    auto bytes = sample(1, 1, {1, 2, 3});
    bytes[c.offset] = c.value;
    if (c.offset == 6) bytes[7] = 0;
    FrameReader reader(1024);
    reader.feed(bytes.data(), bytes.size());
    Message m;
    EXPECT_EQ(reader.next(m), c.expected) << c.what;
    // Once failed, nothing more comes out, even a good message.
    auto good = sample(1, 2, {});
    reader.feed(good.data(), good.size());
    EXPECT_EQ(reader.next(m), c.expected) << c.what;
  }
}

TEST(FrameReader, RefusesAWrongMagicBeforeTheHeaderIsComplete) {
  const uint8_t start[] = {'K', 'V', 'X'};
  FrameReader reader(1024);
  reader.feed(start, sizeof start);
  Message m;
  EXPECT_EQ(reader.next(m), Result::malformed);
}

TEST(FrameReader, RefusesAnOversizedLengthWithoutWaitingForThePayload) {
  Header h;
  h.type = 1;
  h.length = 0x7FFFFFF0u;
  std::vector<uint8_t> bytes;
  append_header(bytes, h);
  ASSERT_EQ(bytes.size(), kHeaderBytes);
  FrameReader reader(kMaxStreamPayload);
  reader.feed(bytes.data(), bytes.size());
  Message m;
  EXPECT_EQ(reader.next(m), Result::oversized);
}

TEST(FrameReader, AcceptsAPayloadOfExactlyTheLimit) {
  auto bytes = sample(1, 1, std::vector<uint8_t>(100, 7));
  FrameReader reader(100);
  reader.feed(bytes.data(), bytes.size());
  Message m;
  EXPECT_EQ(reader.next(m), Result::message);
}

TEST(Reader, FailsPastTheEndAndStaysFailed) {
  const uint8_t data[] = {1, 2, 3};
  Reader r(data, sizeof data);
  EXPECT_EQ(r.u16(), 0x0201);
  EXPECT_EQ(r.u32(), 0u);  // only one byte left
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.u8(), 0);  // even though a byte remains
  EXPECT_EQ(r.remaining(), 0u);
}

TEST(Reader, RefusesTextsOverTheirLimitOrWithANul) {
  struct Case {
    std::vector<uint8_t> bytes;
    size_t limit;
    bool ok;
  };
  const Case cases[] = {
      {{3, 0, 'a', 'b', 'c'}, 3, true},
      {{3, 0, 'a', 'b', 'c'}, 2, false},
      {{3, 0, 'a', 0, 'c'}, 3, false},
      {{5, 0, 'a', 'b'}, 10, false},  // runs past the payload
      {{0, 0}, 0, true},
  };
  for (const auto& c : cases) {
    Reader r(c.bytes);
    r.text(c.limit);
    EXPECT_EQ(r.ok(), c.ok) << c.bytes.size() << " bytes, limit " << c.limit;
  }
}

}  // namespace
}  // namespace proto
