// Lines, rectangles, frames, ellipses, single pixels and gradients. Axis-aligned shapes are
// written pixel by pixel so their edges land exactly where Win32 puts them.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/gdi/gdi.h"
#include "platform/gdi/gdi_objects.h"

namespace platform {

using namespace gdi_internal;

namespace {

// One pixel, when inside the clip.
void plot(Target& target, int x, int y, uint32_t pixel) {
  const RECT& clip = target.clip();
  if (x < clip.left || x >= clip.right || y < clip.top || y >= clip.bottom) return;
  target.row(y)[x] = pixel;
}

// A line one pixel wide from (x0, y0) to (x1, y1), the end point excluded (Bresenham).
void thin_line(Target& target, int x0, int y0, int x1, int y1, uint32_t pixel) {
  const int dx = std::abs(x1 - x0);
  const int dy = -std::abs(y1 - y0);
  const int sx = x0 < x1 ? 1 : -1;
  const int sy = y0 < y1 ? 1 : -1;
  int error = dx + dy;
  int x = x0;
  int y = y0;
  while (x != x1 || y != y1) {
    plot(target, x, y, pixel);
    const int twice = 2 * error;
    if (twice >= dy) {
      error += dy;
      x += sx;
    }
    if (twice <= dx) {
      error += dx;
      y += sy;
    }
  }
  target.drew(RECT{std::min(x0, x1), std::min(y0, y1), std::max(x0, x1) + 1, std::max(y0, y1) + 1});
}

// The pen's outline of (left, top, right, bottom): a band `width` pixels thick centred on the
// one-pixel border (or inside it for PS_INSIDEFRAME).
void pen_frame(Target& target, const RECT& rect, const PenObject& pen) {
  const int w = pen.width;
  const int outer = pen.style == PS_INSIDEFRAME ? 0 : (w - 1) / 2;
  const RECT box{rect.left - outer, rect.top - outer, rect.right + outer, rect.bottom + outer};
  const uint32_t pixel = pixel_of(pen.color);
  fill_pixels(target, RECT{box.left, box.top, box.right, box.top + w}, pixel);
  fill_pixels(target, RECT{box.left, box.bottom - w, box.right, box.bottom}, pixel);
  fill_pixels(target, RECT{box.left, box.top, box.left + w, box.bottom}, pixel);
  fill_pixels(target, RECT{box.right - w, box.top, box.right, box.bottom}, pixel);
}

std::shared_ptr<BrushObject> find_brush(HBRUSH brush) { return find_as<BrushObject>(brush, Kind::brush); }

}  // namespace

bool MoveToEx(HDC handle, int x, int y, POINT* previous) {
  auto dc = find_dc(handle);
  if (dc == nullptr) return false;
  if (previous != nullptr) *previous = dc->state.position;
  dc->state.position = POINT{x, y};
  return true;
}

bool LineTo(HDC handle, int x, int y) {
  auto dc = find_dc(handle);
  if (dc == nullptr) return false;
  const POINT from = dc->state.position;
  dc->state.position = POINT{x, y};
  const PenObject& pen = *dc->state.pen;
  if (!pen.draws()) return true;
  Target target(*dc);
  if (!target.valid()) return true;
  if (pen.width <= 1) {
    thin_line(target, from.x, from.y, x, y, pixel_of(pen.color));
    return true;
  }
  cairo_t* cr = target.cairo();
  set_source(cr, pen.color);
  cairo_set_line_width(cr, pen.width);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_move_to(cr, from.x + 0.5, from.y + 0.5);
  cairo_line_to(cr, x + 0.5, y + 0.5);
  cairo_stroke(cr);
  const int half = pen.width / 2 + 1;
  target.drew(RECT{std::min(from.x, x) - half, std::min(from.y, y) - half, std::max(from.x, x) + half + 1,
                   std::max(from.y, y) + half + 1});
  return true;
}

bool Rectangle(HDC handle, int left, int top, int right, int bottom) {
  auto dc = find_dc(handle);
  if (dc == nullptr) return false;
  const RECT rect{std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)};
  if (empty(rect)) return true;
  Target target(*dc);
  if (!target.valid()) return true;
  const PenObject& pen = *dc->state.pen;
  const BrushObject& brush = *dc->state.brush;
  if (!pen.draws()) {
    if (!brush.null) fill_pixels(target, RECT{rect.left, rect.top, rect.right - 1, rect.bottom - 1}, pixel_of(brush.color));
    return true;
  }
  if (!brush.null)
    fill_pixels(target, RECT{rect.left + 1, rect.top + 1, rect.right - 1, rect.bottom - 1}, pixel_of(brush.color));
  pen_frame(target, rect, pen);
  return true;
}

