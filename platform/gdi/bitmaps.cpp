// Bitmaps, DIB transfers, BitBlt and StretchBlt (nearest pixel or HALFTONE area averaging), and
// direct pixel access. A copy reads its source into a private buffer under the source's lock,
// lets go, then writes the destination under the destination's lock: no call ever holds two
// pixel locks, and a context can copy onto itself.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/gdi/gdi_objects.h"

namespace platform {

using namespace gdi_internal;

namespace {

// A block of source pixels; (origin_x, origin_y) is the source position of its first pixel.
struct Picture {
  std::vector<uint32_t> pixels;
  int width = 0;
  int height = 0;
  int origin_x = 0;
  int origin_y = 0;
  uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]; }
};

// Reads `region` (clipped to the pixels) of a context's drawing target.
bool read_dc(DcObject& dc, const RECT& region, Picture* out) {
  Target source(dc);
  if (!source.valid()) return false;
  const SurfacePixels& px = source.pixels();
  const RECT area = intersect(region, RECT{0, 0, px.width, px.height});
  out->width = area.width();
  out->height = area.height();
  out->origin_x = area.left;
  out->origin_y = area.top;
  out->pixels.resize(static_cast<size_t>(out->width) * static_cast<size_t>(out->height));
  for (int y = 0; y < out->height; ++y)
    std::memcpy(&out->pixels[static_cast<size_t>(y) * static_cast<size_t>(out->width)], source.row(area.top + y) + area.left,
                static_cast<size_t>(out->width) * 4);
  return true;
}

// DIB layout helpers.
struct DibLayout {
  int width = 0;
  int height = 0;  // rows, positive
  bool bottom_up = false;
  int bytes_per_pixel = 0;
  size_t stride = 0;
};

bool dib_layout(const BITMAPINFO* info, DibLayout* layout) {
  if (info == nullptr) return false;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biCompression != BI_RGB) return false;
  if (h.biBitCount != 24 && h.biBitCount != 32) return false;
  layout->width = h.biWidth;
  layout->height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  layout->bottom_up = h.biHeight > 0;
  layout->bytes_per_pixel = h.biBitCount / 8;
  layout->stride = ((static_cast<size_t>(h.biWidth) * h.biBitCount + 31) / 32) * 4;
  return true;
}

// The memory row of a DIB that holds picture row `y` (counted from the top).
size_t dib_row(const DibLayout& layout, int y) {
  return static_cast<size_t>(layout.bottom_up ? layout.height - 1 - y : y);
}

// Reads `region` (top-down picture coordinates, clipped to the DIB) of a DIB.
void read_dib(const DibLayout& layout, const void* bits, const RECT& region, Picture* out) {
  const RECT area = intersect(region, RECT{0, 0, layout.width, layout.height});
  out->width = area.width();
  out->height = area.height();
  out->origin_x = area.left;
  out->origin_y = area.top;
  out->pixels.resize(static_cast<size_t>(out->width) * static_cast<size_t>(out->height));
  const auto* base = static_cast<const uint8_t*>(bits);
  for (int y = 0; y < out->height; ++y) {
    const uint8_t* row = base + dib_row(layout, area.top + y) * layout.stride;
    uint32_t* dst = &out->pixels[static_cast<size_t>(y) * static_cast<size_t>(out->width)];
    for (int x = 0; x < out->width; ++x) {
      const uint8_t* p = row + static_cast<size_t>(area.left + x) * static_cast<size_t>(layout.bytes_per_pixel);
      dst[x] = layout.bytes_per_pixel == 4 ? (static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                              (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24))
                                           : (0xFF000000u | static_cast<uint32_t>(p[0]) |
                                              (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16));
    }
  }
}

// Copies the picture 1:1 so that source point (src_x, src_y) lands on (x, y); `width` x `height`
// bounds the copy. Source pixels that do not exist leave the destination as it was.
void put_copy(Target& target, int x, int y, int width, int height, const Picture& picture, int src_x, int src_y) {
  // Destination rectangle covered by existing source pixels.
  RECT dst{x, y, x + width, y + height};
  dst = intersect(dst, RECT{picture.origin_x - src_x + x, picture.origin_y - src_y + y,
                            picture.origin_x + picture.width - src_x + x, picture.origin_y + picture.height - src_y + y});
  dst = intersect(dst, target.clip());
  if (empty(dst)) return;
  for (int row = dst.top; row < dst.bottom; ++row) {
    const int py = row - y + src_y - picture.origin_y;
    const int px = dst.left - x + src_x - picture.origin_x;
    std::memcpy(target.row(row) + dst.left, &picture.pixels[static_cast<size_t>(py) * static_cast<size_t>(picture.width) + static_cast<size_t>(px)],
                static_cast<size_t>(dst.width()) * 4);
  }
  target.drew(dst);
}

