#include "sim/device/video/scene.h"

#include <cairo/cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <tuple>

#include "sim/device/video/time_code.h"

namespace sim::device::video {
namespace {

constexpr double kTau = 6.283185307179586;

struct Rgb {
  double r, g, b;
};

const Rgb kSkies[] = {{0.35, 0.55, 0.85}, {0.85, 0.55, 0.35}, {0.45, 0.75, 0.55}, {0.65, 0.45, 0.80},
                      {0.30, 0.70, 0.75}, {0.80, 0.70, 0.35}, {0.55, 0.55, 0.65}, {0.80, 0.45, 0.55}};
const Rgb kBright[] = {{1.0, 0.2, 0.2}, {0.2, 0.9, 0.2}, {0.2, 0.4, 1.0}, {1.0, 0.9, 0.1},
                       {0.9, 0.2, 0.9}, {0.1, 0.9, 0.9}, {1.0, 0.55, 0.1}, {0.95, 0.95, 0.95}};

const Rgb& pick(const Rgb* table, int seed) { return table[((seed % 8) + 8) % 8]; }

void set(cairo_t* cr, const Rgb& c, double scale = 1.0) {
  cairo_set_source_rgb(cr, c.r * scale, c.g * scale, c.b * scale);
}

// A small deterministic pseudo-random sequence for the static parts of a scene.
double hash01(int seed, int i) {
  uint32_t x = static_cast<uint32_t>(seed) * 2654435761u ^ static_cast<uint32_t>(i) * 40503u;
  x ^= x >> 13;
  x *= 0x5bd1e995u;
  x ^= x >> 15;
  return (x & 0xFFFFFF) / double(0x1000000);
}

void outlined_text(cairo_t* cr, const std::string& text, double x, double y, double size) {
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, size);
  cairo_move_to(cr, x, y);
  cairo_text_path(cr, text.c_str());
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_set_line_width(cr, size / 8);
  cairo_stroke_preserve(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_fill(cr);
}

// A street in the rectangle, at loop phase t (0 to 1). Everything that moves stays in the upper
// three quarters, so the lines just above the band never change.
void draw_street(cairo_t* cr, const SceneCell& cell, double x0, double y0, double w, double h, double t) {
  cairo_save(cr);
  cairo_rectangle(cr, x0, y0, w, h);
  cairo_clip(cr);
  const Rgb& sky = pick(kSkies, cell.seed);
  double horizon = y0 + h * 0.45;
  cairo_pattern_t* g = cairo_pattern_create_linear(0, y0, 0, horizon);
  cairo_pattern_add_color_stop_rgb(g, 0, sky.r * 0.6, sky.g * 0.6, sky.b * 0.6);
  cairo_pattern_add_color_stop_rgb(g, 1, sky.r, sky.g, sky.b);
  cairo_set_source(cr, g);
  cairo_rectangle(cr, x0, y0, w, horizon - y0);
  cairo_fill(cr);
  cairo_pattern_destroy(g);
  // Buildings on the horizon.
  for (int i = 0; i < 7; ++i) {
    double bw = w * (0.08 + 0.06 * hash01(cell.seed, i));
    double bh = h * (0.12 + 0.22 * hash01(cell.seed, i + 20));
    double bx = x0 + w * (i / 7.0) + w * 0.02 * hash01(cell.seed, i + 40);
    set(cr, {0.25, 0.25, 0.3}, 0.6 + 0.4 * hash01(cell.seed, i + 60));
    cairo_rectangle(cr, bx, horizon - bh, bw, bh);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0.9, 0.85, 0.5);
    for (double wy = horizon - bh + h * 0.02; wy < horizon - h * 0.03; wy += h * 0.04)
      for (double wx = bx + bw * 0.15; wx < bx + bw * 0.8; wx += bw * 0.3) {
        cairo_rectangle(cr, wx, wy, bw * 0.12, h * 0.015);
        cairo_fill(cr);
      }
  }
  // Ground with a road converging on the horizon.
  cairo_set_source_rgb(cr, 0.28, 0.32, 0.26);
  cairo_rectangle(cr, x0, horizon, w, y0 + h - horizon);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 0.22, 0.22, 0.24);
  cairo_move_to(cr, x0 + w * 0.42, horizon);
  cairo_line_to(cr, x0 + w * 0.58, horizon);
  cairo_line_to(cr, x0 + w * 0.95, y0 + h);
  cairo_line_to(cr, x0 + w * 0.05, y0 + h);
  cairo_close_path(cr);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 0.9, 0.9, 0.9);
  cairo_set_line_width(cr, std::max(1.0, w * 0.004));
  for (int i = 0; i < 6; ++i) {
    double a = i / 6.0, b = (i + 0.5) / 6.0;
    double ya = horizon + (y0 + h - horizon) * a * a, yb = horizon + (y0 + h - horizon) * b * b;
    cairo_move_to(cr, x0 + w * 0.5, ya);
    cairo_line_to(cr, x0 + w * 0.5, yb);
  }
  cairo_stroke(cr);

  // A windmill turning once a loop.
  double mx = x0 + w * 0.82, my = y0 + h * 0.22, blade = h * 0.12;
  cairo_set_source_rgb(cr, 0.85, 0.85, 0.85);
  cairo_rectangle(cr, mx - w * 0.005, my, w * 0.01, horizon - my);
  cairo_fill(cr);
  set(cr, pick(kBright, cell.seed + 3));
  for (int i = 0; i < 4; ++i) {
    double a = kTau * (t + i / 4.0);
    cairo_move_to(cr, mx, my);
    cairo_line_to(cr, mx + blade * std::cos(a) - blade * 0.15 * std::sin(a),
                  my + blade * std::sin(a) + blade * 0.15 * std::cos(a));
    cairo_line_to(cr, mx + blade * std::cos(a), my + blade * std::sin(a));
    cairo_close_path(cr);
    cairo_fill(cr);
  }
  // A ball on a closed path.
  set(cr, pick(kBright, cell.seed));
  cairo_arc(cr, x0 + w * (0.5 + 0.32 * std::sin(kTau * t)), y0 + h * (0.28 + 0.12 * std::sin(2 * kTau * t + cell.seed)),
            h * 0.055, 0, kTau);
  cairo_fill(cr);
  // A car crossing once a loop.
  double cw = w * 0.16, ch = h * 0.07;
  double phase = std::fmod(t + 0.13 * cell.seed, 1.0);
  double cx = x0 - cw + phase * (w + cw), cy = y0 + h * 0.58;
  set(cr, pick(kBright, cell.seed + 5), 0.85);
  cairo_rectangle(cr, cx, cy, cw, ch);
  cairo_fill(cr);
  cairo_rectangle(cr, cx + cw * 0.2, cy - ch * 0.6, cw * 0.55, ch * 0.6);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 0.05, 0.05, 0.05);
  cairo_arc(cr, cx + cw * 0.22, cy + ch, ch * 0.35, 0, kTau);
  cairo_arc(cr, cx + cw * 0.78, cy + ch, ch * 0.35, 0, kTau);
  cairo_fill(cr);

  if (!cell.title.empty()) outlined_text(cr, cell.title, x0 + h * 0.04, y0 + h * 0.1, std::max(9.0, h / 14.0));
  cairo_restore(cr);
}

