#include "sim/device/video/time_code.h"

#include <cstring>

namespace sim::device::video {
namespace {

constexpr int kBlocksPerRow = 24;
constexpr int kBlockLines = 16;
constexpr uint64_t kMsMask = (uint64_t{1} << 40) - 1;

// CRC-8 (polynomial 0x07) starting from 0xFF, so an all-black or all-white strip never checks.
uint8_t crc8(uint64_t value40) {
  uint8_t crc = 0xFF;
  for (int i = 4; i >= 0; --i) {
    crc ^= static_cast<uint8_t>(value40 >> (8 * i));
    for (int b = 0; b < 8; ++b) crc = static_cast<uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
  }
  return crc;
}

}  // namespace

BandLayout band_layout(int width, int height) {
  BandLayout l;
  l.width = width;
  l.height = height;
  l.band_top = height - kBandLines;
  l.block_width = width * 12 / 704;
  if (l.block_width < 4) l.block_width = 4;
  l.block_left = l.block_width / 2;
  l.text_left = l.block_left + kBlocksPerRow * l.block_width + l.block_width;
  return l;
}

uint64_t time_code_bits(uint64_t capture_ms) {
  uint64_t ms = capture_ms & kMsMask;
  return (ms << 8) | crc8(ms);
}

void draw_time_code(uint8_t* band_luma, int stride, const BandLayout& layout, uint64_t capture_ms) {
  uint64_t bits = time_code_bits(capture_ms);
  for (int i = 0; i < kTimeCodeBits; ++i) {
    bool one = ((bits >> (kTimeCodeBits - 1 - i)) & 1) != 0;
    int row = i / kBlocksPerRow;
    int x = layout.block_left + (i % kBlocksPerRow) * layout.block_width;
    for (int y = 0; y < kBlockLines; ++y)
      memset(band_luma + static_cast<size_t>(row * kBlockLines + y) * stride + x, one ? kBlockWhite : kBlockBlack,
             static_cast<size_t>(layout.block_width));
  }
}

bool read_time_code(const uint8_t* pixels, int stride, int width, int height, int stream_width, int stream_height,
                    uint64_t near_ms, uint64_t* capture_ms) {
  if (pixels == nullptr || width <= 0 || height <= 0 || stream_width <= 0 || stream_height <= 0) return false;
  BandLayout l = band_layout(stream_width, stream_height);
  uint64_t bits = 0;
  for (int i = 0; i < kTimeCodeBits; ++i) {
    int row = i / kBlocksPerRow;
    // The block's centre in the stream picture, then in the scaled one.
    int64_t sx2 = 2 * (l.block_left + (i % kBlocksPerRow) * l.block_width) + l.block_width;
    int64_t sy2 = 2 * (l.band_top + row * kBlockLines) + kBlockLines;
    int x = static_cast<int>(sx2 * width / (2 * stream_width));
    int y = static_cast<int>(sy2 * height / (2 * stream_height));
    if (x >= width || y >= height) return false;
    const uint8_t* p = pixels + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4;
    int luma = (p[0] * 29 + p[1] * 150 + p[2] * 77) >> 8;
    bits = (bits << 1) | (luma >= 128 ? 1u : 0u);
  }
  uint64_t ms = bits >> 8;
  if (crc8(ms) != static_cast<uint8_t>(bits)) return false;
  // The full time nearest to near_ms with these low 40 bits.
  uint64_t base = near_ms & ~kMsMask;
  uint64_t best = base | ms;
  const uint64_t period = kMsMask + 1;
  auto distance = [near_ms](uint64_t t) { return t > near_ms ? t - near_ms : near_ms - t; };
  if (best >= period && distance(best - period) < distance(best)) best -= period;
  if (distance(best + period) < distance(best)) best += period;
  *capture_ms = best;
  return true;
}

}  // namespace sim::device::video
