// Draws the control module's pictures with cairo: the tool-bar icons (32 x 32, with alpha), the
// two loudspeaker strips (80 x 16, four 20 x 16 icons each) and the toolbox bitmap (16 x 15).
// The generated files are committed beside this source; run the kavrel_icon_gen target and
// commit its output when a picture changes.
//
//   kavrel_icon_gen <output folder>
#include <cairo.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Rgb {
  double r, g, b;
};

Rgb hex(uint32_t value) {
  return Rgb{static_cast<double>((value >> 16) & 0xFF) / 255.0, static_cast<double>((value >> 8) & 0xFF) / 255.0,
             static_cast<double>(value & 0xFF) / 255.0};
}

void set(cairo_t* cr, uint32_t value, double alpha = 1.0) {
  Rgb c = hex(value);
  cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha);
}

void rounded_rect(cairo_t* cr, double x, double y, double w, double h, double r) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -kPi / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, kPi / 2);
  cairo_arc(cr, x + r, y + h - r, r, kPi / 2, kPi);
  cairo_arc(cr, x + r, y + r, r, kPi, 3 * kPi / 2);
  cairo_close_path(cr);
}

void vertical_gradient(cairo_t* cr, double y0, double y1, uint32_t top, uint32_t bottom) {
  cairo_pattern_t* p = cairo_pattern_create_linear(0, y0, 0, y1);
  Rgb a = hex(top);
  Rgb b = hex(bottom);
  cairo_pattern_add_color_stop_rgb(p, 0, a.r, a.g, a.b);
  cairo_pattern_add_color_stop_rgb(p, 1, b.r, b.g, b.b);
  cairo_set_source(cr, p);
  cairo_pattern_destroy(p);
}

// A glossy round push button (record).
void round_button(cairo_t* cr, uint32_t light, uint32_t dark, uint32_t rim) {
  cairo_pattern_t* body = cairo_pattern_create_radial(13, 11, 2, 16, 16, 14);
  Rgb l = hex(light);
  Rgb d = hex(dark);
  cairo_pattern_add_color_stop_rgb(body, 0, l.r, l.g, l.b);
  cairo_pattern_add_color_stop_rgb(body, 1, d.r, d.g, d.b);
  cairo_arc(cr, 16, 16, 13, 0, 2 * kPi);
  cairo_set_source(cr, body);
  cairo_fill_preserve(cr);
  cairo_pattern_destroy(body);
  set(cr, rim);
  cairo_set_line_width(cr, 1.5);
  cairo_stroke(cr);
  // Highlight.
  cairo_save(cr);
  cairo_translate(cr, 16, 10);
  cairo_scale(cr, 8, 4.5);
  cairo_arc(cr, 0, 0, 1, 0, 2 * kPi);
  cairo_restore(cr);
  cairo_set_source_rgba(cr, 1, 1, 1, 0.45);
  cairo_fill(cr);
  // The record dot.
  cairo_arc(cr, 16, 17, 4.5, 0, 2 * kPi);
  cairo_set_source_rgba(cr, 1, 1, 1, 0.9);
  cairo_fill(cr);
}

void draw_close(cairo_t* cr) {
  rounded_rect(cr, 3, 3, 26, 26, 5);
  vertical_gradient(cr, 3, 29, 0xF0504A, 0xB3141A);
  cairo_fill_preserve(cr);
  set(cr, 0x7A0B0F);
  cairo_set_line_width(cr, 1.2);
  cairo_stroke(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_set_line_width(cr, 3.6);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_move_to(cr, 10.5, 10.5);
  cairo_line_to(cr, 21.5, 21.5);
  cairo_move_to(cr, 21.5, 10.5);
  cairo_line_to(cr, 10.5, 21.5);
  cairo_stroke(cr);
}

void photo(cairo_t* cr, double angle, bool with_picture) {
  cairo_save(cr);
  cairo_translate(cr, 16, 17);
  cairo_rotate(cr, angle);
  cairo_rectangle(cr, -11, -8.5, 22, 17);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.35);
  cairo_set_line_width(cr, 1.5);
  cairo_stroke_preserve(cr);
  cairo_set_source_rgb(cr, 0.98, 0.98, 0.96);
  cairo_fill(cr);
  if (with_picture) {
    cairo_rectangle(cr, -9, -6.5, 18, 11);
    vertical_gradient(cr, -6.5, 4.5, 0x5DADE2, 0xD6EAF8);
    cairo_fill(cr);
    // Hills and a sun.
    cairo_move_to(cr, -9, 4.5);
    cairo_line_to(cr, -4, -1.5);
    cairo_line_to(cr, 0, 2);
    cairo_line_to(cr, 4, -3);
    cairo_line_to(cr, 9, 3);
    cairo_line_to(cr, 9, 4.5);
    cairo_close_path(cr);
    set(cr, 0x2E8B57);
    cairo_fill(cr);
    cairo_arc(cr, 5.5, -3.5, 1.8, 0, 2 * kPi);
    set(cr, 0xFFD43B);
    cairo_fill(cr);
  }
  cairo_restore(cr);
}