// The room a ceiling fisheye looks down on, unrolled: x is the azimuth (one turn), y runs from
// the horizon (top) to the floor under the lens (bottom).
void draw_room(cairo_t* cr, const SceneCell& cell, int w, int h, double t) {
  const Rgb& wall = pick(kSkies, cell.seed);
  cairo_set_source_rgb(cr, wall.r * 0.8, wall.g * 0.8, wall.b * 0.8);
  cairo_rectangle(cr, 0, 0, w, h * 0.5);
  cairo_fill(cr);
  for (int i = 0; i < 12; ++i) {  // panels, doors and windows
    double x = w * i / 12.0;
    cairo_set_source_rgb(cr, 0.15, 0.15, 0.18);
    cairo_rectangle(cr, x, 0, w * 0.004, h * 0.5);
    cairo_fill(cr);
    if (i % 3 == 0) {
      cairo_set_source_rgb(cr, 0.45, 0.3, 0.2);
      cairo_rectangle(cr, x + w * 0.02, h * 0.12, w * 0.035, h * 0.38);
      cairo_fill(cr);
    } else {
      cairo_set_source_rgb(cr, 0.75, 0.88, 0.95);
      cairo_rectangle(cr, x + w * 0.02, h * 0.1, w * 0.04, h * 0.15);
      cairo_fill(cr);
    }
  }
  for (int q = 0; q < 4; ++q) outlined_text(cr, cell.title, w * (q / 4.0 + 0.07), h * 0.08, h * 0.06);
  // Floor tiles.
  for (int row = 0; row < 8; ++row)
    for (int col = 0; col < 48; ++col) {
      double shade = ((row + col) % 2) ? 0.55 : 0.35;
      cairo_set_source_rgb(cr, shade, shade * 0.95, shade * 0.9);
      cairo_rectangle(cr, w * col / 48.0, h * (0.5 + row / 16.0), w / 48.0 + 1, h / 16.0 + 1);
      cairo_fill(cr);
    }
  // People walking round the room: whole turns per loop, so the loop closes.
  for (int p = 0; p < 4; ++p) {
    int turns = (p % 2) ? 1 : -1;
    double u = std::fmod(p / 4.0 + turns * t + 1.0, 1.0);
    set(cr, pick(kBright, cell.seed + p));
    double px = u * w, pw = w * 0.025;
    for (double wrap : {-1.0, 0.0, 1.0}) {
      double x = px + wrap * w;
      cairo_rectangle(cr, x - pw / 2, h * 0.3, pw, h * 0.22);
      cairo_fill(cr);
      cairo_arc(cr, x, h * 0.27, pw * 0.45, 0, kTau);
      cairo_fill(cr);
    }
  }
}

