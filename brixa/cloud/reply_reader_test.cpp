#include "brixa/cloud/reply_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "brixa/cloud/http_exchange.h"

namespace brixa::cloud {
namespace {

struct Outcome {
  int32_t rc = 0;
  bool header_full = false;
  bool complete = false;
  int32_t status = -1;
  std::string body;
};

// Feeds `reply` in pieces of `piece` bytes, as receives would deliver them.
Outcome feed(const std::string& reply, size_t piece) {
  CloudSession s;
  ReplyReader reader(s);
  Outcome out;
  size_t at = 0;
  while (at < reply.size()) {
    if (reader.header_full()) {
      out.header_full = true;
      break;
    }
    size_t n = std::min({piece, reply.size() - at, reader.room()});
    if (n == 0) break;
    std::memcpy(reader.space(), reply.data() + at, n);
    at += n;
    out.rc = reader.take(n);
    if (out.rc != 0) break;
  }
  reader.finish();
  out.complete = reader.body_complete();
  out.status = s.status;
  out.body = std::string(s.body.data(), body_text_length(s));
  return out;
}

TEST(ReplyReader, ReadsStatusAndBodyHoweverTheBytesArrive) {
  struct Case {
    std::string reply;
    int32_t rc;
    bool complete;
    int32_t status;
    std::string body;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", 0, true, 200, "hello"},
      {"HTTP/1.0 404 Not Found\r\n\r\n", 0, true, 404, ""},
      // Bytes past the announced length are not kept.
      {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhello", 0, true, 200, "he"},
      // Only "Content-Length:" as written counts: without it no body is awaited.
      {"HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\r\n", 0, true, 200, ""},
      // A peer that stops early leaves what has arrived.
      {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhel", 0, false, 200, "hel"},
      {"garbage\r\n\r\n", kErrStatusLine, true, -1, ""},
      {"HTTP/1.1 200 OK\r\nContent-Length: -4\r\n\r\n", kErrBody, true, 200, ""},
      {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n", kErrBody, true, 200, ""},
      // Still in the header: nothing complete.
      {"HTTP/1.1 200 OK\r\nContent-Le", 0, false, -1, ""},
  };
  for (const auto& c : cases) {
    for (size_t piece : {size_t{1}, size_t{7}, size_t{4096}}) {
      SCOPED_TRACE(c.reply + " in pieces of " + std::to_string(piece));
      Outcome out = feed(c.reply, piece);
      EXPECT_EQ(out.rc, c.rc);
      if (c.rc != 0) continue;
      EXPECT_EQ(out.complete, c.complete);
      EXPECT_EQ(out.status, c.status);
      EXPECT_EQ(out.body, c.body);
    }
  }
}

TEST(ReplyReader, AHeaderThatFillsItsBufferWithoutEndingIsRefused) {
  std::string reply = "HTTP/1.1 200 OK\r\nX: " + std::string(2000, 'x');
  Outcome out = feed(reply, 100);
  EXPECT_TRUE(out.header_full);
  EXPECT_FALSE(out.complete);
}

TEST(ReplyReader, ABodyLargerThanTheFirstBufferGrowsIt) {
  std::string body(100000, 'b');
  Outcome out = feed("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + body, 4096);
  EXPECT_TRUE(out.complete);
  EXPECT_EQ(out.body, body);
}

}  // namespace
}  // namespace brixa::cloud
