// GDI+: images from PNG bytes, drawing through a colour matrix, antialiasing and text.
#include "platform/gdi/gdiplus.h"

#include <cairo/cairo.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/gdi/testing/memory_canvas.h"
#include "platform/gdi/testing/screenshot.h"

namespace platform {
namespace {

using testing::MemoryCanvas;
namespace gp = Gdiplus;

// PNG bytes of a picture given as straight-alpha ARGB words, row order.
std::vector<uint8_t> png_bytes(int width, int height, const std::vector<uint32_t>& argb) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_surface_flush(surface);
  uint8_t* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint32_t p = argb[static_cast<size_t>(y * width + x)];
      const uint32_t a = p >> 24;
      auto pre = [a](uint32_t v) { return (v * a + 127) / 255; };
      reinterpret_cast<uint32_t*>(data + y * stride)[x] =
          (a << 24) | (pre((p >> 16) & 0xFF) << 16) | (pre((p >> 8) & 0xFF) << 8) | pre(p & 0xFF);
    }
  cairo_surface_mark_dirty(surface);
  std::vector<uint8_t> bytes;
  cairo_surface_write_to_png_stream(
      surface,
      [](void* closure, const unsigned char* chunk, unsigned int length) {
        auto* out = static_cast<std::vector<uint8_t>*>(closure);
        out->insert(out->end(), chunk, chunk + length);
        return CAIRO_STATUS_SUCCESS;
      },
      &bytes);
  cairo_surface_destroy(surface);
  return bytes;
}

bool near(COLORREF a, COLORREF b, int tolerance) {
  return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance && std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
         std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

TEST(GdiplusImage, DecodesPngBytesWithStraightAlpha) {
  const std::vector<uint8_t> bytes =
      png_bytes(3, 2, {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0x80FFFFFFu, 0x00000000u, 0xFF102030u});
  std::unique_ptr<gp::Bitmap> image(gp::Bitmap::FromMemory(bytes.data(), bytes.size()));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->GetWidth(), 3u);
  EXPECT_EQ(image->GetHeight(), 2u);
  gp::Color c;
  ASSERT_EQ(image->GetPixel(2, 0, &c), gp::Ok);
  EXPECT_EQ(c.GetValue(), 0xFF0000FFu);
  ASSERT_EQ(image->GetPixel(0, 1, &c), gp::Ok);
  EXPECT_NEAR(c.GetA(), 0x80, 1);
  EXPECT_NEAR(c.GetR(), 255, 2);
  ASSERT_EQ(image->GetPixel(2, 1, &c), gp::Ok);
  EXPECT_EQ(c.GetValue(), 0xFF102030u);
  EXPECT_EQ(image->GetPixel(3, 0, &c), gp::InvalidParameter);
}

TEST(GdiplusImage, RefusesBytesThatAreNoPicture) {
  const char junk[] = "\x89PNG but not really";
  EXPECT_EQ(gp::Bitmap::FromMemory(junk, sizeof(junk)), nullptr);
  gp::Bitmap direct(junk, sizeof(junk));
  EXPECT_EQ(direct.GetLastStatus(), gp::UnknownImageFormat);
  EXPECT_EQ(direct.GetWidth(), 0u);
  gp::Bitmap missing(u"/nonexistent/last-frame.bmp");
  EXPECT_EQ(missing.GetLastStatus(), gp::FileNotFound);
  // Drawing a failed image is refused, not a crash.
  MemoryCanvas canvas(2, 2);
  gp::Graphics graphics(canvas.dc());
  EXPECT_NE(graphics.DrawImage(&direct, 0, 0), gp::Ok);
}