// For each destination index along one axis, the source indices it covers and their weights.
struct Tap {
  int index;
  float weight;
};

// Area coverage of `dst_len` destination cells over the source interval [src, src + src_len),
// limited to the source indices [lo, hi).
std::vector<std::vector<Tap>> area_taps(int dst_len, int src, int src_len, int lo, int hi) {
  std::vector<std::vector<Tap>> taps(static_cast<size_t>(dst_len));
  const double scale = static_cast<double>(src_len) / dst_len;
  for (int i = 0; i < dst_len; ++i) {
    const double from = src + i * scale;
    const double to = src + (i + 1) * scale;
    const int first = std::max(lo, static_cast<int>(std::floor(from)));
    const int last = std::min(hi, static_cast<int>(std::ceil(to)));
    double total = 0;
    auto& cell = taps[static_cast<size_t>(i)];
    for (int s = first; s < last; ++s) {
      const double cover = std::min<double>(to, s + 1) - std::max<double>(from, s);
      if (cover <= 1e-9) continue;
      cell.push_back(Tap{s, static_cast<float>(cover)});
      total += cover;
    }
    for (Tap& tap : cell) tap.weight = static_cast<float>(tap.weight / total);
  }
  return taps;
}

// Scales the source rectangle (src_x, src_y, src_w, src_h) of the picture onto the destination
// rectangle (x, y, w, h).
void put_stretch(Target& target, int x, int y, int w, int h, const Picture& picture, int src_x, int src_y,
                 int src_w, int src_h, bool halftone) {
  const RECT dst = intersect(RECT{x, y, x + w, y + h}, target.clip());
  if (empty(dst) || picture.width == 0 || picture.height == 0) return;
  const int lo_x = picture.origin_x;
  const int hi_x = picture.origin_x + picture.width;
  const int lo_y = picture.origin_y;
  const int hi_y = picture.origin_y + picture.height;
  if (!halftone) {
    for (int row = dst.top; row < dst.bottom; ++row) {
      const int sy = src_y + static_cast<int>((static_cast<int64_t>(row - y) * 2 + 1) * src_h / (2 * static_cast<int64_t>(h)));
      if (sy < lo_y || sy >= hi_y) continue;
      uint32_t* out = target.row(row);
      for (int col = dst.left; col < dst.right; ++col) {
        const int sx = src_x + static_cast<int>((static_cast<int64_t>(col - x) * 2 + 1) * src_w / (2 * static_cast<int64_t>(w)));
        if (sx < lo_x || sx >= hi_x) continue;
        out[col] = picture.at(sx - lo_x, sy - lo_y);
      }
    }
    target.drew(dst);
    return;
  }
  const auto taps_x = area_taps(w, src_x, src_w, lo_x, hi_x);
  const auto taps_y = area_taps(h, src_y, src_h, lo_y, hi_y);
  // Horizontal pass over the source rows that any destination row needs.
  int row_lo = hi_y;
  int row_hi = lo_y;
  for (int row = dst.top; row < dst.bottom; ++row)
    for (const Tap& tap : taps_y[static_cast<size_t>(row - y)]) {
      row_lo = std::min(row_lo, tap.index);
      row_hi = std::max(row_hi, tap.index + 1);
    }
  if (row_lo >= row_hi) return;
  const int cols = dst.width();
  std::vector<float> across(static_cast<size_t>(row_hi - row_lo) * static_cast<size_t>(cols) * 3, 0.0f);
  for (int sy = row_lo; sy < row_hi; ++sy) {
    float* line = &across[static_cast<size_t>(sy - row_lo) * static_cast<size_t>(cols) * 3];
    for (int c = 0; c < cols; ++c) {
      float b = 0;
      float g = 0;
      float r = 0;
      for (const Tap& tap : taps_x[static_cast<size_t>(dst.left + c - x)]) {
        const uint32_t p = picture.at(tap.index - lo_x, sy - lo_y);
        b += tap.weight * static_cast<float>(p & 0xFF);
        g += tap.weight * static_cast<float>((p >> 8) & 0xFF);
        r += tap.weight * static_cast<float>((p >> 16) & 0xFF);
      }
      line[c * 3] = b;
      line[c * 3 + 1] = g;
      line[c * 3 + 2] = r;
    }
  }
  auto to_byte = [](float v) { return static_cast<uint32_t>(std::clamp(static_cast<int>(std::lround(v)), 0, 255)); };
  for (int row = dst.top; row < dst.bottom; ++row) {
    const auto& vertical = taps_y[static_cast<size_t>(row - y)];
    if (vertical.empty()) continue;
    uint32_t* out = target.row(row);
    for (int c = 0; c < cols; ++c) {
      if (taps_x[static_cast<size_t>(dst.left + c - x)].empty()) continue;
      float b = 0;
      float g = 0;
      float r = 0;
      for (const Tap& tap : vertical) {
        const float* p = &across[(static_cast<size_t>(tap.index - row_lo) * static_cast<size_t>(cols) + static_cast<size_t>(c)) * 3];
        b += tap.weight * p[0];
        g += tap.weight * p[1];
        r += tap.weight * p[2];
      }
      out[dst.left + c] = 0xFF000000u | (to_byte(r) << 16) | (to_byte(g) << 8) | to_byte(b);
    }
  }
  target.drew(dst);
}

