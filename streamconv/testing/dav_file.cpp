#include "streamconv/testing/dav_file.h"

#include "devsdk/proto/media_block.h"

namespace streamconv::testing {

void append_pictures(std::vector<uint8_t>& out, const std::vector<DavPicture>& pictures, uint16_t width,
                     uint16_t height, bool audio) {
  static const std::vector<uint8_t> silence(320, 0xd5);  // A-law zero, 40 ms at 8 kHz
  for (const DavPicture& p : pictures) {
    const std::vector<uint8_t>& bytes = p.picture->bytes;
    proto::append_media_block(out, p.picture->key ? kKindKeyFrame : kKindFrame, kCodecH264, p.timestamp_ms, width,
                              height, bytes.data(), bytes.size());
    if (audio) {
      proto::append_media_block(out, kKindAudio, kCodecG711A, p.timestamp_ms, 0, 0, silence.data(), silence.size());
    }
  }
}

std::vector<DavPicture> looped(const std::vector<EncodedPicture>& loop, size_t first, size_t count,
                               uint64_t start_ms, uint64_t interval_ms) {
  std::vector<DavPicture> out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) out.push_back(DavPicture{&loop[(first + i) % loop.size()], start_ms + i * interval_ms});
  return out;
}

}  // namespace streamconv::testing
