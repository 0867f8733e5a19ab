// The GDI+ subset: graphics on a device context or an image, images decoded from PNG (or BMP,
// JPEG) bytes or files, drawing images through a colour matrix, antialiased lines, ellipses,
// rectangles and text. Win32 class names and semantics, drawn with cairo.
//
// Conventions
//  1. Objects are plain C++ objects owned by their creator; every object keeps the status of its
//     last call (GetLastStatus). A failed construction leaves a status other than Ok and an object
//     that draws nothing.
//  2. A Graphics on a device context draws into what the context draws into (window surface or
//     selected bitmap), within the context's clip, and marks what it drew changed on a window.
//     A Graphics on an Image draws into the image's pixels.
//  3. Image pixels are 32-bit ARGB with straight (non-premultiplied) alpha as seen through
//     GetPixel/SetPixel; drawing an image blends it over the destination by its alpha.
//  4. One thread uses a Graphics at a time; images can be drawn from any thread (each draw holds
//     the image's lock).
//  5. Text is UTF-16 (char16_t) with font families mapped as for GDI (gdi.h, convention 6).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/gdi/gdi.h"
#include "platform/gdi/gdi_api.h"

namespace platform::Gdiplus {

using REAL = float;
using INT = int;
using UINT = unsigned;
using ARGB = uint32_t;
using ULONG_PTR = uintptr_t;

enum Status {
  Ok = 0,
  GenericError = 1,
  InvalidParameter = 2,
  OutOfMemory = 3,
  ObjectBusy = 4,
  InsufficientBuffer = 5,
  NotImplemented = 6,
  Win32Error = 7,
  WrongState = 8,
  Aborted = 9,
  FileNotFound = 10,
  ValueOverflow = 11,
  AccessDenied = 12,
  UnknownImageFormat = 13,
};

struct GdiplusStartupInput {
  uint32_t GdiplusVersion = 1;
  void* DebugEventCallback = nullptr;
  bool SuppressBackgroundThread = false;
  bool SuppressExternalCodecs = false;
};
struct GdiplusStartupOutput {
  void* NotificationHook = nullptr;
  void* NotificationUnhook = nullptr;
};
// Counts starts; nothing needs starting here, but the pairs are checked (a token that was not
// handed out is ignored by GdiplusShutdown).
PLATFORM_GDI_API Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input,
                                       GdiplusStartupOutput* output);
PLATFORM_GDI_API void GdiplusShutdown(ULONG_PTR token);

class PLATFORM_GDI_API Color {
 public:
  Color() = default;
  Color(uint8_t r, uint8_t g, uint8_t b) : argb_(MakeARGB(255, r, g, b)) {}
  Color(uint8_t a, uint8_t r, uint8_t g, uint8_t b) : argb_(MakeARGB(a, r, g, b)) {}
  explicit Color(ARGB argb) : argb_(argb) {}

  uint8_t GetA() const { return static_cast<uint8_t>(argb_ >> 24); }
  uint8_t GetR() const { return static_cast<uint8_t>(argb_ >> 16); }
  uint8_t GetG() const { return static_cast<uint8_t>(argb_ >> 8); }
  uint8_t GetB() const { return static_cast<uint8_t>(argb_); }
  ARGB GetValue() const { return argb_; }
  void SetFromCOLORREF(COLORREF rgb) { argb_ = MakeARGB(255, GetRValue(rgb), GetGValue(rgb), GetBValue(rgb)); }
  COLORREF ToCOLORREF() const { return RGB(GetR(), GetG(), GetB()); }

  static ARGB MakeARGB(uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
    return (static_cast<ARGB>(a) << 24) | (static_cast<ARGB>(r) << 16) | (static_cast<ARGB>(g) << 8) | b;
  }

 private:
  ARGB argb_ = 0xFF000000u;
};

struct Point {
  INT X = 0;
  INT Y = 0;
};
struct PointF {
  REAL X = 0;
  REAL Y = 0;
};
struct Rect {
  Rect() = default;
  Rect(INT x, INT y, INT width, INT height) : X(x), Y(y), Width(width), Height(height) {}
  INT X = 0;
  INT Y = 0;
  INT Width = 0;
  INT Height = 0;
};
struct RectF {
  RectF() = default;
  RectF(REAL x, REAL y, REAL width, REAL height) : X(x), Y(y), Width(width), Height(height) {}
  REAL X = 0;
  REAL Y = 0;
  REAL Width = 0;
  REAL Height = 0;
};

