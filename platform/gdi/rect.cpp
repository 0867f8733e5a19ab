// Rectangle helpers with Win32 semantics.
#include "platform/gdi/gdi.h"
#include "platform/gdi/gdi_objects.h"

namespace platform {

using gdi_internal::empty;
using gdi_internal::intersect;
using gdi_internal::unite;

bool SetRect(RECT* rect, int left, int top, int right, int bottom) {
  if (rect == nullptr) return false;
  *rect = RECT{left, top, right, bottom};
  return true;
}

bool SetRectEmpty(RECT* rect) {
  if (rect == nullptr) return false;
  *rect = RECT{};
  return true;
}

bool CopyRect(RECT* dst, const RECT* src) {
  if (dst == nullptr || src == nullptr) return false;
  *dst = *src;
  return true;
}

bool IsRectEmpty(const RECT* rect) { return rect == nullptr || rect->right <= rect->left || rect->bottom <= rect->top; }

bool PtInRect(const RECT* rect, POINT point) {
  return rect != nullptr && point.x >= rect->left && point.x < rect->right && point.y >= rect->top &&
         point.y < rect->bottom;
}

bool OffsetRect(RECT* rect, int dx, int dy) {
  if (rect == nullptr) return false;
  rect->left += dx;
  rect->right += dx;
  rect->top += dy;
  rect->bottom += dy;
  return true;
}

bool InflateRect(RECT* rect, int dx, int dy) {
  if (rect == nullptr) return false;
  rect->left -= dx;
  rect->right += dx;
  rect->top -= dy;
  rect->bottom += dy;
  return true;
}

bool IntersectRect(RECT* dst, const RECT* a, const RECT* b) {
  if (dst == nullptr || a == nullptr || b == nullptr) return false;
  RECT r = intersect(*a, *b);
  if (empty(r)) {
    *dst = RECT{};
    return false;
  }
  *dst = r;
  return true;
}

bool UnionRect(RECT* dst, const RECT* a, const RECT* b) {
  if (dst == nullptr || a == nullptr || b == nullptr) return false;
  *dst = unite(*a, *b);
  return !empty(*dst);
}

bool EqualRect(const RECT* a, const RECT* b) { return a != nullptr && b != nullptr && *a == *b; }

}  // namespace platform
