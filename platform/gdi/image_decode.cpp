#include "platform/gdi/image_decode.h"

#include <cstdio>
#include <limits>

// stb_image, compiled here with internal linkage so no other copy in the process can clash.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_ONLY_PNG
#define STBI_ONLY_BMP
#define STBI_ONLY_JPEG
#define STBI_MAX_DIMENSIONS (1 << 14)
#include <stb/stb_image.h>

namespace platform::gdi_internal {

bool decode_image(const void* data, size_t size, DecodedImage* out) {
  if (data == nullptr || size == 0 || size > static_cast<size_t>(std::numeric_limits<int>::max())) return false;
  int width = 0;
  int height = 0;
  int channels = 0;
  stbi_uc* pixels = stbi_load_from_memory(static_cast<const stbi_uc*>(data), static_cast<int>(size), &width, &height,
                                          &channels, 4);
  if (pixels == nullptr) return false;
  out->width = width;
  out->height = height;
  out->rgba.assign(pixels, pixels + static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  stbi_image_free(pixels);
  return true;
}

bool read_file(const std::string& path, std::vector<uint8_t>* bytes) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bytes->clear();
  uint8_t chunk[65536];
  bool ok = true;
  for (;;) {
    const size_t n = std::fread(chunk, 1, sizeof(chunk), file);
    bytes->insert(bytes->end(), chunk, chunk + n);
    if (n < sizeof(chunk)) {
      ok = std::ferror(file) == 0;
      break;
    }
  }
  std::fclose(file);
  return ok;
}

}  // namespace platform::gdi_internal
