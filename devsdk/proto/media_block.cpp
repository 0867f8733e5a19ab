#include "devsdk/proto/media_block.h"

#include <cstring>

namespace proto {
namespace {

constexpr uint8_t kBlockMagic[4] = {'K', 'V', 'M', 'B'};
constexpr uint8_t kBlockVersion = 1;

void put_le(std::vector<uint8_t>& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint64_t get_le(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace

void append_media_block(std::vector<uint8_t>& out, uint8_t kind, uint8_t codec, uint64_t timestamp_ms,
                        uint16_t width, uint16_t height, const uint8_t* data, size_t length) {
  out.reserve(out.size() + kMediaBlockHeaderBytes + length);
  out.insert(out.end(), kBlockMagic, kBlockMagic + 4);
  out.push_back(kBlockVersion);
  out.push_back(kind);
  out.push_back(codec);
  out.push_back(0);
  put_le(out, timestamp_ms, 8);
  put_le(out, width, 2);
  put_le(out, height, 2);
  put_le(out, length, 4);
  out.insert(out.end(), data, data + length);
}

void MediaBlockReader::feed(const uint8_t* data, size_t length) {
  if (failed_) return;
  if (start_ > 0 && start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  } else if (start_ > 1024 * 1024) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), data, data + length);
}

MediaBlockReader::Result MediaBlockReader::next(MediaBlock& out) {
  if (failed_) return Result::malformed;
  size_t have = buffer_.size() - start_;
  if (have < kMediaBlockHeaderBytes) return Result::need_more;
  const uint8_t* h = buffer_.data() + start_;
  uint64_t length = get_le(h + 20, 4);
  if (std::memcmp(h, kBlockMagic, 4) != 0 || h[4] != kBlockVersion || length > kMaxMediaBlockData) {
    failed_ = true;
    return Result::malformed;
  }
  if (have < kMediaBlockHeaderBytes + length) return Result::need_more;
  out.kind = h[5];
  out.codec = h[6];
  out.timestamp_ms = get_le(h + 8, 8);
  out.width = static_cast<uint16_t>(get_le(h + 16, 2));
  out.height = static_cast<uint16_t>(get_le(h + 18, 2));
  out.data.assign(h + kMediaBlockHeaderBytes, h + kMediaBlockHeaderBytes + length);
  start_ += kMediaBlockHeaderBytes + length;
  return Result::block;
}

}  // namespace proto
