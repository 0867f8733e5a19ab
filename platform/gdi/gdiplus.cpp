// The GDI+ subset on cairo. Images are cairo ARGB32 surfaces (premultiplied inside, straight
// alpha at the interface); a Graphics draws either into a device context's target (through the
// GDI layer's Target, so clipping, locking and change marking are shared) or into an image.
#include "platform/gdi/gdiplus.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <set>
#include <string>

#include "platform/gdi/gdi_objects.h"
#include "platform/gdi/image_decode.h"

namespace platform::Gdiplus {

using gdi_internal::DcObject;
using gdi_internal::Target;

// An image's pixels; `lock` is held by each call that reads or writes them (any thread).
struct ImageData {
  ImageData(int w, int h) : width(w), height(h) {
    surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  }
  ~ImageData() { cairo_surface_destroy(surface); }
  ImageData(const ImageData&) = delete;
  ImageData& operator=(const ImageData&) = delete;
  bool ok() const { return cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS; }

  std::mutex lock;
  const int width;
  const int height;
  cairo_surface_t* surface;
};

struct GraphicsTarget {
  std::shared_ptr<DcObject> dc;  // drawing into a context, or
  Image* image = nullptr;        // into an image
};

namespace {

// Starts and shutdowns; guarded by startup_lock (any thread).
std::mutex startup_lock;
std::set<ULONG_PTR>& startup_tokens() {
  static auto* tokens = new std::set<ULONG_PTR>();
  return *tokens;
}
ULONG_PTR next_token = 1;

std::unique_ptr<ImageData> image_from_rgba(const gdi_internal::DecodedImage& decoded) {
  auto data = std::make_unique<ImageData>(decoded.width, decoded.height);
  if (!data->ok()) return nullptr;
  cairo_surface_flush(data->surface);
  uint8_t* base = cairo_image_surface_get_data(data->surface);
  const int stride = cairo_image_surface_get_stride(data->surface);
  for (int y = 0; y < decoded.height; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(base + static_cast<ptrdiff_t>(y) * stride);
    const uint8_t* src = &decoded.rgba[static_cast<size_t>(y) * static_cast<size_t>(decoded.width) * 4];
    for (int x = 0; x < decoded.width; ++x) {
      const uint32_t a = src[x * 4 + 3];
      const uint32_t r = (src[x * 4] * a + 127) / 255;
      const uint32_t g = (src[x * 4 + 1] * a + 127) / 255;
      const uint32_t b = (src[x * 4 + 2] * a + 127) / 255;
      row[x] = (a << 24) | (r << 16) | (g << 8) | b;
    }
  }
  cairo_surface_mark_dirty(data->surface);
  return data;
}

std::unique_ptr<ImageData> decode(const void* bytes, size_t size, Status* status) {
  gdi_internal::DecodedImage decoded;
  if (!gdi_internal::decode_image(bytes, size, &decoded)) {
    *status = UnknownImageFormat;
    return nullptr;
  }
  auto data = image_from_rgba(decoded);
  *status = data == nullptr ? OutOfMemory : Ok;
  return data;
}

std::unique_ptr<ImageData> load_file(const char16_t* path, Status* status) {
  if (path == nullptr) {
    *status = InvalidParameter;
    return nullptr;
  }
  std::vector<uint8_t> bytes;
  if (!gdi_internal::read_file(gdi_internal::utf16_to_utf8(path, -1), &bytes)) {
    *status = FileNotFound;
    return nullptr;
  }
  return decode(bytes.data(), bytes.size(), status);
}

void set_source(cairo_t* cr, const Color& color) {
  cairo_set_source_rgba(cr, color.GetR() / 255.0, color.GetG() / 255.0, color.GetB() / 255.0, color.GetA() / 255.0);
}

bool is_alpha_only(const ColorMatrix& m) {
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 5; ++j) {
      if (i == 3 && j == 3) continue;
      const REAL expected = (i == j) ? 1.0f : 0.0f;
      if (m.m[i][j] != expected) return false;
    }
  return true;
}

// A copy of the image's pixels with the matrix applied to each straight-alpha colour.
cairo_surface_t* transformed(ImageData& image, const ColorMatrix& m) {
  cairo_surface_t* out = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, image.width, image.height);
  if (cairo_surface_status(out) != CAIRO_STATUS_SUCCESS) return out;
  cairo_surface_flush(image.surface);
  cairo_surface_flush(out);
  const uint8_t* src_base = cairo_image_surface_get_data(image.surface);
  uint8_t* dst_base = cairo_image_surface_get_data(out);
  const int src_stride = cairo_image_surface_get_stride(image.surface);
  const int dst_stride = cairo_image_surface_get_stride(out);
  for (int y = 0; y < image.height; ++y) {
    const auto* src = reinterpret_cast<const uint32_t*>(src_base + static_cast<ptrdiff_t>(y) * src_stride);
    auto* dst = reinterpret_cast<uint32_t*>(dst_base + static_cast<ptrdiff_t>(y) * dst_stride);
    for (int x = 0; x < image.width; ++x) {
      const uint32_t p = src[x];
      const float a = static_cast<float>(p >> 24) / 255.0f;
      float in[5] = {0, 0, 0, a, 1.0f};
      if (a > 0) {
        in[0] = static_cast<float>((p >> 16) & 0xFF) / 255.0f / a;
        in[1] = static_cast<float>((p >> 8) & 0xFF) / 255.0f / a;
        in[2] = static_cast<float>(p & 0xFF) / 255.0f / a;
      }
      float res[4];
      for (int j = 0; j < 4; ++j) {
        float v = 0;
        for (int i = 0; i < 5; ++i) v += in[i] * m.m[i][j];
        res[j] = std::clamp(v, 0.0f, 1.0f);
      }
      auto byte = [](float v) { return static_cast<uint32_t>(std::lround(v * 255.0f)); };
      const uint32_t oa = byte(res[3]);
      dst[x] = (oa << 24) | (byte(res[0] * res[3]) << 16) | (byte(res[1] * res[3]) << 8) | byte(res[2] * res[3]);
    }
  }
  cairo_surface_mark_dirty(out);
  return out;
}

}  // namespace

Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput*, GdiplusStartupOutput* output) {
  if (token == nullptr) return InvalidParameter;
  std::lock_guard<std::mutex> hold(startup_lock);
  *token = next_token++;
  startup_tokens().insert(*token);
  if (output != nullptr) *output = GdiplusStartupOutput{};
  return Ok;
}