std::shared_ptr<BitmapObject> find_bitmap(HBITMAP bitmap) { return find_as<BitmapObject>(bitmap, Kind::bitmap); }

}  // namespace

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
  if (dc != nullptr && find_dc(dc) == nullptr) return nullptr;
  if (width <= 0 || height <= 0 || static_cast<int64_t>(width) * height > (int64_t{1} << 28)) return nullptr;
  return static_cast<HBITMAP>(insert(std::make_shared<BitmapObject>(width, height, false)));
}

HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, unsigned usage, void** bits, void* section, DWORD) {
  if (dc != nullptr && find_dc(dc) == nullptr) return nullptr;
  if (info == nullptr || usage != DIB_RGB_COLORS || section != nullptr) return nullptr;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biBitCount != 32 || h.biCompression != BI_RGB || h.biWidth <= 0 || h.biHeight >= 0) return nullptr;
  if (static_cast<int64_t>(h.biWidth) * -static_cast<int64_t>(h.biHeight) > (int64_t{1} << 28)) return nullptr;
  auto bitmap = std::make_shared<BitmapObject>(h.biWidth, -h.biHeight, true);
  std::fill(bitmap->storage.begin(), bitmap->storage.end(), 0u);
  if (bits != nullptr) *bits = bitmap->data();
  return static_cast<HBITMAP>(insert(std::move(bitmap)));
}

int GetObject(HGDIOBJ object, int size, void* out) {
  auto found = find(object);
  if (found == nullptr) return 0;
  if (found->kind == Kind::bitmap) {
    if (out == nullptr) return static_cast<int>(sizeof(BITMAP));
    if (size < static_cast<int>(sizeof(BITMAP))) return 0;
    auto bitmap = std::static_pointer_cast<BitmapObject>(found);
    BITMAP info;
    info.bmWidth = bitmap->width;
    info.bmHeight = bitmap->height;
    info.bmWidthBytes = bitmap->stride();
    info.bmBits = bitmap->dib ? bitmap->data() : nullptr;
    std::memcpy(out, &info, sizeof(info));
    return static_cast<int>(sizeof(BITMAP));
  }
  if (found->kind == Kind::font) {
    if (out == nullptr) return static_cast<int>(sizeof(LOGFONT));
    if (size < static_cast<int>(sizeof(LOGFONT))) return 0;
    std::memcpy(out, &std::static_pointer_cast<FontObject>(found)->logfont, sizeof(LOGFONT));
    return static_cast<int>(sizeof(LOGFONT));
  }
  return 0;
}

