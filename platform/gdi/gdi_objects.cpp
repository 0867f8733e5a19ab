#include "platform/gdi/gdi_objects.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <tuple>
#include <optional>
#include <unordered_map>

namespace platform::gdi_internal {

namespace {

// Handle values: stock objects take small fixed values, the rest count up and are never reused.
constexpr uintptr_t kStockBase = 0x1000;
constexpr uintptr_t kFirstHandle = 0x10000;

struct Table {
  std::mutex lock;  // guards everything below; any thread
  std::unordered_map<uintptr_t, std::shared_ptr<Object>> objects;
  uintptr_t next = kFirstHandle;
  size_t live = 0;  // objects that are not stock
};

// Lives as long as the process, so late threads never meet a destroyed table.
Table& table() {
  static auto* instance = new Table();
  return *instance;
}

HGDIOBJ handle_value(uintptr_t value) { return reinterpret_cast<HGDIOBJ>(value); }

struct Stock {
  std::shared_ptr<BrushObject> brushes[6];
  std::shared_ptr<PenObject> pens[3];
  std::shared_ptr<FontObject> system_font;
  std::shared_ptr<FontObject> gui_font;
  std::shared_ptr<BitmapObject> bitmap;
};

void enter_stock(Table& t, const std::shared_ptr<Object>& object, uintptr_t value) {
  object->stock = true;
  object->handle = handle_value(value);
  t.objects.emplace(value, object);
}

Stock& stock() {
  static Stock* instance = [] {
    auto* s = new Stock();
    const COLORREF brush_colors[5] = {RGB(255, 255, 255), RGB(192, 192, 192), RGB(128, 128, 128),
                                      RGB(64, 64, 64), RGB(0, 0, 0)};
    for (int i = 0; i < 5; ++i) s->brushes[i] = std::make_shared<BrushObject>(false, brush_colors[i]);
    s->brushes[5] = std::make_shared<BrushObject>(true, 0);
    s->pens[0] = std::make_shared<PenObject>(PS_SOLID, 1, RGB(255, 255, 255));
    s->pens[1] = std::make_shared<PenObject>(PS_SOLID, 1, RGB(0, 0, 0));
    s->pens[2] = std::make_shared<PenObject>(PS_NULL, 1, 0);
    // The system font: a 16-pixel bold cell.
    LOGFONT system{};
    system.lfHeight = 16;
    system.lfWeight = FW_BOLD;
    std::strcpy(system.lfFaceName, "System");
    s->system_font = std::make_shared<FontObject>(system);
    LOGFONT gui{};
    gui.lfHeight = -11;
    std::strcpy(gui.lfFaceName, "MS Shell Dlg");
    s->gui_font = std::make_shared<FontObject>(gui);
    s->bitmap = std::make_shared<BitmapObject>(1, 1, false);
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    for (int i = 0; i < 6; ++i) enter_stock(t, s->brushes[i], kStockBase + static_cast<uintptr_t>(i));
    for (int i = 0; i < 3; ++i) enter_stock(t, s->pens[i], kStockBase + static_cast<uintptr_t>(WHITE_PEN + i));
    enter_stock(t, s->system_font, kStockBase + SYSTEM_FONT);
    enter_stock(t, s->gui_font, kStockBase + DEFAULT_GUI_FONT);
    enter_stock(t, s->bitmap, kStockBase + 0x100);
    return s;
  }();
  return *instance;
}

// Measures a font at a size on a scratch surface.
cairo_font_extents_t font_extents(const FontObject& font, double size, cairo_text_extents_t* x_extents,
                                  cairo_text_extents_t* wide_extents) {
  cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
  cairo_t* cr = cairo_create(scratch);
  FontObject sized = font;
  sized.em_pixels = size;
  sized.width_scale = 1.0;
  use_font(cr, sized);
  cairo_font_extents_t extents;
  cairo_font_extents(cr, &extents);
  if (x_extents != nullptr) cairo_text_extents(cr, "x", x_extents);
  if (wide_extents != nullptr) cairo_text_extents(cr, "W", wide_extents);
  cairo_destroy(cr);
  cairo_surface_destroy(scratch);
  return extents;
}

}  // namespace

// ---- fonts ----

FontObject::FontObject(const LOGFONT& lf) : Object(Kind::font), logfont(lf) {
  logfont.lfFaceName[sizeof(logfont.lfFaceName) - 1] = '\0';
  family = font_family_for_face(logfont.lfFaceName);
  bold = logfont.lfWeight >= 600;
  italic = logfont.lfItalic != 0;
  // Unscaled ratio of the cell (ascent + descent) to the em, to turn a cell height into a size.
  cairo_font_extents_t unit = font_extents(*this, 100.0, nullptr, nullptr);
  const double cell_per_em = (unit.ascent + unit.descent) / 100.0;
  if (logfont.lfHeight < 0) {
    em_pixels = -static_cast<double>(logfont.lfHeight);
  } else {
    const double cell = logfont.lfHeight > 0 ? logfont.lfHeight : 16.0;
    em_pixels = cell / cell_per_em;
  }
  cairo_text_extents_t x_ext;
  cairo_text_extents_t w_ext;
  cairo_font_extents_t extents = font_extents(*this, em_pixels, &x_ext, &w_ext);
  ascent = static_cast<int>(std::lround(extents.ascent));
  descent = static_cast<int>(std::lround(extents.descent));
  if (logfont.lfHeight > 0 && ascent + descent != logfont.lfHeight) descent = logfont.lfHeight - ascent;
  height = ascent + descent;
  average_width = static_cast<int>(std::lround(x_ext.x_advance));
  max_width = static_cast<int>(std::lround(std::max(extents.max_x_advance, w_ext.x_advance)));
  if (logfont.lfWidth > 0 && average_width > 0) {
    width_scale = static_cast<double>(logfont.lfWidth) / average_width;
    average_width = logfont.lfWidth;
    max_width = static_cast<int>(std::lround(max_width * width_scale));
  }
}

cairo_font_face_t* font_face(const std::string& family, bool bold, bool italic) {
  // One face per family and style for the life of the process: faces are few, and cairo keeps
  // part of a face it resolves when the face is let go.
  struct Faces {
    std::mutex lock;  // guards `faces`; any thread
    std::map<std::tuple<std::string, bool, bool>, cairo_font_face_t*> faces;
  };
  static auto* cache = new Faces();
  std::lock_guard<std::mutex> hold(cache->lock);
  cairo_font_face_t*& face = cache->faces[std::make_tuple(family, bold, italic)];
  if (face == nullptr)
    face = cairo_toy_font_face_create(family.c_str(), italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                                      bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  return face;
}

void use_font(cairo_t* cr, const FontObject& font) {
  cairo_set_font_face(cr, font_face(font.family, font.bold, font.italic));
  cairo_matrix_t matrix;
  cairo_matrix_init_scale(&matrix, font.em_pixels * font.width_scale, font.em_pixels);
  cairo_set_font_matrix(cr, &matrix);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
  cairo_set_font_options(cr, options);
  cairo_font_options_destroy(options);
}

// ---- bitmaps ----

BitmapObject::BitmapObject(int w, int h, bool is_dib)
    : Object(Kind::bitmap),
      storage(static_cast<size_t>(w) * static_cast<size_t>(h), 0xFF000000u),
      width(w),
      height(h),
      dib(is_dib) {}

// ---- table ----

std::mutex& table_lock() { return table().lock; }

HGDIOBJ insert(std::shared_ptr<Object> object) {
  if (object == nullptr) return nullptr;
  stock();  // stock objects take their values first
  Table& t = table();
  std::lock_guard<std::mutex> hold(t.lock);
  const uintptr_t value = t.next;
  t.next += 4;
  object->handle = handle_value(value);
  t.objects.emplace(value, std::move(object));
  ++t.live;
  return handle_value(value);
}

std::shared_ptr<Object> find(HGDIOBJ handle) {
  if (handle == nullptr) return nullptr;
  stock();
  Table& t = table();
  std::lock_guard<std::mutex> hold(t.lock);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == t.objects.end() ? nullptr : it->second;
}

bool erase(HGDIOBJ handle) {
  if (handle == nullptr) return false;
  Table& t = table();
  std::lock_guard<std::mutex> hold(t.lock);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  if (it == t.objects.end() || it->second->stock) return false;
  t.objects.erase(it);
  --t.live;
  return true;
}

std::shared_ptr<PenObject> stock_pen(int which) {
  if (which < WHITE_PEN || which > NULL_PEN) return nullptr;
  return stock().pens[which - WHITE_PEN];
}
std::shared_ptr<BrushObject> stock_brush(int which) {
  if (which < WHITE_BRUSH || which > NULL_BRUSH) return nullptr;
  return stock().brushes[which];
}
std::shared_ptr<FontObject> stock_font() { return stock().system_font; }
std::shared_ptr<BitmapObject> stock_bitmap() { return stock().bitmap; }

// ---- targets ----

struct Target::SurfaceHold {
  explicit SurfaceHold(HWND window) : access(window) {}
  SurfaceAccess access;
};

Target::Target(DcObject& dc) {
  if (dc.window != nullptr) {
    surface_hold_ = std::make_unique<SurfaceHold>(dc.window);
    if (!surface_hold_->access.valid()) {
      surface_hold_.reset();
      return;
    }
    pixels_ = surface_hold_->access.pixels();
  } else {
    bitmap_ = dc.state.bitmap;
    if (bitmap_ == nullptr) return;
    bitmap_hold_ = std::unique_lock<std::mutex>(bitmap_->lock);
    pixels_ = SurfacePixels{bitmap_->data(), bitmap_->width, bitmap_->height, bitmap_->stride()};
  }
  clip_ = RECT{0, 0, pixels_.width, pixels_.height};
  if (dc.paint) clip_ = intersect(clip_, dc.paint_rect);
  if (dc.state.has_clip) clip_ = intersect(clip_, dc.state.clip);
  if (empty(clip_)) clip_ = RECT{};
}

Target::Target(const std::shared_ptr<BitmapObject>& bitmap) : bitmap_(bitmap) {
  if (bitmap_ == nullptr) return;
  bitmap_hold_ = std::unique_lock<std::mutex>(bitmap_->lock);
  pixels_ = SurfacePixels{bitmap_->data(), bitmap_->width, bitmap_->height, bitmap_->stride()};
  clip_ = RECT{0, 0, pixels_.width, pixels_.height};
}

Target::~Target() {
  if (cairo_ != nullptr) cairo_destroy(cairo_);
  if (cairo_surface_ != nullptr) {
    cairo_surface_flush(cairo_surface_);
    cairo_surface_destroy(cairo_surface_);
  }
  if (bitmap_hold_.owns_lock()) bitmap_hold_.unlock();
  if (surface_hold_ != nullptr && !empty(drawn_)) surface_hold_->access.mark_changed(&drawn_);
  surface_hold_.reset();  // unlocks; the composition listener hears of the change
}

void Target::drew_everything() { drawn_ = RECT{0, 0, pixels_.width, pixels_.height}; }

void Target::drew(const RECT& rect) { drawn_ = unite(drawn_, intersect(rect, clip_)); }

cairo_t* Target::cairo() {
  if (cairo_ != nullptr) return cairo_;
  if (!valid()) return nullptr;
  cairo_surface_ = cairo_image_surface_create_for_data(pixels_.data, CAIRO_FORMAT_RGB24, pixels_.width,
                                                       pixels_.height, pixels_.stride);
  cairo_ = cairo_create(cairo_surface_);
  cairo_rectangle(cairo_, clip_.left, clip_.top, clip_.width(), clip_.height());
  cairo_clip(cairo_);
  cairo_set_antialias(cairo_, CAIRO_ANTIALIAS_NONE);
  return cairo_;
}

void set_source(cairo_t* cr, COLORREF color) {
  cairo_set_source_rgb(cr, GetRValue(color) / 255.0, GetGValue(color) / 255.0, GetBValue(color) / 255.0);
}

void fill_pixels(Target& target, const RECT& rect, uint32_t pixel) {
  const RECT area = intersect(rect, target.clip());
  if (empty(area)) return;
  for (int y = area.top; y < area.bottom; ++y) std::fill_n(target.row(y) + area.left, area.width(), pixel);
  target.drew(area);
}

// ---- text conversion ----

std::string utf16_to_utf8(const char16_t* text, int count) {
  std::string out;
  if (text == nullptr) return out;
  size_t n = count < 0 ? std::char_traits<char16_t>::length(text) : static_cast<size_t>(count);
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;  // a lone surrogate
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::u16string utf8_to_utf16(const char* text, int count) {
  std::u16string out;
  if (text == nullptr) return out;
  const size_t n = count < 0 ? std::strlen(text) : static_cast<size_t>(count);
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0;
  while (i < n) {
    uint32_t c = s[i];
    size_t extra = 0;
    if (c < 0x80) {
    } else if (c >= 0xC2 && c < 0xE0) {
      c &= 0x1F;
      extra = 1;
    } else if (c >= 0xE0 && c < 0xF0) {
      c &= 0x0F;
      extra = 2;
    } else if (c >= 0xF0 && c < 0xF5) {
      c &= 0x07;
      extra = 3;
    } else {
      c = 0xFFFD;  // a stray continuation byte or an invalid lead byte
    }
    if (extra > 0) {
      bool ok = i + extra < n;
      for (size_t k = 1; ok && k <= extra; ++k) ok = (s[i + k] & 0xC0) == 0x80;
      if (!ok) {
        c = 0xFFFD;
        extra = 0;
      } else {
        for (size_t k = 1; k <= extra; ++k) c = (c << 6) | (s[i + k] & 0x3F);
      }
    }
    i += 1 + extra;
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

}  // namespace platform::gdi_internal

namespace platform {

size_t gdi_object_count() {
  gdi_internal::stock();
  auto& t = gdi_internal::table();
  std::lock_guard<std::mutex> hold(t.lock);
  return t.live;
}

HGDIOBJ GetStockObject(int which) {
  using namespace gdi_internal;
  stock();
  switch (which) {
    case WHITE_BRUSH:
    case LTGRAY_BRUSH:
    case GRAY_BRUSH:
    case DKGRAY_BRUSH:
    case BLACK_BRUSH:
    case NULL_BRUSH:
    case WHITE_PEN:
    case BLACK_PEN:
    case NULL_PEN:
    case SYSTEM_FONT:
    case DEFAULT_GUI_FONT:
      return handle_value(kStockBase + static_cast<uintptr_t>(which));
    default:
      return nullptr;
  }
}

}  // namespace platform
