// The device wire protocol: message framing and the field encoding shared by our Device SDK and
// the device simulator. README.md beside this file describes the protocol as a whole.
//
// Every message is a 20-byte header followed by its payload; all integers are little-endian.
// Nothing here touches sockets: FrameReader takes bytes as they arrive and hands out whole
// messages, Writer and Reader build and read payloads with every length checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace proto {

inline constexpr uint32_t kMagic = 0x5044564Bu;  // the bytes "KVDP"
inline constexpr uint8_t kVersion = 1;
inline constexpr size_t kHeaderBytes = 20;

// Header flags. A request has neither bit; a reply answers the request with the same id; a
// push is sent unasked (request id 0). Any other bit makes the message malformed.
inline constexpr uint8_t kFlagReply = 0x01;
inline constexpr uint8_t kFlagPush = 0x02;

// Largest payloads a peer accepts. A control connection carries requests, replies and alarm
// pushes; a stream connection also carries media frames.
inline constexpr uint32_t kMaxControlPayload = 256 * 1024;
inline constexpr uint32_t kMaxStreamPayload = 4 * 1024 * 1024;

struct Header {
  uint8_t version = kVersion;
  uint8_t flags = 0;
  uint16_t type = 0;
  uint32_t request_id = 0;
  int32_t status = 0;
  uint32_t length = 0;  // payload bytes
};

struct Message {
  Header header;
  std::vector<uint8_t> payload;

  bool is_reply() const { return (header.flags & kFlagReply) != 0; }
  bool is_push() const { return (header.flags & kFlagPush) != 0; }
};

// Appends a header as it stands, its length field included, without a payload.
void append_header(std::vector<uint8_t>& out, const Header& header);
// Appends header and payload to `out`; the header's length field is the payload's size.
void append_message(std::vector<uint8_t>& out, const Header& header, const uint8_t* payload, size_t length);
inline void append_message(std::vector<uint8_t>& out, Header header, const std::vector<uint8_t>& payload) {
  header.length = static_cast<uint32_t>(payload.size());
  append_message(out, header, payload.data(), payload.size());
}

// Cuts a byte stream into messages. Once it reports an error it stays in that state: the
// connection it reads must be closed.
class FrameReader {
 public:
  enum class Result { need_more, message, malformed, oversized };

  explicit FrameReader(uint32_t max_payload) : max_payload_(max_payload) {}

  // Takes more bytes from the stream.
  void feed(const uint8_t* data, size_t length);
  // The next whole message, if the bytes fed so far hold one.
  Result next(Message& out);
  // Bytes fed but not yet handed out as messages.
  size_t buffered() const { return buffer_.size() - start_; }

 private:
  uint32_t max_payload_;
  std::vector<uint8_t> buffer_;
  size_t start_ = 0;  // first byte not yet handed out
  Result failed_ = Result::need_more;
};

// Builds a payload. Texts are written as a 16-bit length and their bytes, without a NUL.
class Writer {
 public:
  Writer& u8(uint8_t v);
  Writer& u16(uint16_t v);
  Writer& u32(uint32_t v);
  Writer& i32(int32_t v) { return u32(static_cast<uint32_t>(v)); }
  Writer& u64(uint64_t v);
  Writer& text(std::string_view v);  // longer than 65535 bytes: cut
  Writer& bytes(const uint8_t* data, size_t length);  // raw, no length prefix

  std::vector<uint8_t>& data() { return data_; }
  std::vector<uint8_t> take() { return std::move(data_); }

 private:
  std::vector<uint8_t> data_;
};

// Reads a payload. A read past the end, or a text longer than its limit, fails the reader and
// every later read; check ok() once at the end. Bytes after the last field a reader knows are
// allowed, so later versions may append fields.
class Reader {
 public:
  Reader(const uint8_t* data, size_t length) : data_(data), length_(length) {}
  explicit Reader(const std::vector<uint8_t>& v) : Reader(v.data(), v.size()) {}

  uint8_t u8();
  uint16_t u16();
  uint32_t u32();
  int32_t i32() { return static_cast<int32_t>(u32()); }
  uint64_t u64();
  // A text of at most `max_length` bytes without NUL bytes (C strings hold them downstream).
  std::string text(size_t max_length);
  // The bytes not read yet.
  std::vector<uint8_t> rest();

  bool ok() const { return ok_; }
  size_t remaining() const { return ok_ ? length_ - offset_ : 0; }

 private:
  bool take(size_t n);
  const uint8_t* data_;
  size_t length_;
  size_t offset_ = 0;
  bool ok_ = true;
};

}  // namespace proto
