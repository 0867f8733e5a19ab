// Shapes, fills, frames, lines and gradients land on exactly the pixels Win32 puts them on.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/gdi/testing/memory_canvas.h"

namespace platform {
namespace {

using testing::MemoryCanvas;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);

struct Expect {
  int x;
  int y;
  COLORREF color;
};

struct ShapeCase {
  std::string name;
  std::function<void(HDC)> draw;
  std::vector<Expect> expect;
};

// Runs `fn` with a pen and a brush selected, restoring and deleting them afterwards.
void with_tools(HDC dc, HPEN pen, HBRUSH brush, const std::function<void()>& fn) {
  HGDIOBJ old_pen = SelectObject(dc, pen);
  HGDIOBJ old_brush = SelectObject(dc, brush);
  fn();
  SelectObject(dc, old_pen);
  SelectObject(dc, old_brush);
  DeleteObject(pen);
  DeleteObject(brush);
}

class ShapeTest : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(ShapeTest, PixelsLandWhereWin32PutsThem) {
  const ShapeCase& c = GetParam();
  MemoryCanvas canvas(24, 20);
  c.draw(canvas.dc());
  for (const Expect& e : c.expect)
    EXPECT_EQ(GetPixel(canvas.dc(), e.x, e.y), e.color) << c.name << " at (" << e.x << ", " << e.y << ")";
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ShapeTest,
    ::testing::Values(
        ShapeCase{"fill_rect_excludes_right_and_bottom",
                  [](HDC dc) {
                    HBRUSH red = CreateSolidBrush(kRed);
                    RECT r{2, 3, 6, 5};
                    FillRect(dc, &r, red);
                    DeleteObject(red);
                  },
                  {{2, 3, kRed}, {5, 4, kRed}, {6, 4, kWhite}, {5, 5, kWhite}, {1, 3, kWhite}, {2, 2, kWhite}}},
        ShapeCase{"rectangle_thin_pen_outline_and_brush_inside",
                  [](HDC dc) {
                    with_tools(dc, CreatePen(PS_SOLID, 1, kBlack), CreateSolidBrush(kRed),
                               [&] { Rectangle(dc, 2, 2, 8, 6); });
                  },
                  {{2, 2, kBlack}, {7, 2, kBlack}, {2, 5, kBlack}, {7, 5, kBlack}, {4, 2, kBlack}, {7, 4, kBlack},
                   {3, 3, kRed}, {6, 4, kRed}, {8, 2, kWhite}, {2, 6, kWhite}}},
        ShapeCase{"rectangle_null_pen_fills_one_pixel_less",
                  [](HDC dc) {
                    with_tools(dc, CreatePen(PS_NULL, 1, kBlack), CreateSolidBrush(kRed),
                               [&] { Rectangle(dc, 2, 2, 8, 6); });
                  },
                  {{2, 2, kRed}, {6, 4, kRed}, {7, 4, kWhite}, {6, 5, kWhite}}},
        ShapeCase{"rectangle_hollow_brush_keeps_inside",
                  [](HDC dc) {
                    HPEN pen = CreatePen(PS_SOLID, 1, kBlue);
                    HGDIOBJ old_pen = SelectObject(dc, pen);
                    HGDIOBJ old_brush = SelectObject(dc, GetStockObject(HOLLOW_BRUSH));
                    Rectangle(dc, 2, 2, 8, 6);
                    SelectObject(dc, old_pen);
                    SelectObject(dc, old_brush);
                    DeleteObject(pen);
                  },
                  {{2, 2, kBlue}, {7, 5, kBlue}, {4, 3, kWhite}}},
        ShapeCase{"rectangle_wide_pen_centred_on_the_border",
                  [](HDC dc) {
                    HPEN pen = CreatePen(PS_SOLID, 3, kGreen);
                    HGDIOBJ old_pen = SelectObject(dc, pen);
                    HGDIOBJ old_brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
                    Rectangle(dc, 5, 5, 15, 12);
                    SelectObject(dc, old_pen);
                    SelectObject(dc, old_brush);
                    DeleteObject(pen);
                  },
                  {{4, 4, kGreen}, {6, 6, kGreen}, {7, 7, kWhite}, {15, 8, kGreen}, {16, 8, kWhite}, {12, 8, kWhite},
                   {13, 8, kGreen}, {8, 12, kGreen}, {8, 13, kWhite}, {3, 8, kWhite}}},
        ShapeCase{"frame_rect_one_pixel_inside",
                  [](HDC dc) {
                    HBRUSH red = CreateSolidBrush(kRed);
                    RECT r{1, 1, 5, 4};
                    FrameRect(dc, &r, red);
                    DeleteObject(red);
                  },
                  {{1, 1, kRed}, {4, 1, kRed}, {1, 3, kRed}, {4, 3, kRed}, {2, 2, kWhite}, {3, 2, kWhite}, {5, 1, kWhite},
                   {1, 4, kWhite}}},
        ShapeCase{"two_colour_frame",
                  [](HDC dc) {
                    RECT r{1, 1, 7, 6};
                    Draw3dRect(dc, &r, kRed, kBlue);
                  },
                  {{1, 1, kRed}, {5, 1, kRed}, {6, 1, kBlue}, {1, 4, kRed}, {1, 5, kBlue}, {6, 3, kBlue}, {3, 5, kBlue},
                   {6, 5, kBlue}, {3, 3, kWhite}, {7, 3, kWhite}, {3, 6, kWhite}}},
        ShapeCase{"line_excludes_its_end_point",
                  [](HDC dc) {
                    with_tools(dc, CreatePen(PS_SOLID, 1, kBlack), CreateSolidBrush(kWhite), [&] {
                      MoveToEx(dc, 1, 1, nullptr);
                      LineTo(dc, 5, 1);
                      LineTo(dc, 5, 4);
                    });
                  },
                  {{1, 1, kBlack}, {4, 1, kBlack}, {5, 1, kBlack}, {5, 3, kBlack}, {5, 4, kWhite}, {0, 1, kWhite},
                   {6, 1, kWhite}}},
        ShapeCase{"null_pen_line_draws_nothing",
                  [](HDC dc) {
                    SelectObject(dc, GetStockObject(NULL_PEN));
                    MoveToEx(dc, 1, 1, nullptr);
                    LineTo(dc, 5, 1);
                    SelectObject(dc, GetStockObject(BLACK_PEN));
                  },
                  {{1, 1, kWhite}, {3, 1, kWhite}}},
        ShapeCase{"clip_rect_limits_drawing",
                  [](HDC dc) {
                    SaveDC(dc);
                    IntersectClipRect(dc, 4, 4, 8, 8);
                    RECT all{0, 0, 24, 20};
                    FillSolidRect(dc, &all, kRed);
                    RestoreDC(dc, -1);
                  },
                  {{4, 4, kRed}, {7, 7, kRed}, {3, 4, kWhite}, {8, 7, kWhite}, {4, 8, kWhite}}},
        ShapeCase{"restore_dc_lifts_the_clip",
                  [](HDC dc) {
                    SaveDC(dc);
                    IntersectClipRect(dc, 4, 4, 8, 8);
                    RestoreDC(dc, -1);
                    RECT all{0, 0, 24, 20};
                    FillSolidRect(dc, &all, kRed);
                  },
                  {{0, 0, kRed}, {23, 19, kRed}}},
        ShapeCase{"patcopy_and_blackness",
                  [](HDC dc) {
                    HBRUSH blue = CreateSolidBrush(kBlue);
                    HGDIOBJ old = SelectObject(dc, blue);
                    BitBlt(dc, 0, 0, 3, 3, nullptr, 0, 0, PATCOPY);
                    BitBlt(dc, 10, 10, 2, 2, nullptr, 0, 0, BLACKNESS);
                    SelectObject(dc, old);
                    DeleteObject(blue);
                  },
                  {{0, 0, kBlue}, {2, 2, kBlue}, {3, 3, kWhite}, {10, 10, kBlack}, {11, 11, kBlack}, {12, 12, kWhite}}}),
    [](const ::testing::TestParamInfo<ShapeCase>& case_info) { return case_info.param.name; });

TEST(GradientFill, VerticalRunsFromTheTopColourTowardsTheBottomColour) {
  MemoryCanvas canvas(8, 10);
  // The tool bar's colours: RGB 64, 69, 73 at the top to black at the bottom.
  TRIVERTEX v[2];
  v[0].x = 1;
  v[0].y = 0;
  v[0].Red = 64 << 8;
  v[0].Green = 69 << 8;
  v[0].Blue = 73 << 8;
  v[1].x = 7;
  v[1].y = 10;
  GRADIENT_RECT mesh{0, 1};
  ASSERT_TRUE(GradientFill(canvas.dc(), v, 2, &mesh, 1, GRADIENT_FILL_RECT_V));
  EXPECT_EQ(GetPixel(canvas.dc(), 1, 0), RGB(64, 69, 73));
  EXPECT_EQ(GetPixel(canvas.dc(), 6, 0), RGB(64, 69, 73));
  // The last row is one tenth of the way from black.
  EXPECT_EQ(GetPixel(canvas.dc(), 3, 9), RGB(6, 6, 7));
  EXPECT_EQ(GetPixel(canvas.dc(), 0, 5), RGB(255, 255, 255)) << "left of the rectangle";
  EXPECT_EQ(GetPixel(canvas.dc(), 7, 5), RGB(255, 255, 255)) << "right edge excluded";
  int previous = 256;
  for (int y = 0; y < 10; ++y) {
    const int red = GetRValue(GetPixel(canvas.dc(), 3, y));
    EXPECT_LT(red, previous) << "row " << y;
    previous = red;
    EXPECT_EQ(GetPixel(canvas.dc(), 1, y), GetPixel(canvas.dc(), 6, y)) << "one colour per row";
  }
}

TEST(GradientFill, RefusesVerticesOutsideTheArray) {
  MemoryCanvas canvas(4, 4);
  TRIVERTEX v[2];
  GRADIENT_RECT mesh{0, 2};
  EXPECT_FALSE(GradientFill(canvas.dc(), v, 2, &mesh, 1, GRADIENT_FILL_RECT_V));
}

TEST(GdiObjects, StaleAndWrongHandlesFailWithoutTouchingAnything) {
  MemoryCanvas canvas(4, 4);
  HBRUSH brush = CreateSolidBrush(kRed);
  ASSERT_TRUE(DeleteObject(brush));
  RECT r{0, 0, 4, 4};
  EXPECT_EQ(FillRect(canvas.dc(), &r, brush), 0);
  EXPECT_EQ(SelectObject(canvas.dc(), brush), nullptr);
  EXPECT_FALSE(DeleteObject(brush));
  EXPECT_EQ(GetPixel(canvas.dc(), 1, 1), kWhite);
  // A context is not an object for DeleteObject, a brush is not a context.
  EXPECT_FALSE(DeleteObject(canvas.dc()));
  EXPECT_FALSE(DeleteDC(reinterpret_cast<HDC>(GetStockObject(WHITE_BRUSH))));
  EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_PEN))) << "stock objects ignore deletion";
  EXPECT_NE(GetObjectType(GetStockObject(BLACK_PEN)), 0u);
}