void GdiplusShutdown(ULONG_PTR token) {
  std::lock_guard<std::mutex> hold(startup_lock);
  startup_tokens().erase(token);
}

// ---- attributes ----

Status ImageAttributes::SetColorMatrix(const ColorMatrix* matrix, ColorMatrixFlags, ColorAdjustType) {
  if (matrix == nullptr) return status_ = InvalidParameter;
  matrix_ = *matrix;
  has_matrix_ = true;
  return status_ = Ok;
}

Status ImageAttributes::ClearColorMatrix(ColorAdjustType) {
  has_matrix_ = false;
  return status_ = Ok;
}

// ---- images ----

Image::Image() = default;
Image::~Image() = default;

UINT Image::GetWidth() { return data_ == nullptr ? 0 : static_cast<UINT>(data_->width); }
UINT Image::GetHeight() { return data_ == nullptr ? 0 : static_cast<UINT>(data_->height); }

Image* Image::FromMemory(const void* data, size_t size) { return Bitmap::FromMemory(data, size); }
Image* Image::FromFile(const char16_t* path) { return Bitmap::FromFile(path); }

Bitmap::Bitmap() = default;

Bitmap::Bitmap(INT width, INT height, PixelFormat format) {
  if (width <= 0 || height <= 0 || static_cast<int64_t>(width) * height > (int64_t{1} << 28)) {
    status_ = InvalidParameter;
    return;
  }
  data_ = std::make_unique<ImageData>(width, height);
  if (!data_->ok()) {
    data_.reset();
    status_ = OutOfMemory;
    return;
  }
  if (format == PixelFormat32bppRGB) {
    cairo_t* cr = cairo_create(data_->surface);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
  }
}

