// Copies, scaling and DIB transfers move exactly the pixels they should.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/gdi/testing/memory_canvas.h"

namespace platform {
namespace {

using testing::MemoryCanvas;

constexpr COLORREF kWhite = RGB(255, 255, 255);

// A distinct colour per pixel.
COLORREF pattern(int x, int y) { return RGB(10 + x * 20, 10 + y * 20, (x * 7 + y * 13) & 0xFF); }

void paint_pattern(HDC dc, int width, int height) {
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) SetPixel(dc, x, y, pattern(x, y));
}

BITMAPINFO dib_info(int width, int height, int bits) {
  BITMAPINFO info{};
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biBitCount = static_cast<WORD>(bits);
  return info;
}

TEST(BitBlt, CopiesARegionToAnotherPlace) {
  MemoryCanvas source(8, 8);
  paint_pattern(source.dc(), 8, 8);
  MemoryCanvas target(10, 10);
  ASSERT_TRUE(BitBlt(target.dc(), 5, 6, 3, 2, source.dc(), 1, 2, SRCCOPY));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(GetPixel(target.dc(), 5 + x, 6 + y), pattern(1 + x, 2 + y)) << x << "," << y;
  EXPECT_EQ(GetPixel(target.dc(), 4, 6), kWhite);
  EXPECT_EQ(GetPixel(target.dc(), 8, 6), kWhite);
  EXPECT_EQ(GetPixel(target.dc(), 5, 8), kWhite);
}

TEST(BitBlt, OverlappingCopyWithinOneContext) {
  MemoryCanvas canvas(8, 3);
  paint_pattern(canvas.dc(), 8, 3);
  ASSERT_TRUE(BitBlt(canvas.dc(), 1, 0, 7, 3, canvas.dc(), 0, 0, SRCCOPY));
  for (int x = 1; x < 8; ++x) EXPECT_EQ(GetPixel(canvas.dc(), x, 1), pattern(x - 1, 1)) << x;
}

TEST(BitBlt, SourceOutsideItsBitmapLeavesTheDestination) {
  MemoryCanvas source(4, 4, RGB(1, 2, 3));
  MemoryCanvas target(8, 8);
  ASSERT_TRUE(BitBlt(target.dc(), 0, 0, 8, 8, source.dc(), 2, 2, SRCCOPY));
  EXPECT_EQ(GetPixel(target.dc(), 0, 0), RGB(1, 2, 3));
  EXPECT_EQ(GetPixel(target.dc(), 1, 1), RGB(1, 2, 3));
  EXPECT_EQ(GetPixel(target.dc(), 2, 2), kWhite);
  EXPECT_FALSE(BitBlt(target.dc(), 0, 0, 1, 1, source.dc(), 0, 0, 0x00EE0086 /* SRCPAINT */));
}

TEST(StretchBlt, HalftoneAveragesTheSourceArea) {
  struct Case {
    int src_w, src_h, dst_w, dst_h;
    std::vector<COLORREF> source;    // row order
    std::vector<COLORREF> expected;  // row order
  };
  const Case cases[] = {
      {2, 2, 1, 1, {RGB(10, 20, 30), RGB(50, 60, 70), RGB(90, 100, 110), RGB(130, 140, 150)}, {RGB(70, 80, 90)}},
      {2, 1, 1, 1, {RGB(0, 0, 0), RGB(255, 255, 255)}, {RGB(128, 128, 128)}},
      {4, 2, 2, 1,
       {RGB(0, 0, 0), RGB(100, 100, 100), RGB(8, 8, 8), RGB(8, 8, 8), RGB(0, 0, 0), RGB(100, 100, 100), RGB(8, 8, 8),
        RGB(8, 8, 8)},
       {RGB(50, 50, 50), RGB(8, 8, 8)}},
      {3, 1, 2, 1, {RGB(0, 0, 0), RGB(90, 90, 90), RGB(180, 180, 180)}, {RGB(30, 30, 30), RGB(150, 150, 150)}},
      {1, 1, 3, 2, {RGB(7, 8, 9)}, std::vector<COLORREF>(6, RGB(7, 8, 9))},
  };
  for (const Case& c : cases) {
    MemoryCanvas source(c.src_w, c.src_h);
    for (int i = 0; i < c.src_w * c.src_h; ++i)
      SetPixel(source.dc(), i % c.src_w, i / c.src_w, c.source[static_cast<size_t>(i)]);
    MemoryCanvas target(c.dst_w + 2, c.dst_h + 2);
    SetStretchBltMode(target.dc(), HALFTONE);
    ASSERT_TRUE(StretchBlt(target.dc(), 1, 1, c.dst_w, c.dst_h, source.dc(), 0, 0, c.src_w, c.src_h, SRCCOPY));
    for (int i = 0; i < c.dst_w * c.dst_h; ++i)
      EXPECT_EQ(GetPixel(target.dc(), 1 + i % c.dst_w, 1 + i / c.dst_w), c.expected[static_cast<size_t>(i)])
          << c.src_w << "x" << c.src_h << " -> " << c.dst_w << "x" << c.dst_h << " pixel " << i;
    EXPECT_EQ(GetPixel(target.dc(), 0, 0), kWhite) << "outside the destination";
    EXPECT_EQ(GetPixel(target.dc(), c.dst_w + 1, c.dst_h + 1), kWhite);
  }
}

TEST(StretchBlt, ColorOnColorPicksSourcePixels) {
  MemoryCanvas source(4, 4);
  paint_pattern(source.dc(), 4, 4);
  MemoryCanvas target(2, 2);
  SetStretchBltMode(target.dc(), COLORONCOLOR);
  ASSERT_TRUE(StretchBlt(target.dc(), 0, 0, 2, 2, source.dc(), 0, 0, 4, 4, SRCCOPY));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) {
      const COLORREF got = GetPixel(target.dc(), x, y);
      bool found = false;
      for (int sy = 2 * y; sy < 2 * y + 2; ++sy)
        for (int sx = 2 * x; sx < 2 * x + 2; ++sx) found = found || got == pattern(sx, sy);
      EXPECT_TRUE(found) << "a pixel of its own source block at " << x << "," << y;
    }
  EXPECT_FALSE(StretchBlt(target.dc(), 0, 0, -2, 2, source.dc(), 0, 0, 4, 4, SRCCOPY)) << "no mirroring";
}