void draw_photos(cairo_t* cr) {
  photo(cr, -0.30, false);
  photo(cr, 0.22, false);
  photo(cr, -0.04, true);
}

void draw_record_idle(cairo_t* cr) { round_button(cr, 0x8BE38B, 0x138A13, 0x0B5C0B); }
void draw_record_busy(cairo_t* cr) { round_button(cr, 0xFF8A80, 0xC0141C, 0x7A0B0F); }

void beacon(cairo_t* cr, bool lit) {
  if (lit) {
    cairo_pattern_t* glow = cairo_pattern_create_radial(16, 15, 3, 16, 15, 16);
    cairo_pattern_add_color_stop_rgba(glow, 0, 1, 0.3, 0.2, 0.55);
    cairo_pattern_add_color_stop_rgba(glow, 1, 1, 0.3, 0.2, 0.0);
    cairo_set_source(cr, glow);
    cairo_paint(cr);
    cairo_pattern_destroy(glow);
    set(cr, 0xFF5A36);
    cairo_set_line_width(cr, 2);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    const double rays[][4] = {{16, 1.5, 16, 4.5}, {4, 6, 6.5, 8.5}, {28, 6, 25.5, 8.5}, {1.5, 16, 4.5, 16},
                              {30.5, 16, 27.5, 16}};
    for (const auto& r : rays) {
      cairo_move_to(cr, r[0], r[1]);
      cairo_line_to(cr, r[2], r[3]);
    }
    cairo_stroke(cr);
  }
  // Dome.
  cairo_move_to(cr, 8, 24);
  cairo_line_to(cr, 8, 16);
  cairo_arc(cr, 16, 16, 8, kPi, 2 * kPi);
  cairo_line_to(cr, 24, 24);
  cairo_close_path(cr);
  cairo_pattern_t* dome = cairo_pattern_create_linear(8, 0, 24, 0);
  Rgb a = hex(lit ? 0xFF7B6B : 0xC8C8C8);
  Rgb b = hex(lit ? 0xB01010 : 0x6E6E6E);
  cairo_pattern_add_color_stop_rgb(dome, 0, a.r, a.g, a.b);
  cairo_pattern_add_color_stop_rgb(dome, 0.45, std::min(1.0, a.r + 0.1), std::min(1.0, a.g + 0.1),
                                   std::min(1.0, a.b + 0.1));
  cairo_pattern_add_color_stop_rgb(dome, 1, b.r, b.g, b.b);
  cairo_set_source(cr, dome);
  cairo_fill_preserve(cr);
  cairo_pattern_destroy(dome);
  set(cr, lit ? 0x6B0A0A : 0x4A4A4A);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
  // Shine.
  cairo_move_to(cr, 12, 22);
  cairo_line_to(cr, 12, 16);
  cairo_arc(cr, 16, 16, 4, kPi, 1.4 * kPi);
  cairo_set_source_rgba(cr, 1, 1, 1, 0.55);
  cairo_set_line_width(cr, 1.6);
  cairo_stroke(cr);
  // Base.
  rounded_rect(cr, 5, 24, 22, 5, 1.5);
  vertical_gradient(cr, 24, 29, 0x5A5F66, 0x2B2F33);
  cairo_fill(cr);
}

void draw_beacon_on(cairo_t* cr) { beacon(cr, true); }
void draw_beacon_off(cairo_t* cr) { beacon(cr, false); }

void draw_history(cairo_t* cr) {
  // Clock face.
  cairo_arc(cr, 17, 17, 11, 0, 2 * kPi);
  cairo_set_source_rgb(cr, 0.98, 0.98, 0.98);
  cairo_fill_preserve(cr);
  set(cr, 0x3A3F44);
  cairo_set_line_width(cr, 2);
  cairo_stroke(cr);
  for (int i = 0; i < 12; ++i) {
    double a = i * kPi / 6;
    double inner = (i % 3 == 0) ? 7.5 : 8.8;
    cairo_move_to(cr, 17 + inner * std::cos(a), 17 + inner * std::sin(a));
    cairo_line_to(cr, 17 + 9.8 * std::cos(a), 17 + 9.8 * std::sin(a));
  }
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
  set(cr, 0x1F2326);
  cairo_set_line_width(cr, 1.8);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_move_to(cr, 17, 17);
  cairo_line_to(cr, 17, 10);
  cairo_move_to(cr, 17, 17);
  cairo_line_to(cr, 22, 19);
  cairo_stroke(cr);
  // Green arrow turning back (anticlockwise) around the top left.
  set(cr, 0x1E9E3A);
  cairo_set_line_width(cr, 3);
  cairo_arc_negative(cr, 17, 17, 14, -0.35 * kPi, -0.95 * kPi);
  cairo_stroke(cr);
  double ax = 17 + 14 * std::cos(-0.95 * kPi);
  double ay = 17 + 14 * std::sin(-0.95 * kPi);
  cairo_move_to(cr, ax - 4.5, ay - 3.5);
  cairo_line_to(cr, ax + 4, ay - 2.5);
  cairo_line_to(cr, ax - 0.5, ay + 5.5);
  cairo_close_path(cr);
  cairo_fill(cr);
}