TEST(GdiObjects, APenDeletedWhileSelectedStillDrawsUntilDeselected) {
  MemoryCanvas canvas(6, 6);
  HPEN pen = CreatePen(PS_SOLID, 1, kBlue);
  HGDIOBJ old = SelectObject(canvas.dc(), pen);
  ASSERT_TRUE(DeleteObject(pen));
  MoveToEx(canvas.dc(), 0, 2, nullptr);
  LineTo(canvas.dc(), 4, 2);
  EXPECT_EQ(GetPixel(canvas.dc(), 2, 2), kBlue);
  EXPECT_EQ(SelectObject(canvas.dc(), old), pen) << "the old handle comes back, stale";
}

TEST(GdiObjects, ABitmapIsSelectedIntoOneContextAtATime) {
  HDC first = CreateCompatibleDC(nullptr);
  HDC second = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(first, 4, 4);
  HGDIOBJ old_first = SelectObject(first, bitmap);
  ASSERT_NE(old_first, nullptr);
  EXPECT_EQ(SelectObject(second, bitmap), nullptr);
  SelectObject(first, old_first);
  HGDIOBJ old_second = SelectObject(second, bitmap);
  EXPECT_NE(old_second, nullptr) << "free again once deselected";
  SelectObject(second, old_second);
  DeleteObject(bitmap);
  DeleteDC(first);
  DeleteDC(second);
}

