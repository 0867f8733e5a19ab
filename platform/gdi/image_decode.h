// Internal: decoding PNG, BMP and JPEG bytes into straight-alpha RGBA pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::gdi_internal {

struct DecodedImage {
  std::vector<uint8_t> rgba;  // R, G, B, A per pixel, top-down, no padding
  int width = 0;
  int height = 0;
};

bool decode_image(const void* data, size_t size, DecodedImage* out);
// Reads a whole file; false when it cannot be opened or read.
bool read_file(const std::string& path, std::vector<uint8_t>* bytes);

}  // namespace platform::gdi_internal