enum Unit { UnitWorld = 0, UnitDisplay = 1, UnitPixel = 2, UnitPoint = 3 };
enum SmoothingMode {
  SmoothingModeInvalid = -1,
  SmoothingModeDefault = 0,
  SmoothingModeHighSpeed = 1,
  SmoothingModeHighQuality = 2,
  SmoothingModeNone = 3,
  SmoothingModeAntiAlias = 4,
};
enum InterpolationMode {
  InterpolationModeDefault = 0,
  InterpolationModeLowQuality = 1,
  InterpolationModeHighQuality = 2,
  InterpolationModeBilinear = 3,
  InterpolationModeBicubic = 4,
  InterpolationModeNearestNeighbor = 5,
  InterpolationModeHighQualityBilinear = 6,
  InterpolationModeHighQualityBicubic = 7,
};
enum LineCap { LineCapFlat = 0, LineCapSquare = 1, LineCapRound = 2 };
enum DashCap { DashCapFlat = 0 };
enum FontStyle { FontStyleRegular = 0, FontStyleBold = 1, FontStyleItalic = 2, FontStyleBoldItalic = 3 };
enum StringAlignment { StringAlignmentNear = 0, StringAlignmentCenter = 1, StringAlignmentFar = 2 };
enum StringFormatFlags { StringFormatFlagsNoWrap = 0x00001000, StringFormatFlagsNoClip = 0x00004000 };
enum ColorMatrixFlags { ColorMatrixFlagsDefault = 0 };
enum ColorAdjustType { ColorAdjustTypeDefault = 0, ColorAdjustTypeBitmap = 1 };
using PixelFormat = int32_t;
inline constexpr PixelFormat PixelFormat32bppRGB = 0x00022009;
inline constexpr PixelFormat PixelFormat32bppARGB = 0x0026200A;

// A colour transform: the row vector (r, g, b, a, 1) in 0..1 times m gives the new colour.
struct ColorMatrix {
  REAL m[5][5] = {};
};

class PLATFORM_GDI_API ImageAttributes {
 public:
  ImageAttributes() = default;
  Status SetColorMatrix(const ColorMatrix* matrix, ColorMatrixFlags flags = ColorMatrixFlagsDefault,
                        ColorAdjustType type = ColorAdjustTypeDefault);
  Status ClearColorMatrix(ColorAdjustType type = ColorAdjustTypeDefault);
  Status GetLastStatus() const { return status_; }

  // The matrix in force, null when none.
  const ColorMatrix* color_matrix() const { return has_matrix_ ? &matrix_ : nullptr; }

 private:
  ColorMatrix matrix_;
  bool has_matrix_ = false;
  Status status_ = Ok;
};

struct ImageData;

class PLATFORM_GDI_API Image {
 public:
  virtual ~Image();
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  UINT GetWidth();
  UINT GetHeight();
  Status GetLastStatus() const { return status_; }

  // Decodes PNG, BMP or JPEG bytes; null when they cannot be decoded. The caller deletes it.
  static Image* FromMemory(const void* data, size_t size);
  static Image* FromFile(const char16_t* path);

  // Internal: the pixels, for Graphics.
  ImageData* data() const { return data_.get(); }

 protected:
  Image();
  std::unique_ptr<ImageData> data_;
  Status status_ = Ok;
};

class PLATFORM_GDI_API Bitmap : public Image {
 public:
  // A transparent-black bitmap of that size.
  Bitmap(INT width, INT height, PixelFormat format = PixelFormat32bppARGB);
  // Decodes a PNG, BMP or JPEG file (UTF-16 path); FileNotFound or UnknownImageFormat on failure.
  explicit Bitmap(const char16_t* path);
  // Decodes PNG, BMP or JPEG bytes held in memory (a module's embedded resource).
  Bitmap(const void* data, size_t size);

  // An opaque copy of a GDI bitmap; null when the handle is not a bitmap.
  static Bitmap* FromHBITMAP(HBITMAP bitmap, void* palette);
  static Bitmap* FromMemory(const void* data, size_t size);
  static Bitmap* FromFile(const char16_t* path);

  Status GetPixel(INT x, INT y, Color* color);
  Status SetPixel(INT x, INT y, const Color& color);

 private:
  Bitmap();
};

class PLATFORM_GDI_API Brush {
 public:
  virtual ~Brush();
  Status GetLastStatus() const { return status_; }
  virtual Color color() const = 0;

 protected:
  Brush() = default;
  Status status_ = Ok;
};

class PLATFORM_GDI_API SolidBrush : public Brush {
 public:
  explicit SolidBrush(const Color& color) : color_(color) {}
  Status SetColor(const Color& color) {
    color_ = color;
    return Ok;
  }
  Status GetColor(Color* color) const {
    *color = color_;
    return Ok;
  }
  Color color() const override { return color_; }

 private:
  Color color_;
};

class PLATFORM_GDI_API Pen {
 public:
  explicit Pen(const Color& color, REAL width = 1.0f) : color_(color), width_(width) {}
  Status SetColor(const Color& color) {
    color_ = color;
    return Ok;
  }
  Status SetWidth(REAL width) {
    width_ = width;
    return Ok;
  }
  Status SetLineCap(LineCap start, LineCap end, DashCap) {
    start_cap_ = start;
    end_cap_ = end;
    return Ok;
  }
  Status SetStartCap(LineCap cap) {
    start_cap_ = cap;
    return Ok;
  }
  Status SetEndCap(LineCap cap) {
    end_cap_ = cap;
    return Ok;
  }
  Color color() const { return color_; }
  REAL width() const { return width_; }
  // Both ends are drawn with the end cap (cairo has one cap per stroke).
  LineCap end_cap() const { return end_cap_; }
  LineCap start_cap() const { return start_cap_; }
  Status GetLastStatus() const { return Ok; }

