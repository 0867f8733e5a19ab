#include "kavrel/media/pane_picture.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "kavrel/persist/config_path.h"
#include "platform/window/surface.h"

namespace kavrel {
namespace {

void put16(std::vector<uint8_t>& out, size_t at, uint16_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::string pane_picture_file(const std::string& dev_id, int32_t channel) {
  char name[320];
  std::snprintf(name, sizeof name, "%s_%d.bmp", dev_id.c_str(), channel);
  return config_file_name(name);
}

bool save_window_picture(platform::HWND window, const std::string& path) {
  std::vector<uint8_t> file;
  {
    platform::SurfaceAccess access(window);
    if (!access.valid()) return false;
    const platform::SurfacePixels& px = access.pixels();
    if (px.width <= 0 || px.height <= 0) return false;
    const size_t row = (static_cast<size_t>(px.width) * 3 + 3) & ~static_cast<size_t>(3);
    const size_t image = row * static_cast<size_t>(px.height);
    constexpr size_t kHeader = 14 + 40;
    file.assign(kHeader + image, 0);
    file[0] = 'B';
    file[1] = 'M';
    put32(file, 2, static_cast<uint32_t>(file.size()));
    put32(file, 10, kHeader);
    put32(file, 14, 40);
    put32(file, 18, static_cast<uint32_t>(px.width));
    put32(file, 22, static_cast<uint32_t>(px.height));  // positive: rows bottom-up
    put16(file, 26, 1);
    put16(file, 28, 24);
    put32(file, 34, static_cast<uint32_t>(image));
    for (int32_t y = 0; y < px.height; ++y) {
      const uint8_t* src = px.data + static_cast<size_t>(y) * static_cast<size_t>(px.stride);
      uint8_t* dst = file.data() + kHeader + static_cast<size_t>(px.height - 1 - y) * row;
      for (int32_t x = 0; x < px.width; ++x) {
        dst[3 * x] = src[4 * x];
        dst[3 * x + 1] = src[4 * x + 1];
        dst[3 * x + 2] = src[4 * x + 2];
      }
    }
  }
  std::string temporary = path + ".tmp";
  std::FILE* out = std::fopen(temporary.c_str(), "wb");
  if (out == nullptr) return false;
  bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  written = std::fclose(out) == 0 && written;
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace kavrel
