#include "sim/device/video/band_painter.h"

#include <cairo/cairo.h>

#include <cstring>
#include <ctime>

namespace sim::device::video {

BandPainter::BandPainter(int width, int height)
    : layout_(band_layout(width, height)),
      ground_(static_cast<size_t>(width) * kBandLines, kBandGround),
      band_(ground_.size(), kBandGround) {}

void BandPainter::draw_clock(int64_t second) {
  const int width = layout_.width;
  std::fill(ground_.begin(), ground_.end(), kBandGround);
  time_t t = static_cast<time_t>(second);
  struct tm local;
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%d/%m/%Y %H:%M:%S", &local);

  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_A8, width, kBandLines);
  cairo_t* cr = cairo_create(s);
  cairo_select_font_face(cr, "DejaVu Sans Mono", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  // The text fills the room right of the time code.
  double room = width - layout_.text_left - 4;
  double size = 22;
  cairo_set_font_size(cr, size);
  cairo_text_extents_t ext;
  cairo_text_extents(cr, text, &ext);
  if (ext.x_advance > room && ext.x_advance > 0) {
    size = size * room / ext.x_advance;
    cairo_set_font_size(cr, size);
  }
  cairo_set_source_rgba(cr, 1, 1, 1, 1);
  cairo_move_to(cr, layout_.text_left, kBandLines / 2 + size * 0.36);
  cairo_show_text(cr, text);
  cairo_destroy(cr);
  cairo_surface_flush(s);
  const uint8_t* alpha = cairo_image_surface_get_data(s);
  int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < kBandLines; ++y)
    for (int x = 0; x < width; ++x) {
      int a = alpha[static_cast<size_t>(y) * stride + x];
      ground_[static_cast<size_t>(y) * width + x] =
          static_cast<uint8_t>(kBandGround + (kBlockWhite - kBandGround) * a / 255);
    }
  cairo_surface_destroy(s);
  ground_second_ = second;
}

const uint8_t* BandPainter::paint(uint64_t capture_ms) {
  int64_t second = static_cast<int64_t>(capture_ms / 1000);
  if (second != ground_second_) draw_clock(second);
  std::memcpy(band_.data(), ground_.data(), ground_.size());
  draw_time_code(band_.data(), layout_.width, layout_, capture_ms);
  return band_.data();
}

}  // namespace sim::device::video