 private:
  Color color_;
  REAL width_;
  LineCap start_cap_ = LineCapFlat;
  LineCap end_cap_ = LineCapFlat;
};

class PLATFORM_GDI_API Font {
 public:
  // `size` in `unit`: UnitPixel is the em height in pixels, UnitPoint (and UnitWorld) points at
  // 96 dots per inch.
  Font(const char16_t* family, REAL size, INT style = FontStyleRegular, Unit unit = UnitPoint);
  Status GetLastStatus() const { return Ok; }

  const char* family() const { return family_; }  // the installed family it is drawn with
  REAL pixel_size() const { return pixel_size_; }
  INT style() const { return style_; }

 private:
  const char* family_;
  REAL pixel_size_;
  INT style_;
};

class PLATFORM_GDI_API StringFormat {
 public:
  StringFormat() = default;
  explicit StringFormat(INT flags) : flags_(flags) {}
  Status SetAlignment(StringAlignment align) {
    align_ = align;
    return Ok;
  }
  Status SetLineAlignment(StringAlignment align) {
    line_align_ = align;
    return Ok;
  }
  Status SetFormatFlags(INT flags) {
    flags_ = flags;
    return Ok;
  }
  StringAlignment GetAlignment() const { return align_; }
  StringAlignment GetLineAlignment() const { return line_align_; }
  INT GetFormatFlags() const { return flags_; }

 private:
  StringAlignment align_ = StringAlignmentNear;
  StringAlignment line_align_ = StringAlignmentNear;
  INT flags_ = 0;
};

struct GraphicsTarget;

class PLATFORM_GDI_API Graphics {
 public:
  explicit Graphics(HDC dc);
  explicit Graphics(Image* image);
  ~Graphics();
  Graphics(const Graphics&) = delete;
  Graphics& operator=(const Graphics&) = delete;

  static Graphics* FromHDC(HDC dc);
  static Graphics* FromImage(Image* image);

  Status GetLastStatus() const { return status_; }

  Status SetSmoothingMode(SmoothingMode mode);
  SmoothingMode GetSmoothingMode() const { return smoothing_; }
  Status SetInterpolationMode(InterpolationMode mode);
  InterpolationMode GetInterpolationMode() const { return interpolation_; }

  // Fills the whole target (within the clip) with the colour, alpha included.
  Status Clear(const Color& color);
  Status DrawLine(const Pen* pen, REAL x1, REAL y1, REAL x2, REAL y2);
  Status DrawLine(const Pen* pen, INT x1, INT y1, INT x2, INT y2);
  Status DrawRectangle(const Pen* pen, REAL x, REAL y, REAL width, REAL height);
  Status DrawRectangle(const Pen* pen, INT x, INT y, INT width, INT height);
  Status FillRectangle(const Brush* brush, REAL x, REAL y, REAL width, REAL height);
  Status FillRectangle(const Brush* brush, INT x, INT y, INT width, INT height);
  Status DrawEllipse(const Pen* pen, REAL x, REAL y, REAL width, REAL height);
  Status FillEllipse(const Brush* brush, REAL x, REAL y, REAL width, REAL height);
  Status FillEllipse(const Brush* brush, INT x, INT y, INT width, INT height);

  // Images at their natural size, scaled to a rectangle, or a source part scaled to a rectangle
  // through the attributes' colour matrix (UnitPixel only).
  Status DrawImage(Image* image, INT x, INT y);
  Status DrawImage(Image* image, INT x, INT y, INT width, INT height);
  Status DrawImage(Image* image, const Rect& dst);
  Status DrawImage(Image* image, const Rect& dst, INT src_x, INT src_y, INT src_width, INT src_height, Unit unit,
                   const ImageAttributes* attributes = nullptr);
  Status DrawImage(Image* image, const RectF& dst, REAL src_x, REAL src_y, REAL src_width, REAL src_height,
                   Unit unit, const ImageAttributes* attributes = nullptr);

  // Text laid out in the rectangle by the format's alignments (one line; no wrapping).
  Status DrawString(const char16_t* text, INT length, const Font* font, const RectF& layout,
                    const StringFormat* format, const Brush* brush);
  Status DrawString(const char16_t* text, INT length, const Font* font, const PointF& origin, const Brush* brush);
  Status MeasureString(const char16_t* text, INT length, const Font* font, const RectF& layout,
                       RectF* bounds) const;

 private:
  std::unique_ptr<GraphicsTarget> target_;
  SmoothingMode smoothing_ = SmoothingModeDefault;
  InterpolationMode interpolation_ = InterpolationModeDefault;
  Status status_ = Ok;
};

}  // namespace platform::Gdiplus
