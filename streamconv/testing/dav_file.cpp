#include "streamconv/testing/dav_file.h"

#include <cmath>

#include "devsdk/proto/media_block.h"

namespace streamconv::testing {

uint8_t linear_to_alaw(int16_t linear) {
  static const int kSegmentEnds[8] = {0x1f, 0x3f, 0x7f, 0xff, 0x1ff, 0x3ff, 0x7ff, 0xfff};
  int value = linear >> 3;
  int mask = 0xd5;
  if (value < 0) {
    mask = 0x55;
    value = -value - 1;
  }
  int segment = 0;
  while (segment < 8 && value > kSegmentEnds[segment]) ++segment;
  if (segment >= 8) return static_cast<uint8_t>(0x7f ^ mask);
  int code = segment << 4;
  code |= segment < 2 ? (value >> 1) & 0x0f : (value >> segment) & 0x0f;
  return static_cast<uint8_t>(code ^ mask);
}

void append_pictures(std::vector<uint8_t>& out, const std::vector<DavPicture>& pictures, uint16_t width,
                     uint16_t height, bool audio) {
  std::vector<uint8_t> sound(320);  // 40 ms at 8 kHz
  for (const DavPicture& p : pictures) {
    const std::vector<uint8_t>& bytes = p.picture->bytes;
    proto::append_media_block(out, p.picture->key ? kKindKeyFrame : kKindFrame, kCodecH264, p.timestamp_ms, width,
                              height, bytes.data(), bytes.size());
    if (audio) {
      for (size_t i = 0; i < sound.size(); ++i) {
        double t = static_cast<double>(p.timestamp_ms * 8 + i) / 8000.0;
        sound[i] = linear_to_alaw(static_cast<int16_t>(kToneAmplitude * std::sin(2 * M_PI * kToneHz * t)));
      }
      proto::append_media_block(out, kKindAudio, kCodecG711A, p.timestamp_ms, 0, 0, sound.data(), sound.size());
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