TEST(GdiplusImage, ColourMatrixTable) {
  // An opaque red 4 x 4 picture drawn over blue through different matrices.
  const std::vector<uint8_t> bytes = png_bytes(4, 4, std::vector<uint32_t>(16, 0xFFFF0000u));
  std::unique_ptr<gp::Bitmap> red(gp::Bitmap::FromMemory(bytes.data(), bytes.size()));
  ASSERT_NE(red, nullptr);
  auto identity = [](float alpha) {
    gp::ColorMatrix m;
    for (int i = 0; i < 5; ++i) m.m[i][i] = 1.0f;
    m.m[3][3] = alpha;
    return m;
  };
  gp::ColorMatrix swap = identity(1.0f);
  swap.m[0][0] = 0;
  swap.m[2][2] = 0;
  swap.m[0][2] = 1;  // red goes to blue
  swap.m[2][0] = 1;  // blue goes to red
  gp::ColorMatrix half_and_green = identity(0.5f);
  half_and_green.m[4][1] = 1.0f;  // add full green
  struct Case {
    const char* name;
    const gp::ColorMatrix* matrix;
    COLORREF expected;
  };
  const gp::ColorMatrix half = identity(0.5f);
  const gp::ColorMatrix full = identity(1.0f);
  const Case cases[] = {
      {"no attributes", nullptr, RGB(255, 0, 0)},
      {"identity", &full, RGB(255, 0, 0)},
      {"alpha 0.5 blends half and half", &half, RGB(128, 0, 128)},
      {"channel swap", &swap, RGB(0, 0, 255)},
      {"half alpha plus green", &half_and_green, RGB(128, 128, 128)},
  };
  for (const Case& c : cases) {
    MemoryCanvas canvas(6, 6, RGB(0, 0, 255));
    gp::Graphics graphics(canvas.dc());
    gp::ImageAttributes attributes;
    if (c.matrix != nullptr) {
      ASSERT_EQ(attributes.SetColorMatrix(c.matrix), gp::Ok);
    }
    ASSERT_EQ(graphics.DrawImage(red.get(), gp::Rect(1, 1, 4, 4), 0, 0, 4, 4, gp::UnitPixel,
                                 c.matrix != nullptr ? &attributes : nullptr),
              gp::Ok)
        << c.name;
    EXPECT_TRUE(near(GetPixel(canvas.dc(), 2, 2), c.expected, 1))
        << c.name << ": got " << std::hex << GetPixel(canvas.dc(), 2, 2);
    EXPECT_EQ(GetPixel(canvas.dc(), 0, 0), RGB(0, 0, 255)) << c.name << ": outside the destination";
    EXPECT_EQ(GetPixel(canvas.dc(), 5, 5), RGB(0, 0, 255)) << c.name;
  }
}

TEST(GdiplusImage, ScaledDrawingFillsTheDestinationSquare) {
  // A 32 x 32 button picture drawn into a 16 x 16 square, as a narrow button does.
  const std::vector<uint8_t> bytes = png_bytes(32, 32, std::vector<uint32_t>(32 * 32, 0xFF32CD32u));
  std::unique_ptr<gp::Bitmap> picture(gp::Bitmap::FromMemory(bytes.data(), bytes.size()));
  ASSERT_NE(picture, nullptr);
  MemoryCanvas canvas(40, 40);
  gp::Graphics graphics(canvas.dc());
  ASSERT_EQ(graphics.DrawImage(picture.get(), gp::Rect(12, 4, 16, 16), 0, 0, 32, 32, gp::UnitPixel, nullptr), gp::Ok);
  EXPECT_EQ(GetPixel(canvas.dc(), 12, 4), RGB(50, 205, 50));
  EXPECT_EQ(GetPixel(canvas.dc(), 27, 19), RGB(50, 205, 50));
  EXPECT_EQ(GetPixel(canvas.dc(), 11, 4), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(canvas.dc(), 28, 19), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(canvas.dc(), 12, 20), RGB(255, 255, 255));
}

