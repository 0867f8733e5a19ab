// Text lands in its colour inside its rectangle, centred, cut with an ellipsis, and Portuguese
// letters come out as themselves in both narrow (UTF-8) and wide (UTF-16) calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>

#include "platform/gdi/gdi.h"
#include "platform/gdi/testing/memory_canvas.h"
#include "platform/gdi/testing/screenshot.h"

namespace platform {
namespace {

using testing::MemoryCanvas;
using testing::Picture;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);

// Bounding box of the pixels that differ from the background; empty when none do.
RECT ink_box(const Picture& picture, COLORREF background) {
  RECT box{};
  bool any = false;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) {
      if (picture.at(x, y) == background) continue;
      if (!any) box = RECT{x, y, x + 1, y + 1};
      box.left = std::min(box.left, x);
      box.top = std::min(box.top, y);
      box.right = std::max(box.right, x + 1);
      box.bottom = std::max(box.bottom, y + 1);
      any = true;
    }
  return box;
}

int count_pixels(const Picture& picture, COLORREF color) {
  int n = 0;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) n += picture.at(x, y) == color ? 1 : 0;
  return n;
}

// True when every inked pixel is a shade between the text colour (red) and the white
// background: the red channel stays full and green equals blue.
bool only_red_shades(const Picture& picture) {
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) {
      const COLORREF c = picture.at(x, y);
      if (GetRValue(c) < 250 || std::abs(GetGValue(c) - GetBValue(c)) > 2) return false;
    }
  return true;
}

class Font {
 public:
  Font(HDC dc, int height, int weight, const char16_t* face)
      : dc_(dc), font_(CreateFontW(height, 0, 0, 0, weight, 0, 0, 0, 0, 0, 0, PROOF_QUALITY, FF_SWISS, face)) {
    old_ = SelectObject(dc_, font_);
  }
  ~Font() {
    SelectObject(dc_, old_);
    DeleteObject(font_);
  }

 private:
  HDC dc_;
  HFONT font_;
  HGDIOBJ old_;
};

