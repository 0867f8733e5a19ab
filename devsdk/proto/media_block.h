// The raw stream of our Device SDK: what the NetSDK hands to a real-data callback as
// NET_DATA_RAW and what a play port takes through PLAY_InputData. It is a sequence of media
// blocks, each a 24-byte header and the frame's bytes; a consumer may receive it cut anywhere.
//
//   offset 0   4 bytes  magic "KVMB"
//          4   u8       version 1
//          5   u8       kind: 1 video key frame, 2 video frame, 3 audio, 4 fisheye lens
//          6   u8       codec: 1 H.264 Annex B, 2 G.711 A-law, 0 for lens blocks
//          7   u8       0
//          8   u64      capture time, milliseconds since 1970-01-01 UTC
//         16   u16      picture width
//         18   u16      picture height
//         20   u32      length of the data that follows (at most kMaxMediaBlockData)
//
// Integers are little-endian. A lens block's data is the device's lens record (proto::LensInfo).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace proto {

inline constexpr size_t kMediaBlockHeaderBytes = 24;
inline constexpr uint32_t kMaxMediaBlockData = 4 * 1024 * 1024;

struct MediaBlock {
  uint8_t kind = 0;
  uint8_t codec = 0;
  uint64_t timestamp_ms = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  std::vector<uint8_t> data;
};

// Appends one block, its header and `length` bytes of data.
void append_media_block(std::vector<uint8_t>& out, uint8_t kind, uint8_t codec, uint64_t timestamp_ms,
                        uint16_t width, uint16_t height, const uint8_t* data, size_t length);

// Cuts a raw stream into blocks. A header with a wrong magic or version, or announcing more than
// kMaxMediaBlockData, puts the reader in the failed state for good.
class MediaBlockReader {
 public:
  enum class Result { need_more, block, malformed };
  void feed(const uint8_t* data, size_t length);
  Result next(MediaBlock& out);
  size_t buffered() const { return buffer_.size() - start_; }

 private:
  std::vector<uint8_t> buffer_;
  size_t start_ = 0;
  bool failed_ = false;
};

}  // namespace proto