bool Ellipse(HDC handle, int left, int top, int right, int bottom) {
  auto dc = find_dc(handle);
  if (dc == nullptr) return false;
  const RECT rect{std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)};
  if (empty(rect)) return true;
  Target target(*dc);
  if (!target.valid()) return true;
  cairo_t* cr = target.cairo();
  const PenObject& pen = *dc->state.pen;
  const BrushObject& brush = *dc->state.brush;
  const double inset = pen.draws() ? pen.width / 2.0 : 0.0;
  const double rx = (rect.width() - 1) / 2.0;
  const double ry = (rect.height() - 1) / 2.0;
  cairo_save(cr);
  cairo_translate(cr, rect.left + 0.5 + rx, rect.top + 0.5 + ry);
  cairo_scale(cr, rx > 0 ? rx : 0.5, ry > 0 ? ry : 0.5);
  cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
  cairo_restore(cr);
  if (!brush.null) {
    set_source(cr, brush.color);
    cairo_fill_preserve(cr);
  }
  if (pen.draws()) {
    set_source(cr, pen.color);
    cairo_set_line_width(cr, pen.width);
    cairo_stroke(cr);
  }
  cairo_new_path(cr);
  const int grow = static_cast<int>(std::ceil(inset)) + 1;
  target.drew(RECT{rect.left - grow, rect.top - grow, rect.right + grow, rect.bottom + grow});
  return true;
}

int FillRect(HDC handle, const RECT* rect, HBRUSH brush_handle) {
  auto dc = find_dc(handle);
  auto brush = find_brush(brush_handle);
  if (dc == nullptr || rect == nullptr || brush == nullptr) return 0;
  if (brush->null || empty(*rect)) return 1;
  Target target(*dc);
  if (target.valid()) fill_pixels(target, *rect, pixel_of(brush->color));
  return 1;
}

int FrameRect(HDC handle, const RECT* rect, HBRUSH brush_handle) {
  auto dc = find_dc(handle);
  auto brush = find_brush(brush_handle);
  if (dc == nullptr || rect == nullptr || brush == nullptr) return 0;
  if (brush->null || empty(*rect)) return 1;
  Target target(*dc);
  if (!target.valid()) return 1;
  const uint32_t pixel = pixel_of(brush->color);
  const RECT& r = *rect;
  fill_pixels(target, RECT{r.left, r.top, r.right, r.top + 1}, pixel);
  fill_pixels(target, RECT{r.left, r.bottom - 1, r.right, r.bottom}, pixel);
  fill_pixels(target, RECT{r.left, r.top, r.left + 1, r.bottom}, pixel);
  fill_pixels(target, RECT{r.right - 1, r.top, r.right, r.bottom}, pixel);
  return 1;
}