TEST(DrawText, CentredTextInItsColourStaysInItsRectangle) {
  MemoryCanvas canvas(200, 40);
  Font font(canvas.dc(), 12, FW_NORMAL, u"ËÎÌå");  // the buttons' font
  SetBkMode(canvas.dc(), TRANSPARENT);
  SetTextColor(canvas.dc(), kRed);
  RECT rect{40, 8, 160, 32};
  DrawTextW(canvas.dc(), u"Fechar", -1, &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
  const Picture picture = testing::picture_of_dc(canvas.dc());
  const RECT ink = ink_box(picture, kWhite);
  ASSERT_FALSE(IsRectEmpty(&ink));
  EXPECT_GE(ink.left, rect.left);
  EXPECT_LE(ink.right, rect.right);
  EXPECT_GE(ink.top, rect.top);
  EXPECT_LE(ink.bottom, rect.bottom);
  EXPECT_GT(count_pixels(picture, kRed), 5) << "solid strokes in the text colour";
  EXPECT_TRUE(only_red_shades(picture));
  // Centred: the ink's middle is the rectangle's middle, give or take the glyphs' side bearings.
  EXPECT_NEAR((ink.left + ink.right) / 2.0, (rect.left + rect.right) / 2.0, 2.0);
  EXPECT_NEAR((ink.top + ink.bottom) / 2.0, (rect.top + rect.bottom) / 2.0, 3.0);
}

TEST(DrawText, AlignmentTable) {
  struct Case {
    unsigned format;
    int expected_left;  // where the ink starts, by the flags
  };
  MemoryCanvas probe(10, 10);
  Font probe_font(probe.dc(), -14, FW_NORMAL, u"Arial");
  SIZE extent;
  ASSERT_TRUE(GetTextExtentPoint32A(probe.dc(), "Foto", 4, &extent));
  const RECT rect{20, 0, 180, 30};
  const Case cases[] = {
      {DT_LEFT | DT_SINGLELINE, rect.left},
      {DT_CENTER | DT_SINGLELINE, rect.left + (rect.width() - extent.cx) / 2},
      {DT_RIGHT | DT_SINGLELINE, rect.right - extent.cx},
  };
  for (const Case& c : cases) {
    MemoryCanvas canvas(200, 30);
    Font font(canvas.dc(), -14, FW_NORMAL, u"Arial");
    SetBkMode(canvas.dc(), TRANSPARENT);
    RECT r = rect;
    DrawTextA(canvas.dc(), "Foto", -1, &r, c.format);
    const RECT ink = ink_box(testing::picture_of_dc(canvas.dc()), kWhite);
    EXPECT_NEAR(ink.left, c.expected_left, 2) << "format " << c.format;
  }
}

TEST(DrawText, EndEllipsisCutsTextThatDoesNotFit) {
  const char16_t* text = u"Cancelar exportação de vídeo";
  RECT rect{10, 0, 90, 20};
  auto draw = [&](unsigned extra) {
    MemoryCanvas canvas(200, 20);
    Font font(canvas.dc(), 12, FW_NORMAL, u"Arial");
    SetBkMode(canvas.dc(), TRANSPARENT);
    RECT r = rect;
    DrawTextW(canvas.dc(), text, -1, &r, DT_LEFT | DT_SINGLELINE | DT_NOCLIP | extra);
    return testing::picture_of_dc(canvas.dc());
  };
  const Picture cut = draw(DT_END_ELLIPSIS);
  const Picture overflowing = draw(0);
  EXPECT_GT(ink_box(overflowing, kWhite).right, rect.right) << "the whole text is wider than the rectangle";
  const RECT cut_ink = ink_box(cut, kWhite);
  EXPECT_LE(cut_ink.right, rect.right);
  EXPECT_GT(cut_ink.right, rect.right - 12) << "as much text as fits";
  // The last few inked columns are the three dots: short marks sitting on the baseline.
  int dot_columns_top = cut_ink.bottom;
  for (int x = cut_ink.right - 8; x < cut_ink.right; ++x)
    for (int y = cut_ink.top; y < cut_ink.bottom; ++y)
      if (cut.at(x, y) != kWhite) dot_columns_top = std::min(dot_columns_top, y);
  EXPECT_GE(dot_columns_top, cut_ink.bottom - 4) << "only dots at the end";
}

TEST(DrawText, TextThatFitsIsNotCut) {
  MemoryCanvas a(200, 20);
  MemoryCanvas b(200, 20);
  for (HDC dc : {a.dc(), b.dc()}) SetBkMode(dc, TRANSPARENT);
  RECT r1{0, 0, 200, 20};
  RECT r2 = r1;
  DrawTextA(a.dc(), "Gravar", -1, &r1, DT_SINGLELINE | DT_END_ELLIPSIS);
  DrawTextA(b.dc(), "Gravar", -1, &r2, DT_SINGLELINE);
  EXPECT_EQ(testing::count_differences(testing::picture_of_dc(a.dc()), testing::picture_of_dc(b.dc()), 0), 0);
}

TEST(DrawText, CalcRectMeasuresWithoutDrawing) {
  MemoryCanvas canvas(100, 40);
  Font font(canvas.dc(), -10, FW_BOLD, u"Arial");
  RECT rect{5, 5, 6, 6};
  const int height = DrawTextA(canvas.dc(), "100%", -1, &rect, DT_CALCRECT | DT_SINGLELINE);
  SIZE extent;
  GetTextExtentPoint32A(canvas.dc(), "100%", -1, &extent);
  EXPECT_EQ(rect, (RECT{5, 5, 5 + extent.cx, 5 + extent.cy}));
  EXPECT_EQ(height, extent.cy);
  EXPECT_GT(extent.cx, 15);
  const RECT ink = ink_box(testing::picture_of_dc(canvas.dc()), kWhite);
  EXPECT_TRUE(IsRectEmpty(&ink)) << "nothing drawn";
}

TEST(DrawText, MultiLineBreaksAtNewlinesAndWords) {
  MemoryCanvas canvas(60, 100);
  TEXTMETRIC tm;
  GetTextMetrics(canvas.dc(), &tm);
  RECT one{0, 0, 60, 0};
  EXPECT_EQ(DrawTextA(canvas.dc(), "a\nb\nc", -1, &one, DT_CALCRECT), 3 * tm.tmHeight);
  RECT wrapped{0, 0, 60, 0};
  EXPECT_EQ(DrawTextA(canvas.dc(), "aaaa bbbb cccc", -1, &wrapped, DT_CALCRECT | DT_WORDBREAK), 3 * tm.tmHeight);
  EXPECT_LE(wrapped.right, 60);
}

TEST(Text, PortugueseLettersAreSingleCharactersInBothCodePages) {
  MemoryCanvas canvas(300, 30);
  Font font(canvas.dc(), -16, FW_NORMAL, u"Arial");
  SIZE c_size;
  SIZE cedilla_size;
  GetTextExtentPoint32A(canvas.dc(), "c", -1, &c_size);
  GetTextExtentPoint32A(canvas.dc(), "ç", -1, &cedilla_size);
  EXPECT_EQ(cedilla_size.cx, c_size.cx) << "one glyph, not two bytes' worth of mojibake";
  SIZE narrow;
  SIZE wide;
  GetTextExtentPoint32A(canvas.dc(), "Exportação é Padrão", -1, &narrow);
  GetTextExtentPoint32W(canvas.dc(), u"Exportação é Padrão", -1, &wide);
  EXPECT_EQ(narrow.cx, wide.cx);

  // The same pixels through the narrow and the wide call, and a cedilla below the line.
  MemoryCanvas a(300, 30);
  MemoryCanvas b(300, 30);
  MemoryCanvas plain(300, 30);
  Font fa(a.dc(), -16, FW_NORMAL, u"Arial");
  Font fb(b.dc(), -16, FW_NORMAL, u"Arial");
  Font fp(plain.dc(), -16, FW_NORMAL, u"Arial");
  TextOutA(a.dc(), 2, 2, "ção", -1);
  TextOutW(b.dc(), 2, 2, u"ção", -1);
  TextOutA(plain.dc(), 2, 2, "cao", -1);
  const Picture pa = testing::picture_of_dc(a.dc());
  EXPECT_EQ(testing::count_differences(pa, testing::picture_of_dc(b.dc()), 0), 0);
  const RECT accented = ink_box(pa, kWhite);
  const RECT bare = ink_box(testing::picture_of_dc(plain.dc()), kWhite);
  EXPECT_GT(accented.bottom, bare.bottom) << "the cedilla hangs below";
  EXPECT_LT(accented.top, bare.top) << "the tilde sits above";
}

TEST(TextOut, OpaqueModeFillsTheCellWithTheBackgroundColour) {
  MemoryCanvas canvas(200, 30);
  SetBkMode(canvas.dc(), OPAQUE);
  SetBkColor(canvas.dc(), RGB(0, 0, 255));
  SetTextColor(canvas.dc(), kWhite);
  TextOutA(canvas.dc(), 10, 5, "MASCARAMENTO", -1);
  SIZE extent;
  GetTextExtentPoint32A(canvas.dc(), "MASCARAMENTO", -1, &extent);
  EXPECT_EQ(GetPixel(canvas.dc(), 10, 5), RGB(0, 0, 255));
  EXPECT_EQ(GetPixel(canvas.dc(), 10 + extent.cx - 1, 5 + extent.cy - 1), RGB(0, 0, 255));
  EXPECT_EQ(GetPixel(canvas.dc(), 9, 5), kWhite);
  EXPECT_EQ(GetPixel(canvas.dc(), 10, 5 + extent.cy), kWhite);
}

TEST(ExtTextOut, OpaqueClippedBandWithCentredText) {
  // The stall notice: red text, centre-aligned at the middle, in an opaque band 20 pixels high.
  MemoryCanvas canvas(240, 80, RGB(0, 0, 0));
  SetTextColor(canvas.dc(), RGB(255, 0, 0));
  SetTextAlign(canvas.dc(), TA_CENTER);
  RECT band{0, 40, 240, 60};
  const char* notice = "Desconectado por 30 segundos";
  ASSERT_TRUE(ExtTextOutA(canvas.dc(), 120, 40, ETO_OPAQUE | ETO_CLIPPED, &band, notice,
                          static_cast<unsigned>(std::string(notice).size()), nullptr));
  const Picture picture = testing::picture_of_dc(canvas.dc());
  EXPECT_EQ(picture.at(0, 40), kWhite) << "band takes the default background colour";
  EXPECT_EQ(picture.at(239, 59), kWhite);
  EXPECT_EQ(picture.at(0, 39), RGB(0, 0, 0)) << "nothing above the band";
  EXPECT_EQ(picture.at(0, 60), RGB(0, 0, 0)) << "nothing below the band";
  // Red ink centred on x = 120.
  int left = 240;
  int right = 0;
  for (int y = 40; y < 60; ++y)
    for (int x = 0; x < 240; ++x)
      if (picture.at(x, y) != kWhite) {
        left = std::min(left, x);
        right = std::max(right, x + 1);
      }
  EXPECT_NEAR((left + right) / 2.0, 120.0, 2.0);
  EXPECT_GT(count_pixels(picture, kRed), 10);
  EXPECT_FALSE(ExtTextOutA(canvas.dc(), 0, 0, 0, nullptr, "ab", 2, std::array<int, 2>{5, 5}.data()))
      << "per-character advances are not supported";
}

TEST(Fonts, FacesMapToInstalledFamilies) {
  EXPECT_STREQ(font_family_for_face("Arial"), "Liberation Sans");
  EXPECT_STREQ(font_family_for_face("arial"), "Liberation Sans");
  EXPECT_STREQ(font_family_for_face("ËÎÌå"), "DejaVu Sans");
  EXPECT_STREQ(font_family_for_face(""), "DejaVu Sans");
  EXPECT_STREQ(font_family_for_face(nullptr), "DejaVu Sans");
}

TEST(Fonts, HeightSelectsCellOrCharacterSize) {
  struct Case {
    int height;
    int expected_cell;  // tmHeight; 0: larger than the em
  };
  MemoryCanvas canvas(10, 10);
  for (const Case& c : {Case{16, 16}, Case{12, 12}, Case{-12, 0}}) {
    Font font(canvas.dc(), c.height, FW_NORMAL, u"Arial");
    TEXTMETRIC tm;
    ASSERT_TRUE(GetTextMetrics(canvas.dc(), &tm));
    if (c.expected_cell != 0) {
      EXPECT_EQ(tm.tmHeight, c.expected_cell) << c.height;
    } else {
      EXPECT_GT(tm.tmHeight, 12) << "a character height leaves the cell taller";
      EXPECT_LT(tm.tmHeight, 16);
    }
  }
}

}  // namespace
}  // namespace platform