void draw_torch(cairo_t* cr) {
  // Beam.
  cairo_move_to(cr, 17, 12);
  cairo_line_to(cr, 31, 3);
  cairo_line_to(cr, 31, 29);
  cairo_line_to(cr, 17, 20);
  cairo_close_path(cr);
  cairo_pattern_t* beam = cairo_pattern_create_linear(17, 0, 31, 0);
  cairo_pattern_add_color_stop_rgba(beam, 0, 1, 0.95, 0.55, 0.9);
  cairo_pattern_add_color_stop_rgba(beam, 1, 1, 0.95, 0.55, 0.05);
  cairo_set_source(cr, beam);
  cairo_fill(cr);
  cairo_pattern_destroy(beam);
  // Body and head.
  rounded_rect(cr, 2, 12.5, 11, 7, 2);
  vertical_gradient(cr, 12.5, 19.5, 0x7D858C, 0x2E3338);
  cairo_fill(cr);
  cairo_move_to(cr, 12, 12.5);
  cairo_line_to(cr, 17, 9.5);
  cairo_line_to(cr, 17, 22.5);
  cairo_line_to(cr, 12, 19.5);
  cairo_close_path(cr);
  vertical_gradient(cr, 9.5, 22.5, 0xA7AFB6, 0x40464C);
  cairo_fill(cr);
  cairo_rectangle(cr, 16.5, 9.5, 1.5, 13);
  set(cr, 0xFFE066);
  cairo_fill(cr);
  // Switch.
  rounded_rect(cr, 5, 11, 4, 2, 0.8);
  set(cr, 0xE0453A);
  cairo_fill(cr);
}

void draw_snowflake(cairo_t* cr) {
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  for (int pass = 0; pass < 2; ++pass) {
    // A darker outline first, then the ice colour over it.
    if (pass == 0) {
      set(cr, 0x1B5E8C);
      cairo_set_line_width(cr, 4);
    } else {
      set(cr, 0xBFE7FF);
      cairo_set_line_width(cr, 2);
    }
    for (int i = 0; i < 6; ++i) {
      cairo_save(cr);
      cairo_translate(cr, 16, 16);
      cairo_rotate(cr, i * kPi / 3);
      cairo_move_to(cr, 0, 0);
      cairo_line_to(cr, 0, -13);
      cairo_move_to(cr, 0, -8);
      cairo_line_to(cr, -4, -11.5);
      cairo_move_to(cr, 0, -8);
      cairo_line_to(cr, 4, -11.5);
      cairo_move_to(cr, 0, -4);
      cairo_line_to(cr, -3, -6.5);
      cairo_move_to(cr, 0, -4);
      cairo_line_to(cr, 3, -6.5);
      cairo_restore(cr);
    }
    cairo_stroke(cr);
  }
  cairo_arc(cr, 16, 16, 2.5, 0, 2 * kPi);
  set(cr, 0xFFFFFF);
  cairo_fill(cr);
}

// One 20 x 16 loudspeaker at x; `tone` tints it for its button state.
void speaker(cairo_t* cr, double x, bool muted, uint32_t tone) {
  cairo_save(cr);
  cairo_translate(cr, x, 0);
  cairo_move_to(cr, 2, 6);
  cairo_line_to(cr, 5, 6);
  cairo_line_to(cr, 9, 2.5);
  cairo_line_to(cr, 9, 13.5);
  cairo_line_to(cr, 5, 10);
  cairo_line_to(cr, 2, 10);
  cairo_close_path(cr);
  set(cr, tone);
  cairo_fill(cr);
  cairo_set_line_width(cr, 1.4);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  if (muted) {
    set(cr, 0xE0453A);
    cairo_move_to(cr, 12, 5);
    cairo_line_to(cr, 18, 11);
    cairo_move_to(cr, 18, 5);
    cairo_line_to(cr, 12, 11);
    cairo_stroke(cr);
  } else {
    set(cr, tone);
    cairo_arc(cr, 9, 8, 3.5, -0.3 * kPi, 0.3 * kPi);
    cairo_stroke(cr);
    cairo_arc(cr, 9, 8, 6.5, -0.3 * kPi, 0.3 * kPi);
    cairo_stroke(cr);
  }
  cairo_restore(cr);
}