// What a PTZ camera sees: a street five pictures wide with sky above and ground below, of which
// the view shows the part where it points, magnified by its zoom. The middle picture is the
// channel's own street; the title and a readout of the position stay put.
void draw_ptz_view(cairo_t* cr, const SceneCell& cell, const PtzView& view, int w, int h, double t) {
  constexpr int kCells = 5;
  const double world_w = static_cast<double>(w) * kCells, margin = h * 0.3, world_h = h + 2 * margin;
  const double zoom = std::pow(1.25, view.zoom);
  const double half_w = w / (2 * zoom), half_h = h / (2 * zoom);
  const double cx = std::clamp(world_w / 2 + view.pan * w / 32.0, half_w, world_w - half_w);
  const double cy = std::clamp(world_h / 2 + view.tilt * h / 32.0, half_h, world_h - half_h);
  cairo_save(cr);
  cairo_rectangle(cr, 0, 0, w, h);
  cairo_clip(cr);
  cairo_scale(cr, zoom, zoom);
  cairo_translate(cr, -(cx - half_w), -(cy - half_h));
  const Rgb& sky = pick(kSkies, cell.seed);
  cairo_set_source_rgb(cr, sky.r * 0.45, sky.g * 0.45, sky.b * 0.55);
  cairo_rectangle(cr, 0, 0, world_w, margin + 1);
  cairo_fill(cr);
  for (int i = 0; i < 40; ++i) {  // stars, so a tilt up shows something to move by
    cairo_set_source_rgb(cr, 0.95, 0.95, 0.8);
    cairo_arc(cr, world_w * hash01(cell.seed, i + 100), margin * hash01(cell.seed, i + 200), h * 0.006, 0, kTau);
    cairo_fill(cr);
  }
  for (int k = 0; k < kCells; ++k) {
    const double x0 = static_cast<double>(w) * k;
    if (x0 + w < cx - half_w || x0 > cx + half_w) continue;  // out of view
    SceneCell part{std::string(), k == kCells / 2 ? cell.seed : cell.seed * 7 + k + 11};
    draw_street(cr, part, x0, margin, w, h, t);
  }
  for (int k = 0; k < 2 * kCells; ++k) {  // fields below the street
    const double shade = (k % 2) ? 0.3 : 0.22;
    cairo_set_source_rgb(cr, shade * 0.8, shade * 1.2, shade * 0.6);
    cairo_rectangle(cr, w * k / 2.0, margin + h, w / 2.0 + 1, margin);
    cairo_fill(cr);
  }
  cairo_restore(cr);
  if (!cell.title.empty()) outlined_text(cr, cell.title, h * 0.04, h * 0.1, std::max(9.0, h / 14.0));
  // A still strip at the bottom with the position, so the lines above the band never change
  // (as in every scene) whatever the view shows.
  const double strip = 24;
  cairo_set_source_rgb(cr, 0.1, 0.1, 0.12);
  cairo_rectangle(cr, 0, h - strip, w, strip);
  cairo_fill(cr);
  char readout[64];
  std::snprintf(readout, sizeof readout, "PTZ %+d %+d %.1fx", view.pan, view.tilt, zoom);
  outlined_text(cr, readout, w * 0.02, h - 6, 14);
}

}  // namespace

bool SceneSpec::operator<(const SceneSpec& o) const {
  auto key = [](const SceneSpec& s) {
    std::string all_cells;
    for (const auto& c : s.cells) all_cells += c.title + '\x01' + std::to_string(c.seed) + '\x02';
    return std::make_tuple(static_cast<int>(s.kind), s.width, s.height, s.cell.title, s.cell.seed, all_cells, s.columns,
                           s.rows, s.ptz, s.view.pan, s.view.tilt, s.view.zoom);
  };
  return key(*this) < key(o);
}

FisheyeLens fisheye_lens(int width, int height) {
  int usable = height - kBandLines;
  FisheyeLens lens;
  lens.center_x = width / 2;
  lens.center_y = usable / 2;
  lens.radius = usable / 2 - 4;
  if (lens.radius > width / 2 - 4) lens.radius = width / 2 - 4;
  return lens;
}

