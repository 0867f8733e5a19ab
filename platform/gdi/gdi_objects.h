// Internal: the GDI object records behind the handles, the handle table and the device context
// state. Not part of the interface.
//
// Threads and locks
//  - The handle table (handles -> objects) is guarded by its own lock, held only for a lookup,
//    an insertion or a removal. Objects are shared_ptr-owned, so a handle deleted on one thread
//    leaves an object another thread is using alive until that use ends.
//  - Pen, brush and font records never change after creation.
//  - A bitmap's pixels are guarded by the bitmap's `lock`, held by one drawing call at a time
//    (any thread). Its `selected_by` is guarded by the table lock.
//  - A device context's state is used by one thread at a time (Win32 rule); it has no lock.
//  - The cache of cairo font faces has its own lock, taken last and only for a lookup.
//  - Lock order: table lock, then a bitmap's or a surface's (or a GDI+ image's) lock, then the
//    font-face cache lock. No call holds two pixel locks at once: copies read their source into
//    a private buffer first.
#pragma once

#include <cairo/cairo.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"

namespace platform::gdi_internal {

enum class Kind { pen, brush, font, bitmap, dc };

struct Object {
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;
  const Kind kind;
  bool stock = false;
  HGDIOBJ handle = nullptr;  // set when entered in the table
};

struct PenObject : Object {
  PenObject(int s, int w, COLORREF c) : Object(Kind::pen), style(s), width(w < 1 ? 1 : w), color(c) {}
  const int style;
  const int width;
  const COLORREF color;
  bool draws() const { return style != PS_NULL; }
};

struct BrushObject : Object {
  BrushObject(bool is_null, COLORREF c) : Object(Kind::brush), null(is_null), color(c) {}
  const bool null;
  const COLORREF color;
};

// A font resolved to an installed family and a pixel size.
struct FontObject : Object {
  explicit FontObject(const LOGFONT& lf);
  LOGFONT logfont;
  std::string family;
  bool bold = false;
  bool italic = false;
  double em_pixels = 16;  // cairo font size
  // Metrics at em_pixels, in whole pixels.
  int ascent = 0;
  int descent = 0;
  int height = 0;  // ascent + descent
  int average_width = 0;
  int max_width = 0;
  double width_scale = 1.0;  // horizontal stretch for a requested lfWidth
};

struct DcObject;

struct BitmapObject : Object {
  BitmapObject(int w, int h, bool is_dib);
  std::mutex lock;  // guards the pixels while a call draws or reads them
  std::vector<uint32_t> storage;
  const int width;
  const int height;
  const bool dib;
  DcObject* selected_by = nullptr;  // guarded by the table lock
  uint8_t* data() { return reinterpret_cast<uint8_t*>(storage.data()); }
  int stride() const { return width * 4; }
};

struct DcState {
  std::shared_ptr<PenObject> pen;
  std::shared_ptr<BrushObject> brush;
  std::shared_ptr<FontObject> font;
  std::shared_ptr<BitmapObject> bitmap;  // memory contexts only
  COLORREF text_color = RGB(0, 0, 0);
  COLORREF bk_color = RGB(255, 255, 255);
  int bk_mode = OPAQUE;
  unsigned text_align = TA_LEFT | TA_TOP;
  int stretch_mode = BLACKONWHITE;
  POINT position;
  bool has_clip = false;  // IntersectClipRect's narrowing
  RECT clip;
};

struct DcObject : Object {
  DcObject() : Object(Kind::dc) {}
  HWND window = nullptr;   // window contexts
  bool paint = false;      // made by BeginPaint
  RECT paint_rect;         // BeginPaint's update rectangle (always clips a paint context)
  DcState state;
  std::vector<DcState> saved;
};

// ---- the handle table ----
HGDIOBJ insert(std::shared_ptr<Object> object);
std::shared_ptr<Object> find(HGDIOBJ handle);
template <class T>
std::shared_ptr<T> find_as(HGDIOBJ handle, Kind kind) {
  auto object = find(handle);
  if (object == nullptr || object->kind != kind) return nullptr;
  return std::static_pointer_cast<T>(object);
}
inline std::shared_ptr<DcObject> find_dc(HDC dc) { return find_as<DcObject>(dc, Kind::dc); }
// Removes a handle; false for stock objects and unknown handles.
bool erase(HGDIOBJ handle);
std::mutex& table_lock();

std::shared_ptr<PenObject> stock_pen(int which);
std::shared_ptr<BrushObject> stock_brush(int which);
std::shared_ptr<FontObject> stock_font();
std::shared_ptr<BitmapObject> stock_bitmap();

// Runs `fn` under the table lock (for bitmap selection bookkeeping).
template <class Fn>
auto with_table_lock(Fn fn) {
  std::lock_guard<std::mutex> hold(table_lock());
  return fn();
}

// ---- pixels of a context ----
// What a context draws into, locked while this lives: the window surface or the selected bitmap,
// with the context's clip (within the pixels' bounds). What a window context drew is marked
// changed on the surface before the lock is released.
class Target {
 public:
  explicit Target(DcObject& dc);
  explicit Target(const std::shared_ptr<BitmapObject>& bitmap);
  ~Target();
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;