Bitmap::Bitmap(const char16_t* path) { data_ = load_file(path, &status_); }

Bitmap::Bitmap(const void* data, size_t size) { data_ = decode(data, size, &status_); }

Bitmap* Bitmap::FromMemory(const void* data, size_t size) {
  auto* bitmap = new Bitmap(data, size);
  if (bitmap->GetLastStatus() != Ok) {
    delete bitmap;
    return nullptr;
  }
  return bitmap;
}

Bitmap* Bitmap::FromFile(const char16_t* path) {
  auto* bitmap = new Bitmap(path);
  if (bitmap->GetLastStatus() != Ok) {
    delete bitmap;
    return nullptr;
  }
  return bitmap;
}

Bitmap* Bitmap::FromHBITMAP(HBITMAP handle, void*) {
  BitmapPixels source(handle, false);
  if (!source.valid()) return nullptr;
  const SurfacePixels& px = source.pixels();
  auto* bitmap = new Bitmap();
  bitmap->data_ = std::make_unique<ImageData>(px.width, px.height);
  if (!bitmap->data_->ok()) {
    delete bitmap;
    return nullptr;
  }
  ImageData& data = *bitmap->data_;
  cairo_surface_flush(data.surface);
  uint8_t* base = cairo_image_surface_get_data(data.surface);
  const int stride = cairo_image_surface_get_stride(data.surface);
  for (int y = 0; y < px.height; ++y) {
    const auto* src = reinterpret_cast<const uint32_t*>(px.data + static_cast<ptrdiff_t>(y) * px.stride);
    auto* dst = reinterpret_cast<uint32_t*>(base + static_cast<ptrdiff_t>(y) * stride);
    for (int x = 0; x < px.width; ++x) dst[x] = src[x] | 0xFF000000u;  // GDI bitmaps are opaque
  }
  cairo_surface_mark_dirty(data.surface);
  return bitmap;
}

Status Bitmap::GetPixel(INT x, INT y, Color* color) {
  if (data_ == nullptr || color == nullptr) return status_ = InvalidParameter;
  if (x < 0 || y < 0 || x >= data_->width || y >= data_->height) return status_ = InvalidParameter;
  std::lock_guard<std::mutex> hold(data_->lock);
  cairo_surface_flush(data_->surface);
  const uint8_t* base = cairo_image_surface_get_data(data_->surface);
  const uint32_t p = reinterpret_cast<const uint32_t*>(base + static_cast<ptrdiff_t>(y) * cairo_image_surface_get_stride(data_->surface))[x];
  const uint32_t a = p >> 24;
  auto straight = [a](uint32_t v) { return static_cast<uint8_t>(a == 0 ? 0 : std::min<uint32_t>(255, (v * 255 + a / 2) / a)); };
  *color = Color(static_cast<uint8_t>(a), straight((p >> 16) & 0xFF), straight((p >> 8) & 0xFF), straight(p & 0xFF));
  return status_ = Ok;
}

Status Bitmap::SetPixel(INT x, INT y, const Color& color) {
  if (data_ == nullptr) return status_ = InvalidParameter;
  if (x < 0 || y < 0 || x >= data_->width || y >= data_->height) return status_ = InvalidParameter;
  std::lock_guard<std::mutex> hold(data_->lock);
  cairo_surface_flush(data_->surface);
  uint8_t* base = cairo_image_surface_get_data(data_->surface);
  const uint32_t a = color.GetA();
  auto pre = [a](uint32_t v) { return (v * a + 127) / 255; };
  reinterpret_cast<uint32_t*>(base + static_cast<ptrdiff_t>(y) * cairo_image_surface_get_stride(data_->surface))[x] =
      (a << 24) | (pre(color.GetR()) << 16) | (pre(color.GetG()) << 8) | pre(color.GetB());
  cairo_surface_mark_dirty(data_->surface);
  return status_ = Ok;
}

Brush::~Brush() = default;

Font::Font(const char16_t* family, REAL size, INT style, Unit unit) : style_(style) {
  family_ = font_family_for_face(gdi_internal::utf16_to_utf8(family, -1).c_str());
  pixel_size_ = unit == UnitPixel ? size : size * 96.0f / 72.0f;
}