struct SceneRenderer::Impl {
  SceneSpec spec;
  int loop_frames = 1;
  cairo_surface_t* surface = nullptr;
  // Fisheye: the unrolled room, and for each picture pixel inside the circle its texel.
  cairo_surface_t* room = nullptr;
  std::vector<int32_t> lens_map;  // texel index, or -1 outside the circle
};

SceneRenderer::SceneRenderer(const SceneSpec& spec, int loop_frames) : impl_(new Impl) {
  impl_->spec = spec;
  impl_->loop_frames = loop_frames > 0 ? loop_frames : 1;
  impl_->surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, spec.width, spec.height);
  if (spec.kind == SceneSpec::Kind::fisheye) {
    const int tw = 2048, th = 512;
    impl_->room = cairo_image_surface_create(CAIRO_FORMAT_RGB24, tw, th);
    FisheyeLens lens = fisheye_lens(spec.width, spec.height);
    impl_->lens_map.assign(static_cast<size_t>(spec.width) * spec.height, -1);
    for (int y = 0; y < spec.height - kBandLines; ++y)
      for (int x = 0; x < spec.width; ++x) {
        double dx = x + 0.5 - lens.center_x, dy = y + 0.5 - lens.center_y;
        double rho = std::sqrt(dx * dx + dy * dy);
        if (rho >= lens.radius) continue;
        // Equidistant lens: the distance from the centre grows with the angle off the axis;
        // the rim is the horizon.
        double u = std::atan2(dy, dx) / kTau;
        if (u < 0) u += 1.0;
        double v = 1.0 - rho / lens.radius;
        int tx = static_cast<int>(u * tw) % tw;
        int ty = static_cast<int>(v * (th - 1));
        impl_->lens_map[static_cast<size_t>(y) * spec.width + x] = ty * tw + tx;
      }
  }
}

SceneRenderer::~SceneRenderer() {
  cairo_surface_destroy(impl_->surface);
  if (impl_->room != nullptr) cairo_surface_destroy(impl_->room);
  delete impl_;
}

const uint8_t* SceneRenderer::render(int index) {
  const SceneSpec& s = impl_->spec;
  double t = static_cast<double>(index % impl_->loop_frames) / impl_->loop_frames;
  int scene_h = s.height - kBandLines;
  cairo_t* cr = cairo_create(impl_->surface);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_paint(cr);
  switch (s.kind) {
    case SceneSpec::Kind::street:
      if (s.ptz)
        draw_ptz_view(cr, s.cell, s.view, s.width, scene_h, t);
      else
        draw_street(cr, s.cell, 0, 0, s.width, scene_h, t);
      break;
    case SceneSpec::Kind::mosaic: {
      double cw = static_cast<double>(s.width) / s.columns, ch = static_cast<double>(scene_h) / s.rows;
      for (size_t i = 0; i < s.cells.size() && i < static_cast<size_t>(s.columns * s.rows); ++i) {
        if (s.cells[i].title.empty()) continue;
        int col = static_cast<int>(i) % s.columns, row = static_cast<int>(i) / s.columns;
        draw_street(cr, s.cells[i], col * cw, row * ch, cw - 2, ch - 2, t);
      }
      break;
    }
    case SceneSpec::Kind::fisheye: {
      cairo_t* rc = cairo_create(impl_->room);
      draw_room(rc, s.cell, cairo_image_surface_get_width(impl_->room), cairo_image_surface_get_height(impl_->room), t);
      cairo_destroy(rc);
      cairo_surface_flush(impl_->room);
      cairo_surface_flush(impl_->surface);
      const auto* texels = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(impl_->room));
      auto* out = cairo_image_surface_get_data(impl_->surface);
      int out_stride = cairo_image_surface_get_stride(impl_->surface);
      for (int y = 0; y < scene_h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(out + static_cast<size_t>(y) * out_stride);
        const int32_t* map = impl_->lens_map.data() + static_cast<size_t>(y) * s.width;
        for (int x = 0; x < s.width; ++x) row[x] = map[x] >= 0 ? texels[map[x]] : 0;
      }
      cairo_surface_mark_dirty(impl_->surface);
      outlined_text(cr, s.cell.title, s.height * 0.03, s.height * 0.07, std::max(9.0, s.height / 18.0));
      break;
    }
  }
  // The band's place: flat grey in every picture, replaced live.
  cairo_set_source_rgb(cr, 0.5, 0.5, 0.5);
  cairo_rectangle(cr, 0, scene_h, s.width, kBandLines);
  cairo_fill(cr);
  cairo_destroy(cr);
  cairo_surface_flush(impl_->surface);
  return cairo_image_surface_get_data(impl_->surface);
}

}  // namespace sim::device::video