  bool valid() const { return pixels_.data != nullptr; }
  const SurfacePixels& pixels() const { return pixels_; }
  const RECT& clip() const { return clip_; }
  uint32_t* row(int y) { return reinterpret_cast<uint32_t*>(pixels_.data + static_cast<ptrdiff_t>(y) * pixels_.stride); }
  // Records that `rect` (clipped) was drawn.
  void drew(const RECT& rect);
  // Records that any pixel may have changed (direct pixel access).
  void drew_everything();
  // A cairo context on the pixels, clipped; owned by the Target.
  cairo_t* cairo();

 private:
  struct SurfaceHold;
  std::unique_ptr<SurfaceHold> surface_hold_;
  std::shared_ptr<BitmapObject> bitmap_;
  std::unique_lock<std::mutex> bitmap_hold_;
  SurfacePixels pixels_;
  RECT clip_;
  RECT drawn_;
  cairo_surface_t* cairo_surface_ = nullptr;
  cairo_t* cairo_ = nullptr;
};

// Rectangles: an empty result is all zero.
inline bool empty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }
inline RECT intersect(const RECT& a, const RECT& b) {
  RECT r{a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top, a.right < b.right ? a.right : b.right,
         a.bottom < b.bottom ? a.bottom : b.bottom};
  return empty(r) ? RECT{} : r;
}
inline RECT unite(const RECT& a, const RECT& b) {
  if (empty(a)) return empty(b) ? RECT{} : b;
  if (empty(b)) return a;
  return RECT{a.left < b.left ? a.left : b.left, a.top < b.top ? a.top : b.top, a.right > b.right ? a.right : b.right,
              a.bottom > b.bottom ? a.bottom : b.bottom};
}

// 0x00BBGGRR -> the BGRA pixel word.
inline uint32_t pixel_of(COLORREF color) {
  return 0xFF000000u | (static_cast<uint32_t>(GetRValue(color)) << 16) |
         (static_cast<uint32_t>(GetGValue(color)) << 8) | GetBValue(color);
}
inline COLORREF colorref_of(uint32_t pixel) {
  return RGB(static_cast<int>((pixel >> 16) & 0xFF), static_cast<int>((pixel >> 8) & 0xFF),
             static_cast<int>(pixel & 0xFF));
}
void set_source(cairo_t* cr, COLORREF color);
// Fills the rectangle (clipped) with one pixel value.
void fill_pixels(Target& target, const RECT& rect, uint32_t pixel);

// ---- text helpers shared by GDI and GDI+ ----
std::string utf16_to_utf8(const char16_t* text, int count);
std::u16string utf8_to_utf16(const char* text, int count);
// The cairo face of a family and style (kept for the life of the process).
cairo_font_face_t* font_face(const std::string& family, bool bold, bool italic);
// Applies the font to a cairo context.
void use_font(cairo_t* cr, const FontObject& font);

}  // namespace platform::gdi_internal
