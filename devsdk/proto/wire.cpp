#include "devsdk/proto/wire.h"

#include <cstring>

namespace proto {
namespace {

void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

void append_header(std::vector<uint8_t>& out, const Header& header) {
  uint8_t head[kHeaderBytes];
  put32(head, kMagic);
  head[4] = header.version;
  head[5] = header.flags;
  put16(head + 6, header.type);
  put32(head + 8, header.request_id);
  put32(head + 12, static_cast<uint32_t>(header.status));
  put32(head + 16, header.length);
  out.insert(out.end(), head, head + kHeaderBytes);
}

void append_message(std::vector<uint8_t>& out, const Header& header, const uint8_t* payload, size_t length) {
  Header h = header;
  h.length = static_cast<uint32_t>(length);
  append_header(out, h);
  if (length > 0) out.insert(out.end(), payload, payload + length);
}

void FrameReader::feed(const uint8_t* data, size_t length) {
  if (failed_ != Result::need_more || length == 0) return;
  // Drop what was handed out before growing: the buffer then holds only bytes not yet handed
  // out, at most one partial message once the reader drains it after each feed.
  if (start_ > 0 && (start_ == buffer_.size() || start_ >= 65536)) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), data, data + length);
}

FrameReader::Result FrameReader::next(Message& out) {
  if (failed_ != Result::need_more) return failed_;
  size_t available = buffer_.size() - start_;
  if (available < kHeaderBytes) {
    // A wrong magic is known from the first bytes: refuse early rather than wait for more.
    uint8_t magic[4];
    put32(magic, kMagic);
    if (available > 0 && memcmp(buffer_.data() + start_, magic, available < 4 ? available : 4) != 0) {
      failed_ = Result::malformed;
    }
    return failed_;
  }
  const uint8_t* p = buffer_.data() + start_;
  Header h;
  h.version = p[4];
  h.flags = p[5];
  h.type = get16(p + 6);
  h.request_id = get32(p + 8);
  h.status = static_cast<int32_t>(get32(p + 12));
  h.length = get32(p + 16);
  if (get32(p) != kMagic || h.version != kVersion || (h.flags & ~(kFlagReply | kFlagPush)) != 0 ||
      h.flags == (kFlagReply | kFlagPush) || h.type == 0) {
    failed_ = Result::malformed;
    return failed_;
  }
  if (h.length > max_payload_) {
    failed_ = Result::oversized;
    return failed_;
  }
  if (available - kHeaderBytes < h.length) return Result::need_more;
  out.header = h;
  out.payload.assign(p + kHeaderBytes, p + kHeaderBytes + h.length);
  start_ += kHeaderBytes + h.length;
  return Result::message;
}

Writer& Writer::u8(uint8_t v) {
  data_.push_back(v);
  return *this;
}
Writer& Writer::u16(uint16_t v) {
  uint8_t b[2];
  put16(b, v);
  data_.insert(data_.end(), b, b + 2);
  return *this;
}
Writer& Writer::u32(uint32_t v) {
  uint8_t b[4];
  put32(b, v);
  data_.insert(data_.end(), b, b + 4);
  return *this;
}
Writer& Writer::u64(uint64_t v) {
  u32(static_cast<uint32_t>(v));
  return u32(static_cast<uint32_t>(v >> 32));
}
Writer& Writer::text(std::string_view v) {
  size_t n = v.size() > 0xFFFF ? 0xFFFF : v.size();
  u16(static_cast<uint16_t>(n));
  data_.insert(data_.end(), v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n));
  return *this;
}
Writer& Writer::bytes(const uint8_t* data, size_t length) {
  if (length > 0) data_.insert(data_.end(), data, data + length);
  return *this;
}

bool Reader::take(size_t n) {
  if (!ok_ || length_ - offset_ < n) {
    ok_ = false;
    return false;
  }
  return true;
}

uint8_t Reader::u8() {
  if (!take(1)) return 0;
  return data_[offset_++];
}
uint16_t Reader::u16() {
  if (!take(2)) return 0;
  uint16_t v = get16(data_ + offset_);
  offset_ += 2;
  return v;
}
uint32_t Reader::u32() {
  if (!take(4)) return 0;
  uint32_t v = get32(data_ + offset_);
  offset_ += 4;
  return v;
}
uint64_t Reader::u64() {
  uint64_t low = u32();
  uint64_t high = u32();
  return low | (high << 32);
}
std::string Reader::text(size_t max_length) {
  size_t n = u16();
  if (!ok_) return {};
  if (n > max_length || !take(n)) {
    ok_ = false;
    return {};
  }
  const char* p = reinterpret_cast<const char*>(data_ + offset_);
  if (memchr(p, 0, n) != nullptr) {
    ok_ = false;
    return {};
  }
  offset_ += n;
  return std::string(p, n);
}
std::vector<uint8_t> Reader::rest() {
  if (!ok_) return {};
  std::vector<uint8_t> v(data_ + offset_, data_ + length_);
  offset_ = length_;
  return v;
}

}  // namespace proto
