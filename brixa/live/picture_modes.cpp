#include "brixa/live/picture_modes.h"

#include <cstring>

namespace brixa::live {
namespace {

using platform::HBITMAP;
using platform::HDC;

// A new bitmap holding the context's width x height picture scaled to out_w x out_h with
// halftone stretching (a plain copy when the sizes match); null when it cannot be made.
HBITMAP scaled_copy(HDC dc, int width, int height, int out_w, int out_h) {
  if (width <= 0 || height <= 0 || out_w <= 0 || out_h <= 0) return nullptr;
  HDC mem = platform::CreateCompatibleDC(dc);
  if (mem == nullptr) return nullptr;
  HBITMAP bitmap = platform::CreateCompatibleBitmap(dc, out_w, out_h);
  if (bitmap != nullptr) {
    platform::HGDIOBJ old = platform::SelectObject(mem, bitmap);
    if (out_w == width && out_h == height) {
      platform::BitBlt(mem, 0, 0, width, height, dc, 0, 0, platform::SRCCOPY);
    } else {
      platform::SetStretchBltMode(mem, platform::HALFTONE);
      platform::StretchBlt(mem, 0, 0, out_w, out_h, dc, 0, 0, width, height, platform::SRCCOPY);
    }
    platform::SelectObject(mem, old);
  }
  platform::DeleteDC(mem);
  return bitmap;
}

// Draws `bitmap` (of bw x bh) into the context at (x, y) as w x h.
void draw_bitmap(HDC dc, HBITMAP bitmap, int bw, int bh, int x, int y, int w, int h) {
  HDC mem = platform::CreateCompatibleDC(dc);
  if (mem == nullptr) return;
  platform::HGDIOBJ old = platform::SelectObject(mem, bitmap);
  if (bw == w && bh == h) {
    platform::BitBlt(dc, x, y, w, h, mem, 0, 0, platform::SRCCOPY);
  } else {
    platform::SetStretchBltMode(dc, platform::HALFTONE);
    platform::StretchBlt(dc, x, y, w, h, mem, 0, 0, bw, bh, platform::SRCCOPY);
  }
  platform::SelectObject(mem, old);
  platform::DeleteDC(mem);
}

bool bitmap_size(HBITMAP bitmap, int* width, int* height) {
  platform::BITMAP info;
  if (platform::GetObject(bitmap, sizeof info, &info) == 0) return false;
  *width = info.bmWidth;
  *height = info.bmHeight;
  return true;
}

}  // namespace

bool apply_wdr(ChannelCapture& capture, HDC dc, int width, int height) {
  if (!size_capture_buffer(capture, width, height)) return false;
  const size_t row_bytes = static_cast<size_t>(width) * 4;
  {
    platform::DcPixels pixels(dc, false);
    if (!pixels.valid() || pixels.pixels().width < width || pixels.pixels().height < height) return false;
    const auto& p = pixels.pixels();
    for (int y = 0; y < height; ++y)
      memcpy(&capture.frame_buffer[y * row_bytes], p.data + static_cast<size_t>(y) * p.stride, row_bytes);
  }
  capture.filter->set_intensity(capture.wdr_intensity.load());
  if (capture.filter->process(capture.frame_buffer.data()) != kFilterOk) return false;
  platform::DcPixels pixels(dc, true);
  if (!pixels.valid() || pixels.pixels().width < width || pixels.pixels().height < height) return false;
  const auto& p = pixels.pixels();
  for (int y = 0; y < height; ++y)
    memcpy(p.data + static_cast<size_t>(y) * p.stride, &capture.frame_buffer[y * row_bytes], row_bytes);
  return true;
}

void update_thumbnail_ring(ChannelCapture& capture, HDC dc, int width, int height, uint32_t now) {
  if (now - capture.last_history_tick <= capture.history_interval.load()) return;
  capture.last_history_tick = now;
  HBITMAP thumbnail = scaled_copy(dc, width, height, width / 3, height / 3);
  if (thumbnail == nullptr) return;
  capture.history_index = capture.history_index + 1 >= kHistorySize ? 0 : capture.history_index + 1;
  Thumbnail& entry = capture.history[capture.history_index];
  if (entry.bitmap != nullptr) platform::DeleteObject(entry.bitmap);
  entry = Thumbnail{width / 3, height / 3, thumbnail};
}

InsetPlace freeze_inset(int corner, int w, int h) {
  const int w3 = w / 3, h3 = h / 3;
  switch (corner) {
    case 0:
      return {{8, 8, w3 + 12, h3 + 12}, 10, 10};
    case 2:
      return {{8, h - h3 - 12, w3 + 12, h - 8}, 10, h - h3 - 10};
    case 3:
      return {{w - w3 - 12, h - h3 - 12, w - 8, h - 8}, w - w3 - 10, h - h3 - 10};
    default:
      return {{w - w3 - 12, 8, w - 8, h3 + 12}, w - w3 - 10, 10};
  }
}

void draw_freeze_view(ChannelCapture& capture, HDC dc, int width, int height) {
  if (capture.frozen_captured.load() == 0) {
    HBITMAP frozen = scaled_copy(dc, width, height, width, height);
    if (frozen == nullptr) return;
    if (capture.frozen_bitmap != nullptr) platform::DeleteObject(capture.frozen_bitmap);
    capture.frozen_bitmap = frozen;
    capture.frozen_captured.store(1);
    return;
  }
  if (capture.frozen_bitmap == nullptr) return;
  const int w3 = width / 3, h3 = height / 3;
  HBITMAP live = scaled_copy(dc, width, height, w3, h3);
  int fw = 0, fh = 0;
  if (bitmap_size(capture.frozen_bitmap, &fw, &fh)) draw_bitmap(dc, capture.frozen_bitmap, fw, fh, 0, 0, width, height);
  if (capture.wdr_enabled.load() != 0) apply_wdr(capture, dc, width, height);
  InsetPlace place = freeze_inset(capture.freeze_corner.load(), width, height);
  platform::HGDIOBJ old_brush = platform::SelectObject(dc, platform::GetStockObject(platform::BLACK_BRUSH));
  platform::Rectangle(dc, place.frame.left, place.frame.top, place.frame.right, place.frame.bottom);
  platform::SelectObject(dc, old_brush);
  if (live != nullptr) {
    draw_bitmap(dc, live, w3, h3, place.x, place.y, w3, h3);
    platform::DeleteObject(live);
  }
}

void draw_history_view(ChannelCapture& capture, HDC dc, int width, int height) {
  const int w3 = width / 3, h3 = height / 3, w2 = 2 * width / 3, h2 = 2 * height / 3;
  if (HBITMAP shrunk = scaled_copy(dc, width, height, w2, h2)) {
    draw_bitmap(dc, shrunk, w2, h2, 0, 0, w2, h2);
    platform::DeleteObject(shrunk);
  }
  struct Place {
    int age;
    platform::RECT rect;
  } const places[] = {
      {1, {w2, 0, width, h3}}, {3, {w2, h3, width, h2}}, {5, {w2, h2, width, height}},
      {7, {w3, h2, w2, height}}, {9, {0, h2, w3, height}},
  };
  platform::HBRUSH black = static_cast<platform::HBRUSH>(platform::GetStockObject(platform::BLACK_BRUSH));
  for (const Place& p : places) {
    int index = ((capture.history_index - p.age) % kHistorySize + kHistorySize) % kHistorySize;
    const Thumbnail& t = capture.history[index];
    if (t.bitmap != nullptr)
      draw_bitmap(dc, t.bitmap, t.width, t.height, p.rect.left, p.rect.top, w3, h3);
    else
      platform::FillRect(dc, &p.rect, black);
  }
}

}  // namespace brixa::live