TEST(Dib, ThirtyTwoBitRoundTripTopDownAndBottomUp) {
  MemoryCanvas canvas(5, 3);
  HBITMAP bitmap = canvas.bitmap();
  std::vector<uint32_t> written(15);
  for (size_t i = 0; i < written.size(); ++i) written[i] = 0xFF000000u | static_cast<uint32_t>(i * 0x010203u + 0x102030u);
  BITMAPINFO top_down = dib_info(5, -3, 32);
  ASSERT_EQ(SetDIBits(canvas.dc(), bitmap, 0, 3, written.data(), &top_down, DIB_RGB_COLORS), 3);
  std::vector<uint32_t> read(15, 0);
  ASSERT_EQ(GetDIBits(canvas.dc(), bitmap, 0, 3, read.data(), &top_down, DIB_RGB_COLORS), 3);
  EXPECT_EQ(read, written);
  // The second pixel of the first row, through GetPixel.
  EXPECT_EQ(GetPixel(canvas.dc(), 1, 0), RGB((written[1] >> 16) & 0xFF, (written[1] >> 8) & 0xFF, written[1] & 0xFF));
  // Bottom-up: the first row in memory is the picture's last row.
  BITMAPINFO bottom_up = dib_info(5, 3, 32);
  std::vector<uint32_t> flipped(15, 0);
  ASSERT_EQ(GetDIBits(canvas.dc(), bitmap, 0, 3, flipped.data(), &bottom_up, DIB_RGB_COLORS), 3);
  for (int x = 0; x < 5; ++x) {
    EXPECT_EQ(flipped[static_cast<size_t>(x)], written[static_cast<size_t>(10 + x)]);
    EXPECT_EQ(flipped[static_cast<size_t>(10 + x)], written[static_cast<size_t>(x)]);
  }
}