void speaker_strip(cairo_t* cr, bool muted) {
  // Normal, hover, pressed, disabled.
  const uint32_t tones[4] = {0xE6E6E6, 0x7CFC7C, 0xB0B0B0, 0x6E6E6E};
  for (int i = 0; i < 4; ++i) speaker(cr, i * 20.0, muted, tones[i]);
}

void draw_speakers_muted(cairo_t* cr) { speaker_strip(cr, true); }
void draw_speakers_unmuted(cairo_t* cr) { speaker_strip(cr, false); }

// The toolbox bitmap: a small dome camera on an opaque background.
void draw_toolbox(cairo_t* cr) {
  cairo_set_source_rgb(cr, 0.86, 0.86, 0.86);
  cairo_paint(cr);
  rounded_rect(cr, 1, 4, 10, 7, 1.5);
  set(cr, 0x2E3338);
  cairo_fill(cr);
  cairo_move_to(cr, 11, 6);
  cairo_line_to(cr, 15, 4);
  cairo_line_to(cr, 15, 11);
  cairo_line_to(cr, 11, 9);
  cairo_close_path(cr);
  cairo_fill(cr);
  cairo_arc(cr, 6, 7.5, 2, 0, 2 * kPi);
  set(cr, 0x32CD32);
  cairo_fill(cr);
}

bool write_png(const std::string& path, int w, int h, const std::function<void(cairo_t*)>& draw) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(s);
  draw(cr);
  cairo_destroy(cr);
  bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(s);
  return ok;
}

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

// A 24-bit bottom-up BMP file, as a module's bitmap resources are.
bool write_bmp(const std::string& path, int w, int h, const std::function<void(cairo_t*)>& draw) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  cairo_t* cr = cairo_create(s);
  draw(cr);
  cairo_destroy(cr);
  cairo_surface_flush(s);
  const unsigned char* data = cairo_image_surface_get_data(s);
  int stride = cairo_image_surface_get_stride(s);
  uint32_t row = static_cast<uint32_t>((w * 3 + 3) & ~3);
  std::vector<uint8_t> out;
  put16(out, 0x4D42);
  put32(out, 54 + row * static_cast<uint32_t>(h));
  put32(out, 0);
  put32(out, 54);
  put32(out, 40);
  put32(out, static_cast<uint32_t>(w));
  put32(out, static_cast<uint32_t>(h));
  put16(out, 1);
  put16(out, 24);
  put32(out, 0);
  put32(out, row * static_cast<uint32_t>(h));
  put32(out, 2835);
  put32(out, 2835);
  put32(out, 0);
  put32(out, 0);
  for (int y = h - 1; y >= 0; --y) {
    const unsigned char* p = data + y * stride;
    for (int x = 0; x < w; ++x) {
      out.push_back(p[x * 4 + 0]);
      out.push_back(p[x * 4 + 1]);
      out.push_back(p[x * 4 + 2]);
    }
    for (uint32_t pad = static_cast<uint32_t>(w * 3); pad < row; ++pad) out.push_back(0);
  }
  cairo_surface_destroy(s);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  std::string dir = argv[1];
  struct Picture {
    const char* name;
    int width, height;
    void (*draw)(cairo_t*);
  };
  const Picture pictures[] = {
      {"201_close.png", 32, 32, draw_close},
      {"203_speakers_muted.png", 80, 16, draw_speakers_muted},
      {"204_snapshot.png", 32, 32, draw_photos},
      {"205_speakers.png", 80, 16, draw_speakers_unmuted},
      {"206_record.png", 32, 32, draw_record_idle},
      {"207_recording.png", 32, 32, draw_record_busy},
      {"208_alarm_on.png", 32, 32, draw_beacon_on},
      {"209_alarm_off.png", 32, 32, draw_beacon_off},
      {"210_history.png", 32, 32, draw_history},
      {"211_blc.png", 32, 32, draw_torch},
      {"212_freeze.png", 32, 32, draw_snowflake},
  };
  for (const Picture& p : pictures) {
    if (!write_png(dir + "/" + p.name, p.width, p.height, p.draw)) {
      std::fprintf(stderr, "cannot write %s\n", p.name);
      return 1;
    }
  }
  if (!write_bmp(dir + "/1_toolbox.bmp", 16, 15, draw_toolbox)) {
    std::fprintf(stderr, "cannot write 1_toolbox.bmp\n");
    return 1;
  }
  return 0;
}