void Draw3dRect(HDC handle, const RECT* rect, COLORREF top_left, COLORREF bottom_right) {
  auto dc = find_dc(handle);
  if (dc == nullptr || rect == nullptr || empty(*rect)) return;
  Target target(*dc);
  if (!target.valid()) return;
  const RECT& r = *rect;
  const uint32_t light = pixel_of(top_left);
  const uint32_t dark = pixel_of(bottom_right);
  fill_pixels(target, RECT{r.left, r.top, r.right - 1, r.top + 1}, light);
  fill_pixels(target, RECT{r.left, r.top, r.left + 1, r.bottom - 1}, light);
  fill_pixels(target, RECT{r.right - 1, r.top, r.right, r.bottom}, dark);
  fill_pixels(target, RECT{r.left, r.bottom - 1, r.right, r.bottom}, dark);
}

void FillSolidRect(HDC handle, const RECT* rect, COLORREF color) {
  auto dc = find_dc(handle);
  if (dc == nullptr || rect == nullptr || empty(*rect)) return;
  Target target(*dc);
  if (target.valid()) fill_pixels(target, *rect, pixel_of(color));
}

COLORREF GetPixel(HDC handle, int x, int y) {
  auto dc = find_dc(handle);
  if (dc == nullptr) return CLR_INVALID;
  Target target(*dc);
  if (!target.valid() || !PtInRect(&target.clip(), POINT{x, y})) return CLR_INVALID;
  return colorref_of(target.row(y)[x]);
}

COLORREF SetPixel(HDC handle, int x, int y, COLORREF color) {
  auto dc = find_dc(handle);
  if (dc == nullptr) return CLR_INVALID;
  Target target(*dc);
  if (!target.valid() || !PtInRect(&target.clip(), POINT{x, y})) return CLR_INVALID;
  target.row(y)[x] = pixel_of(color);
  target.drew(RECT{x, y, x + 1, y + 1});
  return color & 0x00FFFFFFu;
}

bool GradientFill(HDC handle, const TRIVERTEX* vertices, ULONG vertex_count, const void* mesh, ULONG mesh_count,
                  ULONG mode) {
  auto dc = find_dc(handle);
  if (dc == nullptr || vertices == nullptr || mesh == nullptr) return false;
  if (mode != GRADIENT_FILL_RECT_H && mode != GRADIENT_FILL_RECT_V) return false;
  const auto* rects = static_cast<const GRADIENT_RECT*>(mesh);
  for (ULONG i = 0; i < mesh_count; ++i)
    if (rects[i].UpperLeft >= vertex_count || rects[i].LowerRight >= vertex_count) return false;
  Target target(*dc);
  if (!target.valid()) return true;
  for (ULONG i = 0; i < mesh_count; ++i) {
    TRIVERTEX a = vertices[rects[i].UpperLeft];
    TRIVERTEX b = vertices[rects[i].LowerRight];
    const bool vertical = mode == GRADIENT_FILL_RECT_V;
    // Order the two vertices along the gradient's axis.
    if (vertical ? a.y > b.y : a.x > b.x) std::swap(a, b);
    const RECT rect{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
    const RECT area = intersect(rect, target.clip());
    if (empty(area)) continue;
    const int64_t span = vertical ? rect.height() : rect.width();
    const int first = vertical ? rect.top : rect.left;
    auto channel = [&](COLOR16 from, COLOR16 to, int at) {
      const int64_t mix = (static_cast<int64_t>(from) * (span - (at - first)) + static_cast<int64_t>(to) * (at - first)) / span;
      return static_cast<uint32_t>(mix >> 8);
    };
    auto pixel_at = [&](int at) {
      return 0xFF000000u | (channel(a.Red, b.Red, at) << 16) | (channel(a.Green, b.Green, at) << 8) |
             channel(a.Blue, b.Blue, at);
    };
    for (int y = area.top; y < area.bottom; ++y) {
      uint32_t* row = target.row(y);
      if (vertical) {
        std::fill_n(row + area.left, area.width(), pixel_at(y));
      } else {
        for (int x = area.left; x < area.right; ++x) row[x] = pixel_at(x);
      }
    }
    target.drew(area);
  }
  return true;
}

}  // namespace platform