TEST(GdiplusImage, TransparentPixelsLeaveTheBackground) {
  const std::vector<uint8_t> bytes = png_bytes(2, 1, {0x00FF0000u, 0xFF00FF00u});
  std::unique_ptr<gp::Bitmap> picture(gp::Bitmap::FromMemory(bytes.data(), bytes.size()));
  MemoryCanvas canvas(2, 1, RGB(9, 9, 9));
  gp::Graphics graphics(canvas.dc());
  ASSERT_EQ(graphics.DrawImage(picture.get(), 0, 0), gp::Ok);
  EXPECT_EQ(GetPixel(canvas.dc(), 0, 0), RGB(9, 9, 9));
  EXPECT_EQ(GetPixel(canvas.dc(), 1, 0), RGB(0, 255, 0));
}

TEST(GdiplusImage, FromHBitmapCopiesTheGdiPixels) {
  MemoryCanvas canvas(3, 3, RGB(1, 2, 3));
  SetPixel(canvas.dc(), 2, 1, RGB(200, 100, 50));
  std::unique_ptr<gp::Bitmap> copy(gp::Bitmap::FromHBITMAP(canvas.bitmap(), nullptr));
  ASSERT_NE(copy, nullptr);
  gp::Color c;
  copy->GetPixel(2, 1, &c);
  EXPECT_EQ(c.GetValue(), 0xFFC86432u);
  copy->GetPixel(0, 0, &c);
  EXPECT_EQ(c.GetValue(), 0xFF010203u);
}

TEST(GdiplusGraphics, SmoothingModeDecidesAntialiasing) {
  struct Case {
    gp::SmoothingMode mode;
    bool blends;
  };
  for (const Case& c : {Case{gp::SmoothingModeAntiAlias, true}, Case{gp::SmoothingModeHighQuality, true},
                        Case{gp::SmoothingModeNone, false}, Case{gp::SmoothingModeDefault, false}}) {
    MemoryCanvas canvas(40, 40, RGB(220, 220, 220));
    gp::Graphics graphics(canvas.dc());
    ASSERT_EQ(graphics.SetSmoothingMode(c.mode), gp::Ok);
    gp::Pen spoke(gp::Color(255, 50, 205, 50), 2.0f);
    ASSERT_EQ(graphics.DrawLine(&spoke, 5.0f, 5.0f, 35.0f, 22.0f), gp::Ok);
    gp::SolidBrush disc(gp::Color(255, 0, 0, 0));
    ASSERT_EQ(graphics.FillEllipse(&disc, 10.0f, 24.0f, 12.0f, 12.0f), gp::Ok);
    const testing::Picture picture = testing::picture_of_dc(canvas.dc());
    // Pixels that are none of the pure colours: background, line, disc.
    int blended = 0;
    for (int y = 0; y < picture.height; ++y)
      for (int x = 0; x < picture.width; ++x) {
        const COLORREF p = picture.at(x, y);
        blended += (p != RGB(220, 220, 220) && p != RGB(50, 205, 50) && p != RGB(0, 0, 0)) ? 1 : 0;
      }
    if (c.blends) {
      EXPECT_GT(blended, 10) << "mode " << c.mode;
    } else {
      EXPECT_EQ(blended, 0) << "mode " << c.mode;
    }
    EXPECT_EQ(GetPixel(canvas.dc(), 16, 30), RGB(0, 0, 0)) << "disc centre";
    EXPECT_EQ(GetPixel(canvas.dc(), 10, 35), RGB(220, 220, 220)) << "outside the disc, inside its box";
  }
}

TEST(GdiplusGraphics, SpokeOpacityBlendsWithTheBackground) {
  MemoryCanvas canvas(20, 20, RGB(220, 220, 220));
  gp::Graphics graphics(canvas.dc());
  gp::Pen faint(gp::Color(255 - 14 * 11, 50, 205, 50), 4.0f);
  graphics.DrawLine(&faint, 2.0f, 10.0f, 18.0f, 10.0f);
  const COLORREF got = GetPixel(canvas.dc(), 10, 10);
  const double a = (255 - 14 * 11) / 255.0;
  EXPECT_TRUE(near(got, RGB(static_cast<int>(50 * a + 220 * (1 - a) + 0.5), static_cast<int>(205 * a + 220 * (1 - a) + 0.5),
                            static_cast<int>(50 * a + 220 * (1 - a) + 0.5)),
                   2))
      << std::hex << got;
}

