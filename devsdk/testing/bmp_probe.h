// Reads what a test needs of a BMP file the Device SDK wrote: its header facts and pixels.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace devsdk::testing {

struct BmpFacts {
  bool valid = false;
  int32_t width = 0;
  int32_t height = 0;  // positive: rows bottom-up
  int bits = 0;
  uint32_t file_size = 0;     // as the header says
  size_t actual_size = 0;     // of the file
  std::vector<uint8_t> pixels;  // as stored, rows padded to 4 bytes
  // Mean absolute difference of two pictures of one size, per byte.
  double difference(const BmpFacts& other) const {
    if (pixels.size() != other.pixels.size() || pixels.empty()) return 1e9;
    uint64_t sum = 0;
    for (size_t i = 0; i < pixels.size(); ++i) sum += static_cast<uint64_t>(std::abs(pixels[i] - other.pixels[i]));
    return static_cast<double>(sum) / static_cast<double>(pixels.size());
  }
  // Share of the pixels (3 bytes each) of which some byte differs by more than `level`: a view that
  // moved changes most of the picture, a scene that lives changes only where something moves.
  double changed_share(const BmpFacts& other, int level = 48) const {
    if (pixels.size() != other.pixels.size() || pixels.size() < 3) return 1.0;
    size_t changed = 0, total = pixels.size() / 3;
    for (size_t i = 0; i + 2 < pixels.size(); i += 3)
      for (size_t k = 0; k < 3; ++k)
        if (std::abs(pixels[i + k] - other.pixels[i + k]) > level) {
          ++changed;
          break;
        }
    return static_cast<double>(changed) / static_cast<double>(total);
  }
};

inline BmpFacts read_bmp(const std::string& path) {
  BmpFacts f;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return f;
  std::vector<uint8_t> bytes;
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  std::fclose(file);
  auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
  };
  if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') return f;
  f.actual_size = bytes.size();
  f.file_size = u32(2);
  f.width = static_cast<int32_t>(u32(18));
  f.height = static_cast<int32_t>(u32(22));
  f.bits = bytes[28] | bytes[29] << 8;
  uint32_t offset = u32(10);
  if (offset > bytes.size()) return f;
  f.pixels.assign(bytes.begin() + offset, bytes.end());
  f.valid = true;
  return f;
}

}  // namespace devsdk::testing