int GetDIBits(HDC dc, HBITMAP bitmap_handle, unsigned start, unsigned lines, void* bits, BITMAPINFO* info, unsigned usage) {
  if (find_dc(dc) == nullptr || info == nullptr || usage != DIB_RGB_COLORS) return 0;
  auto bitmap = find_bitmap(bitmap_handle);
  if (bitmap == nullptr) return 0;
  BITMAPINFOHEADER& h = info->bmiHeader;
  if (bits == nullptr) {
    h.biWidth = bitmap->width;
    h.biHeight = bitmap->height;
    h.biPlanes = 1;
    if (h.biBitCount != 24) h.biBitCount = 32;
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(((static_cast<size_t>(bitmap->width) * h.biBitCount + 31) / 32) * 4 * bitmap->height);
    return 1;
  }
  DibLayout layout;
  if (!dib_layout(info, &layout) || layout.width != bitmap->width) return 0;
  Target source(bitmap);
  const int rows = std::min<int>(static_cast<int>(lines), std::max(0, bitmap->height - static_cast<int>(start)));
  auto* base = static_cast<uint8_t*>(bits);
  for (int i = 0; i < rows; ++i) {
    const int scan = static_cast<int>(start) + i;
    const int bitmap_row = layout.bottom_up ? bitmap->height - 1 - scan : scan;
    const uint32_t* src = source.row(bitmap_row);
    uint8_t* dst = base + static_cast<size_t>(i) * layout.stride;
    if (layout.bytes_per_pixel == 4) {
      std::memcpy(dst, src, static_cast<size_t>(bitmap->width) * 4);
    } else {
      for (int x = 0; x < bitmap->width; ++x) {
        dst[x * 3] = static_cast<uint8_t>(src[x]);
        dst[x * 3 + 1] = static_cast<uint8_t>(src[x] >> 8);
        dst[x * 3 + 2] = static_cast<uint8_t>(src[x] >> 16);
      }
    }
  }
  return rows;
}

int SetDIBits(HDC dc, HBITMAP bitmap_handle, unsigned start, unsigned lines, const void* bits, const BITMAPINFO* info,
              unsigned usage) {
  if ((dc != nullptr && find_dc(dc) == nullptr) || bits == nullptr || usage != DIB_RGB_COLORS) return 0;
  auto bitmap = find_bitmap(bitmap_handle);
  DibLayout layout;
  if (bitmap == nullptr || !dib_layout(info, &layout) || layout.width != bitmap->width) return 0;
  Target target(bitmap);
  const int rows = std::min<int>(static_cast<int>(lines), std::max(0, bitmap->height - static_cast<int>(start)));
  const auto* base = static_cast<const uint8_t*>(bits);
  for (int i = 0; i < rows; ++i) {
    const int scan = static_cast<int>(start) + i;
    uint32_t* dst = target.row(layout.bottom_up ? bitmap->height - 1 - scan : scan);
    const uint8_t* src = base + static_cast<size_t>(i) * layout.stride;
    if (layout.bytes_per_pixel == 4) {
      std::memcpy(dst, src, static_cast<size_t>(bitmap->width) * 4);
    } else {
      for (int x = 0; x < bitmap->width; ++x)
        dst[x] = 0xFF000000u | src[x * 3] | (static_cast<uint32_t>(src[x * 3 + 1]) << 8) |
                 (static_cast<uint32_t>(src[x * 3 + 2]) << 16);
    }
  }
  return rows;
}

int SetDIBitsToDevice(HDC handle, int x, int y, DWORD width, DWORD height, int src_x, int src_y, unsigned start,
                      unsigned lines, const void* bits, const BITMAPINFO* info, unsigned usage) {
  auto dc = find_dc(handle);
  DibLayout layout;
  if (dc == nullptr || bits == nullptr || usage != DIB_RGB_COLORS || !dib_layout(info, &layout)) return 0;
  if (start != 0 || lines != static_cast<unsigned>(layout.height)) return 0;
  const int w = static_cast<int>(width);
  const int h = static_cast<int>(height);
  // The source rectangle in top-down coordinates.
  const int top = layout.bottom_up ? layout.height - src_y - h : src_y;
  Picture picture;
  read_dib(layout, bits, RECT{src_x, top, src_x + w, top + h}, &picture);
  Target target(*dc);
  if (target.valid()) put_copy(target, x, y, w, h, picture, src_x, top);
  return static_cast<int>(lines);
}