// ---- graphics ----

namespace {

// One drawing call's cairo context on the graphics' target, with its locks; reports the drawn
// area of a context target on destruction (through Target).
class Session {
 public:
  Session(GraphicsTarget& target, SmoothingMode smoothing) {
    if (target.dc != nullptr) {
      dc_target_ = std::make_unique<Target>(*target.dc);
      if (!dc_target_->valid()) return;
      cr_ = dc_target_->cairo();
      cairo_save(cr_);
    } else if (target.image != nullptr && target.image->data() != nullptr) {
      image_ = target.image->data();
      hold_ = std::unique_lock<std::mutex>(image_->lock);
      cr_ = cairo_create(image_->surface);
    } else {
      return;
    }
    const bool smooth = smoothing == SmoothingModeAntiAlias || smoothing == SmoothingModeHighQuality;
    cairo_set_antialias(cr_, smooth ? CAIRO_ANTIALIAS_GRAY : CAIRO_ANTIALIAS_NONE);
  }
  ~Session() {
    if (cr_ == nullptr) return;
    if (image_ != nullptr) {
      cairo_destroy(cr_);
      cairo_surface_flush(image_->surface);
    } else {
      cairo_restore(cr_);
    }
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  cairo_t* cr() const { return cr_; }
  // Marks a drawn area (device pixels) for a context target.
  void drew(double left, double top, double right, double bottom) {
    if (dc_target_ == nullptr) return;
    dc_target_->drew(RECT{static_cast<int>(std::floor(left)) - 1, static_cast<int>(std::floor(top)) - 1,
                          static_cast<int>(std::ceil(right)) + 1, static_cast<int>(std::ceil(bottom)) + 1});
  }

 private:
  std::unique_ptr<Target> dc_target_;
  ImageData* image_ = nullptr;
  std::unique_lock<std::mutex> hold_;
  cairo_t* cr_ = nullptr;
};

cairo_line_cap_t cap_of(LineCap cap) {
  switch (cap) {
    case LineCapRound:
      return CAIRO_LINE_CAP_ROUND;
    case LineCapSquare:
      return CAIRO_LINE_CAP_SQUARE;
    default:
      return CAIRO_LINE_CAP_BUTT;
  }
}

void use_font(cairo_t* cr, const Font& font) {
  cairo_set_font_face(cr, gdi_internal::font_face(font.family(), (font.style() & FontStyleBold) != 0,
                                                 (font.style() & FontStyleItalic) != 0));
  cairo_set_font_size(cr, font.pixel_size());
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
  cairo_set_font_options(cr, options);
  cairo_font_options_destroy(options);
}

}  // namespace

Graphics::Graphics(HDC dc) : target_(std::make_unique<GraphicsTarget>()) {
  target_->dc = gdi_internal::find_dc(dc);
  if (target_->dc == nullptr) status_ = InvalidParameter;
}

Graphics::Graphics(Image* image) : target_(std::make_unique<GraphicsTarget>()) {
  target_->image = image;
  if (image == nullptr || image->data() == nullptr) status_ = InvalidParameter;
}

Graphics::~Graphics() = default;

Graphics* Graphics::FromHDC(HDC dc) { return new Graphics(dc); }
Graphics* Graphics::FromImage(Image* image) { return new Graphics(image); }

Status Graphics::SetSmoothingMode(SmoothingMode mode) {
  if (mode == SmoothingModeInvalid) return status_ = InvalidParameter;
  smoothing_ = mode;
  return status_ = Ok;
}

Status Graphics::SetInterpolationMode(InterpolationMode mode) {
  interpolation_ = mode;
  return status_ = Ok;
}

Status Graphics::Clear(const Color& color) {
  Session session(*target_, smoothing_);
  if (session.cr() == nullptr) return status_ = InvalidParameter;
  cairo_t* cr = session.cr();
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  set_source(cr, color);
  cairo_paint(cr);
  double x1 = 0;
  double y1 = 0;
  double x2 = 0;
  double y2 = 0;
  cairo_clip_extents(cr, &x1, &y1, &x2, &y2);
  session.drew(x1, y1, x2, y2);
  return status_ = Ok;
}

Status Graphics::DrawLine(const Pen* pen, REAL x1, REAL y1, REAL x2, REAL y2) {
  if (pen == nullptr) return status_ = InvalidParameter;
  Session session(*target_, smoothing_);
  if (session.cr() == nullptr) return status_ = InvalidParameter;
  cairo_t* cr = session.cr();
  set_source(cr, pen->color());
  cairo_set_line_width(cr, std::max(pen->width(), 1.0f));
  cairo_set_line_cap(cr, cap_of(pen->end_cap()));
  cairo_move_to(cr, x1, y1);
  cairo_line_to(cr, x2, y2);
  cairo_stroke(cr);
  const double grow = pen->width();
  session.drew(std::min(x1, x2) - grow, std::min(y1, y2) - grow, std::max(x1, x2) + grow, std::max(y1, y2) + grow);
  return status_ = Ok;
}

Status Graphics::DrawLine(const Pen* pen, INT x1, INT y1, INT x2, INT y2) {
  return DrawLine(pen, static_cast<REAL>(x1), static_cast<REAL>(y1), static_cast<REAL>(x2), static_cast<REAL>(y2));
}

Status Graphics::DrawRectangle(const Pen* pen, REAL x, REAL y, REAL width, REAL height) {
  if (pen == nullptr) return status_ = InvalidParameter;
  Session session(*target_, smoothing_);
  if (session.cr() == nullptr) return status_ = InvalidParameter;
  cairo_t* cr = session.cr();
  set_source(cr, pen->color());
  cairo_set_line_width(cr, std::max(pen->width(), 1.0f));
  cairo_rectangle(cr, x + 0.5, y + 0.5, width, height);
  cairo_stroke(cr);
  session.drew(x - pen->width(), y - pen->width(), x + width + pen->width() + 1, y + height + pen->width() + 1);
  return status_ = Ok;
}

Status Graphics::DrawRectangle(const Pen* pen, INT x, INT y, INT width, INT height) {
  return DrawRectangle(pen, static_cast<REAL>(x), static_cast<REAL>(y), static_cast<REAL>(width), static_cast<REAL>(height));
}

Status Graphics::FillRectangle(const Brush* brush, REAL x, REAL y, REAL width, REAL height) {
  if (brush == nullptr) return status_ = InvalidParameter;
  Session session(*target_, smoothing_);
  if (session.cr() == nullptr) return status_ = InvalidParameter;
  cairo_t* cr = session.cr();
  set_source(cr, brush->color());
  cairo_rectangle(cr, x, y, width, height);
  cairo_fill(cr);
  session.drew(x, y, x + width, y + height);
  return status_ = Ok;
}

Status Graphics::FillRectangle(const Brush* brush, INT x, INT y, INT width, INT height) {
  return FillRectangle(brush, static_cast<REAL>(x), static_cast<REAL>(y), static_cast<REAL>(width), static_cast<REAL>(height));
}

namespace {
void ellipse_path(cairo_t* cr, double x, double y, double width, double height) {
  cairo_save(cr);
  cairo_translate(cr, x + width / 2, y + height / 2);
  cairo_scale(cr, std::max(width / 2, 1e-3), std::max(height / 2, 1e-3));
  cairo_new_path(cr);
  cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
  cairo_restore(cr);
}
}  // namespace

Status Graphics::DrawEllipse(const Pen* pen, REAL x, REAL y, REAL width, REAL height) {
  if (pen == nullptr) return status_ = InvalidParameter;
  Session session(*target_, smoothing_);
  if (session.cr() == nullptr) return status_ = InvalidParameter;
  cairo_t* cr = session.cr();
  ellipse_path(cr, x, y, width, height);
  set_source(cr, pen->color());
  cairo_set_line_width(cr, std::max(pen->width(), 1.0f));
  cairo_stroke(cr);
  session.drew(x - pen->width(), y - pen->width(), x + width + pen->width(), y + height + pen->width());
  return status_ = Ok;
}

Status Graphics::FillEllipse(const Brush* brush, REAL x, REAL y, REAL width, REAL height) {
  if (brush == nullptr) return status_ = InvalidParameter;
  Session session(*target_, smoothing_);
  if (session.cr() == nullptr) return status_ = InvalidParameter;
  cairo_t* cr = session.cr();
  ellipse_path(cr, x, y, width, height);
  set_source(cr, brush->color());
  cairo_fill(cr);
  session.drew(x, y, x + width, y + height);
  return status_ = Ok;
}

Status Graphics::FillEllipse(const Brush* brush, INT x, INT y, INT width, INT height) {
  return FillEllipse(brush, static_cast<REAL>(x), static_cast<REAL>(y), static_cast<REAL>(width), static_cast<REAL>(height));
}

Status Graphics::DrawImage(Image* image, INT x, INT y) {
  if (image == nullptr || image->data() == nullptr) return status_ = InvalidParameter;
  const INT w = static_cast<INT>(image->GetWidth());
  const INT h = static_cast<INT>(image->GetHeight());
  return DrawImage(image, Rect(x, y, w, h), 0, 0, w, h, UnitPixel, nullptr);
}

Status Graphics::DrawImage(Image* image, INT x, INT y, INT width, INT height) {
  return DrawImage(image, Rect(x, y, width, height));
}

Status Graphics::DrawImage(Image* image, const Rect& dst) {
  if (image == nullptr || image->data() == nullptr) return status_ = InvalidParameter;
  return DrawImage(image, dst, 0, 0, static_cast<INT>(image->GetWidth()), static_cast<INT>(image->GetHeight()), UnitPixel,
                   nullptr);
}

Status Graphics::DrawImage(Image* image, const Rect& dst, INT src_x, INT src_y, INT src_width, INT src_height, Unit unit,
                           const ImageAttributes* attributes) {
  return DrawImage(image, RectF(static_cast<REAL>(dst.X), static_cast<REAL>(dst.Y), static_cast<REAL>(dst.Width), static_cast<REAL>(dst.Height)),
                   static_cast<REAL>(src_x), static_cast<REAL>(src_y), static_cast<REAL>(src_width), static_cast<REAL>(src_height), unit, attributes);
}

Status Graphics::DrawImage(Image* image, const RectF& dst, REAL src_x, REAL src_y, REAL src_width, REAL src_height,
                           Unit unit, const ImageAttributes* attributes) {
  if (image == nullptr || image->data() == nullptr || unit != UnitPixel) return status_ = InvalidParameter;
  if (src_width <= 0 || src_height <= 0 || dst.Width <= 0 || dst.Height <= 0) return status_ = InvalidParameter;
  if (target_->image == image) return status_ = ObjectBusy;  // drawing an image onto itself
  ImageData& data = *image->data();
  // The source, transformed by the colour matrix when it does more than scale alpha.
  cairo_surface_t* source = nullptr;
  double alpha = 1.0;
  {
    std::lock_guard<std::mutex> hold(data.lock);
    const ColorMatrix* matrix = attributes == nullptr ? nullptr : attributes->color_matrix();
    if (matrix != nullptr && is_alpha_only(*matrix)) {
      alpha = std::clamp(static_cast<double>(matrix->m[3][3]), 0.0, 1.0);
      matrix = nullptr;
    }
    if (matrix != nullptr) {
      source = transformed(data, *matrix);
    } else {
      // A private copy, so the image's lock is not held while the target's is.
      cairo_surface_flush(data.surface);
      source = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, data.width, data.height);
      cairo_t* copy = cairo_create(source);
      cairo_set_operator(copy, CAIRO_OPERATOR_SOURCE);
      cairo_set_source_surface(copy, data.surface, 0, 0);
      cairo_paint(copy);
      cairo_destroy(copy);
    }
  }
  if (cairo_surface_status(source) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(source);
    return status_ = OutOfMemory;
  }
  Status result = Ok;
  {
    Session session(*target_, smoothing_);
    if (session.cr() == nullptr) {
      result = InvalidParameter;
    } else {
      cairo_t* cr = session.cr();
      cairo_pattern_t* pattern = cairo_pattern_create_for_surface(source);
      cairo_matrix_t matrix;
      // Pattern space is source pixels: destination point -> source point.
      cairo_matrix_init_translate(&matrix, src_x, src_y);
      cairo_matrix_scale(&matrix, src_width / dst.Width, src_height / dst.Height);
      cairo_matrix_translate(&matrix, -dst.X, -dst.Y);
      cairo_pattern_set_matrix(pattern, &matrix);
      cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
      const bool nearest = interpolation_ == InterpolationModeNearestNeighbor ||
                           (src_width == dst.Width && src_height == dst.Height);
      cairo_pattern_set_filter(pattern, nearest ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_BILINEAR);
      cairo_rectangle(cr, dst.X, dst.Y, dst.Width, dst.Height);
      cairo_clip(cr);
      cairo_set_source(cr, pattern);
      cairo_paint_with_alpha(cr, alpha);
      cairo_pattern_destroy(pattern);
      session.drew(dst.X, dst.Y, dst.X + dst.Width, dst.Y + dst.Height);
    }
  }
  cairo_surface_destroy(source);
  return status_ = result;
}

