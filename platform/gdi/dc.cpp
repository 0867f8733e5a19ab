// Device contexts, object selection, pens, brushes, colours and modes.
#include <memory>

#include "platform/gdi/gdi.h"
#include "platform/gdi/gdi_objects.h"

namespace platform {

using namespace gdi_internal;

namespace {

HDC make_dc(HWND window, bool memory) {
  auto dc = std::make_shared<DcObject>();
  dc->window = window;
  dc->state.pen = stock_pen(BLACK_PEN);
  dc->state.brush = stock_brush(WHITE_BRUSH);
  dc->state.font = stock_font();
  if (memory) dc->state.bitmap = stock_bitmap();
  return static_cast<HDC>(insert(std::move(dc)));
}

// Clears the bitmap's owner mark when it is this context's; table lock held.
void unmark_locked(const std::shared_ptr<BitmapObject>& bitmap, const DcObject* dc) {
  if (bitmap != nullptr && bitmap->selected_by == dc) bitmap->selected_by = nullptr;
}

bool release_dc(HDC handle) {
  auto dc = find_dc(handle);
  if (dc == nullptr) return false;
  with_table_lock([&] {
    unmark_locked(dc->state.bitmap, dc.get());
    for (const DcState& saved : dc->saved) unmark_locked(saved.bitmap, dc.get());
  });
  return erase(handle);
}

// The size of what the context draws into.
bool target_size(const DcObject& dc, int* width, int* height) {
  if (dc.window != nullptr) {
    RECT client;
    if (!get_client_rect(dc.window, &client)) return false;
    *width = client.width();
    *height = client.height();
    return true;
  }
  if (dc.state.bitmap == nullptr) return false;
  *width = dc.state.bitmap->width;
  *height = dc.state.bitmap->height;
  return true;
}

RECT clip_box(const DcObject& dc) {
  int width = 0;
  int height = 0;
  if (!target_size(dc, &width, &height)) return RECT{};
  RECT box{0, 0, width, height};
  if (dc.paint) box = intersect(box, dc.paint_rect);
  if (dc.state.has_clip) box = intersect(box, dc.state.clip);
  return box;
}

}  // namespace

HDC GetDC(HWND window) {
  if (window != nullptr && !is_window(window)) return nullptr;
  // GetDC(null) stands for the screen: a context that draws nothing, good for
  // CreateCompatibleDC and CreateCompatibleBitmap.
  return make_dc(window, false);
}

HDC GetWindowDC(HWND window) { return GetDC(window); }

int ReleaseDC(HWND window, HDC dc) {
  auto object = find_dc(dc);
  if (object == nullptr || object->window != window || object->paint) return 0;
  return release_dc(dc) ? 1 : 0;
}

HWND WindowFromDC(HDC dc) {
  auto object = find_dc(dc);
  return object == nullptr ? nullptr : object->window;
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
  if (paint == nullptr || !is_window(window)) return nullptr;
  RECT update;
  if (!get_update_rect(window, &update)) update = RECT{};
  validate_rect(window, nullptr);
  HDC handle = make_dc(window, false);
  auto dc = find_dc(handle);
  dc->paint = true;
  dc->paint_rect = update;
  *paint = PAINTSTRUCT{};
  paint->hdc = handle;
  paint->rcPaint = update;
  return handle;
}

bool EndPaint(HWND window, const PAINTSTRUCT* paint) {
  if (paint == nullptr) return false;
  auto dc = find_dc(paint->hdc);
  if (dc == nullptr || !dc->paint || dc->window != window) return false;
  return release_dc(paint->hdc);
}

HDC CreateCompatibleDC(HDC dc) {
  if (dc != nullptr && find_dc(dc) == nullptr) return nullptr;
  return make_dc(nullptr, true);
}

bool DeleteDC(HDC dc) {
  auto object = find_dc(dc);
  if (object == nullptr || object->paint) return false;
  return release_dc(dc);
}

int SaveDC(HDC handle) {
  auto dc = find_dc(handle);
  if (dc == nullptr) return 0;
  dc->saved.push_back(dc->state);
  return static_cast<int>(dc->saved.size());
}

bool RestoreDC(HDC handle, int saved) {
  auto dc = find_dc(handle);
  if (dc == nullptr) return false;
  const int depth = static_cast<int>(dc->saved.size());
  const int index = saved < 0 ? depth + saved : saved - 1;  // 0-based entry to restore
  if (saved == 0 || index < 0 || index >= depth) return false;
  DcState restored = dc->saved[static_cast<size_t>(index)];
  dc->saved.resize(static_cast<size_t>(index));
  if (restored.bitmap != dc->state.bitmap) {
    with_table_lock([&] {
      unmark_locked(dc->state.bitmap, dc.get());
      if (restored.bitmap != nullptr && !restored.bitmap->stock) restored.bitmap->selected_by = dc.get();
    });
  }
  dc->state = std::move(restored);
  return true;
}

int IntersectClipRect(HDC handle, int left, int top, int right, int bottom) {
  auto dc = find_dc(handle);
  if (dc == nullptr) return ERROR;
  const RECT rect{left, top, right, bottom};
  dc->state.clip = dc->state.has_clip ? intersect(dc->state.clip, rect) : (empty(rect) ? RECT{} : rect);
  dc->state.has_clip = true;
  return empty(clip_box(*dc)) ? NULLREGION : SIMPLEREGION;
}

int GetClipBox(HDC handle, RECT* rect) {
  auto dc = find_dc(handle);
  if (dc == nullptr || rect == nullptr) return ERROR;
  *rect = clip_box(*dc);
  return empty(*rect) ? NULLREGION : SIMPLEREGION;
}

int SelectClipRgn(HDC handle, std::nullptr_t) {
  auto dc = find_dc(handle);
  if (dc == nullptr) return ERROR;
  dc->state.has_clip = false;
  dc->state.clip = RECT{};
  return empty(clip_box(*dc)) ? NULLREGION : SIMPLEREGION;
}

int GetDeviceCaps(HDC handle, int index) {
  auto dc = find_dc(handle);
  if (dc == nullptr) return 0;
  int width = 0;
  int height = 0;
  switch (index) {
    case HORZRES:
      return target_size(*dc, &width, &height) ? width : 0;
    case VERTRES:
      return target_size(*dc, &width, &height) ? height : 0;
    case BITSPIXEL:
      return 32;
    case LOGPIXELSX:
    case LOGPIXELSY:
      return 96;
    default:
      return 0;
  }
}

// ---- objects ----

HGDIOBJ SelectObject(HDC handle, HGDIOBJ object) {
  auto dc = find_dc(handle);
  auto chosen = find(object);
  if (dc == nullptr || chosen == nullptr) return nullptr;
  DcState& state = dc->state;
  switch (chosen->kind) {
    case Kind::pen: {
      HGDIOBJ previous = state.pen->handle;
      state.pen = std::static_pointer_cast<PenObject>(chosen);
      return previous;
    }
    case Kind::brush: {
      HGDIOBJ previous = state.brush->handle;
      state.brush = std::static_pointer_cast<BrushObject>(chosen);
      return previous;
    }
    case Kind::font: {
      HGDIOBJ previous = state.font->handle;
      state.font = std::static_pointer_cast<FontObject>(chosen);
      return previous;
    }
    case Kind::bitmap: {
      if (dc->window != nullptr || state.bitmap == nullptr) return nullptr;  // memory contexts only
      auto bitmap = std::static_pointer_cast<BitmapObject>(chosen);
      const bool taken = with_table_lock([&] {
        if (!bitmap->stock && bitmap->selected_by != nullptr && bitmap->selected_by != dc.get()) return false;
        unmark_locked(state.bitmap, dc.get());
        if (!bitmap->stock) bitmap->selected_by = dc.get();
        return true;
      });
      if (!taken) return nullptr;
      HGDIOBJ previous = state.bitmap->handle;
      state.bitmap = std::move(bitmap);
      return previous;
    }
    case Kind::dc:
      return nullptr;
  }
  return nullptr;
}

bool DeleteObject(HGDIOBJ object) {
  auto found = find(object);
  if (found == nullptr || found->kind == Kind::dc) return false;
  if (found->stock) return true;
  return erase(object);
}

DWORD GetObjectType(HGDIOBJ object) {
  auto found = find(object);
  if (found == nullptr) return 0;
  switch (found->kind) {
    case Kind::pen:
      return OBJ_PEN;
    case Kind::brush:
      return OBJ_BRUSH;
    case Kind::font:
      return OBJ_FONT;
    case Kind::bitmap:
      return OBJ_BITMAP;
    case Kind::dc:
      return std::static_pointer_cast<DcObject>(found)->window == nullptr &&
                     std::static_pointer_cast<DcObject>(found)->state.bitmap != nullptr
                 ? OBJ_MEMDC
                 : OBJ_DC;
  }
  return 0;
}

HGDIOBJ GetCurrentObject(HDC handle, DWORD kind) {
  auto dc = find_dc(handle);
  if (dc == nullptr) return nullptr;
  switch (kind) {
    case OBJ_PEN:
      return dc->state.pen->handle;
    case OBJ_BRUSH:
      return dc->state.brush->handle;
    case OBJ_FONT:
      return dc->state.font->handle;
    case OBJ_BITMAP:
      return dc->state.bitmap == nullptr ? nullptr : dc->state.bitmap->handle;
    default:
      return nullptr;
  }
}

HPEN CreatePen(int style, int width, COLORREF color) {
  if (style < PS_SOLID || style > PS_INSIDEFRAME) return nullptr;
  return static_cast<HPEN>(insert(std::make_shared<PenObject>(style, width, color & 0x00FFFFFFu)));
}

HBRUSH CreateSolidBrush(COLORREF color) {
  return static_cast<HBRUSH>(insert(std::make_shared<BrushObject>(false, color & 0x00FFFFFFu)));
}

// ---- colours and modes ----

COLORREF SetTextColor(HDC handle, COLORREF color) {
  auto dc = find_dc(handle);
  if (dc == nullptr) return CLR_INVALID;
  COLORREF previous = dc->state.text_color;
  dc->state.text_color = color & 0x00FFFFFFu;
  return previous;
}

COLORREF GetTextColor(HDC handle) {
  auto dc = find_dc(handle);
  return dc == nullptr ? CLR_INVALID : dc->state.text_color;
}

COLORREF SetBkColor(HDC handle, COLORREF color) {
  auto dc = find_dc(handle);
  if (dc == nullptr) return CLR_INVALID;
  COLORREF previous = dc->state.bk_color;
  dc->state.bk_color = color & 0x00FFFFFFu;
  return previous;
}

COLORREF GetBkColor(HDC handle) {
  auto dc = find_dc(handle);
  return dc == nullptr ? CLR_INVALID : dc->state.bk_color;
}

int SetBkMode(HDC handle, int mode) {
  auto dc = find_dc(handle);
  if (dc == nullptr || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
  int previous = dc->state.bk_mode;
  dc->state.bk_mode = mode;
  return previous;
}

int GetBkMode(HDC handle) {
  auto dc = find_dc(handle);
  return dc == nullptr ? 0 : dc->state.bk_mode;
}

unsigned SetTextAlign(HDC handle, unsigned align) {
  auto dc = find_dc(handle);
  if (dc == nullptr) return GDI_ERROR;
  unsigned previous = dc->state.text_align;
  dc->state.text_align = align;
  return previous;
}

unsigned GetTextAlign(HDC handle) {
  auto dc = find_dc(handle);
  return dc == nullptr ? GDI_ERROR : dc->state.text_align;
}

int SetStretchBltMode(HDC handle, int mode) {
  auto dc = find_dc(handle);
  if (dc == nullptr || mode < BLACKONWHITE || mode > HALFTONE) return 0;
  int previous = dc->state.stretch_mode;
  dc->state.stretch_mode = mode;
  return previous;
}

int GetStretchBltMode(HDC handle) {
  auto dc = find_dc(handle);
  return dc == nullptr ? 0 : dc->state.stretch_mode;
}

bool SetBrushOrgEx(HDC handle, int, int, POINT* previous) {
  if (find_dc(handle) == nullptr) return false;
  if (previous != nullptr) *previous = POINT{};
  return true;
}

}  // namespace platform