TEST(GdiplusGraphics, CentredPercentText) {
  MemoryCanvas canvas(120, 120, RGB(220, 220, 220));
  gp::Graphics graphics(canvas.dc());
  gp::Font font(u"Arial", 10, gp::FontStyleBold, gp::UnitPixel);
  gp::StringFormat format;
  format.SetAlignment(gp::StringAlignmentCenter);
  format.SetLineAlignment(gp::StringAlignmentCenter);
  gp::SolidBrush white(gp::Color(255, 255, 255, 255));
  ASSERT_EQ(graphics.DrawString(u"42%", -1, &font, gp::RectF(0, 0, 120, 120), &format, &white), gp::Ok);
  const testing::Picture picture = testing::picture_of_dc(canvas.dc());
  int left = 120, right = 0, top = 120, bottom = 0;
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 120; ++x)
      if (picture.at(x, y) != RGB(220, 220, 220)) {
        left = std::min(left, x);
        right = std::max(right, x + 1);
        top = std::min(top, y);
        bottom = std::max(bottom, y + 1);
      }
  ASSERT_LT(left, right);
  EXPECT_NEAR((left + right) / 2.0, 60.0, 2.0);
  EXPECT_NEAR((top + bottom) / 2.0, 60.0, 3.0);
  EXPECT_LE(bottom - top, 12) << "a 10-pixel font";
}

TEST(GdiplusGraphics, OffScreenImageThenCopied) {
  // The indicator's way: draw into an image, then draw the image onto the context.
  gp::Bitmap off(10, 10);
  {
    gp::Graphics g(&off);
    ASSERT_EQ(g.Clear(gp::Color(255, 220, 220, 220)), gp::Ok);
    gp::SolidBrush black(gp::Color(255, 0, 0, 0));
    ASSERT_EQ(g.FillRectangle(&black, 2, 2, 3, 3), gp::Ok);
  }
  MemoryCanvas canvas(10, 10);
  gp::Graphics graphics(canvas.dc());
  ASSERT_EQ(graphics.DrawImage(&off, 0, 0), gp::Ok);
  EXPECT_EQ(GetPixel(canvas.dc(), 0, 0), RGB(220, 220, 220));
  EXPECT_EQ(GetPixel(canvas.dc(), 2, 2), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(canvas.dc(), 4, 4), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(canvas.dc(), 5, 5), RGB(220, 220, 220));
  gp::Graphics self(&off);
  EXPECT_EQ(self.DrawImage(&off, 0, 0), gp::ObjectBusy);
}

TEST(GdiplusGraphics, RespectsTheContextClip) {
  MemoryCanvas canvas(10, 10);
  IntersectClipRect(canvas.dc(), 0, 0, 5, 10);
  gp::Graphics graphics(canvas.dc());
  graphics.Clear(gp::Color(255, 0, 0, 0));
  EXPECT_EQ(GetPixel(canvas.dc(), 4, 4), RGB(0, 0, 0));
  SelectClipRgn(canvas.dc(), nullptr);
  EXPECT_EQ(GetPixel(canvas.dc(), 5, 4), RGB(255, 255, 255));
}

TEST(GdiplusStartup, TokensPair) {
  gp::ULONG_PTR token = 0;
  gp::GdiplusStartupInput input;
  ASSERT_EQ(gp::GdiplusStartup(&token, &input, nullptr), gp::Ok);
  EXPECT_NE(token, 0u);
  gp::GdiplusShutdown(token);
  EXPECT_EQ(gp::GdiplusStartup(nullptr, &input, nullptr), gp::InvalidParameter);
}

}  // namespace
}  // namespace platform