int StretchDIBits(HDC handle, int x, int y, int width, int height, int src_x, int src_y, int src_width, int src_height,
                  const void* bits, const BITMAPINFO* info, unsigned usage, DWORD rop) {
  auto dc = find_dc(handle);
  DibLayout layout;
  if (dc == nullptr || bits == nullptr || usage != DIB_RGB_COLORS || rop != SRCCOPY || !dib_layout(info, &layout))
    return 0;
  if (width <= 0 || height <= 0 || src_width <= 0 || src_height <= 0) return 0;
  const int top = layout.bottom_up ? layout.height - src_y - src_height : src_y;
  Picture picture;
  read_dib(layout, bits, RECT{src_x, top, src_x + src_width, top + src_height}, &picture);
  Target target(*dc);
  if (target.valid()) {
    if (width == src_width && height == src_height)
      put_copy(target, x, y, width, height, picture, src_x, top);
    else
      put_stretch(target, x, y, width, height, picture, src_x, top, src_width, src_height,
                  dc->state.stretch_mode == HALFTONE);
  }
  return height;
}

bool BitBlt(HDC dst_handle, int x, int y, int width, int height, HDC src_handle, int src_x, int src_y, DWORD rop) {
  auto dst = find_dc(dst_handle);
  if (dst == nullptr) return false;
  if (rop == BLACKNESS || rop == WHITENESS || rop == PATCOPY) {
    Target target(*dst);
    if (!target.valid()) return true;
    const RECT rect{x, y, x + width, y + height};
    if (rop == PATCOPY) {
      if (!dst->state.brush->null) fill_pixels(target, rect, pixel_of(dst->state.brush->color));
    } else {
      fill_pixels(target, rect, rop == BLACKNESS ? 0xFF000000u : 0xFFFFFFFFu);
    }
    return true;
  }
  if (rop != SRCCOPY) return false;
  auto src = find_dc(src_handle);
  if (src == nullptr) return false;
  if (width <= 0 || height <= 0) return true;
  Picture picture;
  if (!read_dc(*src, RECT{src_x, src_y, src_x + width, src_y + height}, &picture)) return true;
  Target target(*dst);
  if (target.valid()) put_copy(target, x, y, width, height, picture, src_x, src_y);
  return true;
}

bool StretchBlt(HDC dst_handle, int x, int y, int width, int height, HDC src_handle, int src_x, int src_y,
                int src_width, int src_height, DWORD rop) {
  auto dst = find_dc(dst_handle);
  auto src = find_dc(src_handle);
  if (dst == nullptr || src == nullptr || rop != SRCCOPY) return false;
  if (width <= 0 || height <= 0 || src_width <= 0 || src_height <= 0) return false;
  if (width == src_width && height == src_height) return BitBlt(dst_handle, x, y, width, height, src_handle, src_x, src_y, rop);
  Picture picture;
  if (!read_dc(*src, RECT{src_x, src_y, src_x + src_width, src_y + src_height}, &picture)) return true;
  Target target(*dst);
  if (target.valid())
    put_stretch(target, x, y, width, height, picture, src_x, src_y, src_width, src_height,
                dst->state.stretch_mode == HALFTONE);
  return true;
}

// ---- direct access ----

struct DcPixels::Hold {
  std::shared_ptr<DcObject> dc;
  std::unique_ptr<Target> target;
};

DcPixels::DcPixels(HDC dc, bool will_write) : will_write_(will_write) {
  auto object = find_dc(dc);
  if (object == nullptr) return;
  hold_ = new Hold{object, std::make_unique<Target>(*object)};
  if (!hold_->target->valid()) return;
  pixels_ = hold_->target->pixels();
}

DcPixels::~DcPixels() {
  if (hold_ != nullptr && will_write_) hold_->target->drew_everything();
  delete hold_;  // marks, then unlocks
}

struct BitmapPixels::Hold {
  std::unique_ptr<Target> target;
};

BitmapPixels::BitmapPixels(HBITMAP bitmap, bool) {
  auto object = find_bitmap(bitmap);
  if (object == nullptr) return;
  hold_ = new Hold{std::make_unique<Target>(object)};
  pixels_ = hold_->target->pixels();
}

BitmapPixels::~BitmapPixels() { delete hold_; }

}  // namespace platform