TEST(GdiObjects, EverythingMadeIsGivenBack) {
  const size_t before = gdi_object_count();
  {
    MemoryCanvas canvas(8, 8);
    HFONT font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, u"Arial");
    HGDIOBJ old = SelectObject(canvas.dc(), font);
    TextOutA(canvas.dc(), 0, 0, "x", 1);
    SelectObject(canvas.dc(), old);
    DeleteObject(font);
    HDC window_less = GetDC(nullptr);
    ReleaseDC(nullptr, window_less);
  }
  EXPECT_EQ(gdi_object_count(), before);
}

TEST(Rects, HelpersFollowWin32) {
  RECT a{0, 0, 10, 10};
  RECT b{5, 5, 20, 20};
  RECT out;
  EXPECT_TRUE(IntersectRect(&out, &a, &b));
  EXPECT_EQ(out, (RECT{5, 5, 10, 10}));
  RECT far{30, 30, 40, 40};
  EXPECT_FALSE(IntersectRect(&out, &a, &far));
  EXPECT_TRUE(IsRectEmpty(&out));
  EXPECT_TRUE(PtInRect(&a, POINT{0, 0}));
  EXPECT_FALSE(PtInRect(&a, POINT{10, 5})) << "right edge is outside";
  OffsetRect(&a, 3, -2);
  EXPECT_EQ(a, (RECT{3, -2, 13, 8}));
  InflateRect(&a, -1, 2);
  EXPECT_EQ(a, (RECT{4, -4, 12, 10}));
}

}  // namespace
}  // namespace platform