Status Graphics::DrawString(const char16_t* text, INT length, const Font* font, const RectF& layout,
                            const StringFormat* format, const Brush* brush) {
  if (text == nullptr || font == nullptr || brush == nullptr) return status_ = InvalidParameter;
  const std::string utf8 = gdi_internal::utf16_to_utf8(text, length);
  Session session(*target_, smoothing_);
  if (session.cr() == nullptr) return status_ = InvalidParameter;
  cairo_t* cr = session.cr();
  use_font(cr, *font);
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  cairo_text_extents_t te;
  cairo_text_extents(cr, utf8.c_str(), &te);
  const StringAlignment align = format == nullptr ? StringAlignmentNear : format->GetAlignment();
  const StringAlignment line_align = format == nullptr ? StringAlignmentNear : format->GetLineAlignment();
  const bool clip = layout.Width > 0 && layout.Height > 0 &&
                    (format == nullptr || (format->GetFormatFlags() & StringFormatFlagsNoClip) == 0);
  double x = layout.X;
  if (align == StringAlignmentCenter) x = layout.X + (layout.Width - te.x_advance) / 2;
  else if (align == StringAlignmentFar) x = layout.X + layout.Width - te.x_advance;
  const double line = fe.ascent + fe.descent;
  double top = layout.Y;
  if (line_align == StringAlignmentCenter) top = layout.Y + (layout.Height - line) / 2;
  else if (line_align == StringAlignmentFar) top = layout.Y + layout.Height - line;
  if (clip) {
    cairo_rectangle(cr, layout.X, layout.Y, layout.Width, layout.Height);
    cairo_clip(cr);
  }
  set_source(cr, brush->color());
  cairo_move_to(cr, x, top + fe.ascent);
  cairo_show_text(cr, utf8.c_str());
  session.drew(std::min<double>(x + te.x_bearing, x), top, x + std::max(te.x_advance, te.x_bearing + te.width), top + line);
  return status_ = Ok;
}

Status Graphics::DrawString(const char16_t* text, INT length, const Font* font, const PointF& origin, const Brush* brush) {
  return DrawString(text, length, font, RectF(origin.X, origin.Y, 0, 0), nullptr, brush);
}

Status Graphics::MeasureString(const char16_t* text, INT length, const Font* font, const RectF& layout,
                               RectF* bounds) const {
  if (text == nullptr || font == nullptr || bounds == nullptr) return InvalidParameter;
  const std::string utf8 = gdi_internal::utf16_to_utf8(text, length);
  cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
  cairo_t* cr = cairo_create(scratch);
  use_font(cr, *font);
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  cairo_text_extents_t te;
  cairo_text_extents(cr, utf8.c_str(), &te);
  cairo_destroy(cr);
  cairo_surface_destroy(scratch);
  *bounds = RectF(layout.X, layout.Y, static_cast<REAL>(te.x_advance), static_cast<REAL>(fe.ascent + fe.descent));
  return Ok;
}

}  // namespace platform::Gdiplus