TEST(Dib, TwentyFourBitRowsArePaddedToFourBytes) {
  MemoryCanvas canvas(3, 2);
  paint_pattern(canvas.dc(), 3, 2);
  BITMAPINFO info = dib_info(3, -2, 24);
  std::vector<uint8_t> bytes(2 * 12, 0xEE);  // stride 12 for 9 bytes of pixels
  ASSERT_EQ(GetDIBits(canvas.dc(), canvas.bitmap(), 0, 2, bytes.data(), &info, DIB_RGB_COLORS), 2);
  const COLORREF second_row_first = pattern(0, 1);
  EXPECT_EQ(bytes[12], GetBValue(second_row_first));
  EXPECT_EQ(bytes[13], GetGValue(second_row_first));
  EXPECT_EQ(bytes[14], GetRValue(second_row_first));
  MemoryCanvas copy(3, 2);
  ASSERT_EQ(SetDIBits(copy.dc(), copy.bitmap(), 0, 2, bytes.data(), &info, DIB_RGB_COLORS), 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(GetPixel(copy.dc(), x, y), pattern(x, y));
}

TEST(Dib, HeaderOnlyQueryAndRefusals) {
  MemoryCanvas canvas(7, 4);
  BITMAPINFO info{};
  info.bmiHeader.biBitCount = 0;
  ASSERT_NE(GetDIBits(canvas.dc(), canvas.bitmap(), 0, 4, nullptr, &info, DIB_RGB_COLORS), 0);
  EXPECT_EQ(info.bmiHeader.biWidth, 7);
  EXPECT_EQ(info.bmiHeader.biHeight, 4);
  EXPECT_EQ(info.bmiHeader.biBitCount, 32);
  std::vector<uint32_t> bits(28);
  BITMAPINFO wrong_width = dib_info(6, -4, 32);
  EXPECT_EQ(GetDIBits(canvas.dc(), canvas.bitmap(), 0, 4, bits.data(), &wrong_width, DIB_RGB_COLORS), 0);
  BITMAPINFO sixteen = dib_info(7, -4, 16);
  EXPECT_EQ(GetDIBits(canvas.dc(), canvas.bitmap(), 0, 4, bits.data(), &sixteen, DIB_RGB_COLORS), 0);
  BITMAPINFO right = dib_info(7, -4, 32);
  EXPECT_EQ(GetDIBits(canvas.dc(), canvas.bitmap(), 2, 10, bits.data(), &right, DIB_RGB_COLORS), 2)
      << "rows past the bitmap are not copied";
}

TEST(Dib, SetDIBitsToDeviceHonoursTheRowOrder) {
  // A 2 x 3 DIB whose picture rows are red, green, blue from the top.
  const uint32_t red = 0xFFFF0000u;
  const uint32_t green = 0xFF00FF00u;
  const uint32_t blue = 0xFF0000FFu;
  struct Case {
    int height;  // sign gives the order
    std::vector<uint32_t> memory;
  };
  const Case cases[] = {
      {-3, {red, red, green, green, blue, blue}},
      {3, {blue, blue, green, green, red, red}},
  };
  for (const Case& c : cases) {
    MemoryCanvas canvas(4, 5);
    BITMAPINFO info = dib_info(2, c.height, 32);
    ASSERT_EQ(SetDIBitsToDevice(canvas.dc(), 1, 1, 2, 3, 0, 0, 0, 3, c.memory.data(), &info, DIB_RGB_COLORS), 3);
    EXPECT_EQ(GetPixel(canvas.dc(), 1, 1), RGB(255, 0, 0)) << c.height;
    EXPECT_EQ(GetPixel(canvas.dc(), 2, 2), RGB(0, 255, 0)) << c.height;
    EXPECT_EQ(GetPixel(canvas.dc(), 1, 3), RGB(0, 0, 255)) << c.height;
    EXPECT_EQ(GetPixel(canvas.dc(), 3, 1), kWhite);
    EXPECT_EQ(GetPixel(canvas.dc(), 1, 4), kWhite);
  }
}

TEST(Dib, StretchDIBitsScalesWithTheStretchMode) {
  const std::vector<uint32_t> memory = {0xFF000000u, 0xFFFFFFFFu};  // black, white
  BITMAPINFO info = dib_info(2, -1, 32);
  MemoryCanvas canvas(1, 1, RGB(1, 1, 1));
  SetStretchBltMode(canvas.dc(), HALFTONE);
  ASSERT_EQ(StretchDIBits(canvas.dc(), 0, 0, 1, 1, 0, 0, 2, 1, memory.data(), &info, DIB_RGB_COLORS, SRCCOPY), 1);
  EXPECT_EQ(GetPixel(canvas.dc(), 0, 0), RGB(128, 128, 128));
}

TEST(DibSection, PixelsAreSharedWithTheBitmap) {
  BITMAPINFO info = dib_info(4, -2, 32);
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(section, nullptr);
  ASSERT_NE(bits, nullptr);
  auto* pixels = static_cast<uint32_t*>(bits);
  EXPECT_EQ(pixels[0], 0u) << "a new section is zero";
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, section);
  RECT r{1, 1, 2, 2};
  FillSolidRect(dc, &r, RGB(0x11, 0x22, 0x33));
  EXPECT_EQ(pixels[4 + 1] & 0x00FFFFFFu, 0x00112233u);
  pixels[3] = 0xFF445566u;
  EXPECT_EQ(GetPixel(dc, 3, 0), RGB(0x44, 0x55, 0x66));
  BITMAP bm;
  ASSERT_EQ(GetObject(section, sizeof(bm), &bm), static_cast<int>(sizeof(bm)));
  EXPECT_EQ(bm.bmWidth, 4);
  EXPECT_EQ(bm.bmHeight, 2);
  EXPECT_EQ(bm.bmBits, bits);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(section);
  BITMAPINFO bottom_up = dib_info(4, 2, 32);
  EXPECT_EQ(CreateDIBSection(nullptr, &bottom_up, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
}

TEST(DcPixels, ReadsAndWritesTheSelectedBitmap) {
  MemoryCanvas canvas(3, 2);
  {
    DcPixels access(canvas.dc(), true);
    ASSERT_TRUE(access.valid());
    EXPECT_EQ(access.pixels().width, 3);
    EXPECT_EQ(access.pixels().height, 2);
    auto* row = reinterpret_cast<uint32_t*>(access.pixels().data + access.pixels().stride);
    row[2] = 0xFF0A0B0Cu;
  }
  EXPECT_EQ(GetPixel(canvas.dc(), 2, 1), RGB(0x0A, 0x0B, 0x0C));
  DcPixels none(nullptr, false);
  EXPECT_FALSE(none.valid());
}

}  // namespace
}  // namespace platform
