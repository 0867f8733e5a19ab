#include "devsdk/playsdk/fisheye_view.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

namespace playsdk {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

struct Vec {
  double x, y, z;
};
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator*(Vec a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
Vec normal(Vec a) {
  double n = std::sqrt(dot(a, a));
  return n > 0 ? a * (1.0 / n) : a;
}

bool same(const ViewWindow& a, const ViewWindow& b) {
  return a.kind == b.kind && a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height &&
         a.from_deg == b.from_deg && a.to_deg == b.to_deg && a.pan_deg == b.pan_deg && a.tilt_deg == b.tilt_deg &&
         a.fov_deg == b.fov_deg && a.rotation_deg == b.rotation_deg;
}

// Where a direction in lens coordinates (x right, y down, z along the lens axis) lands in the
// picture; false beyond the rim.
bool project(const LensCircle& lens, Vec d, double& sx, double& sy) {
  d = normal(d);
  double theta = std::acos(std::clamp(d.z, -1.0, 1.0));
  if (theta > kPi / 2) return false;
  double rho = lens.radius * theta / (kPi / 2);
  double phi = std::atan2(d.y, d.x);
  sx = lens.center_x + rho * std::cos(phi);
  sy = lens.center_y + rho * std::sin(phi);
  return true;
}

// The world's down in lens coordinates for a mount.
Vec world_down(int mount) {
  if (mount == 2) return {0, 1, 0};   // wall: the lens looks ahead
  if (mount == 3) return {0, 0, -1};  // floor: the lens looks up
  return {0, 0, 1};                   // ceiling: the lens looks down
}

}  // namespace

void FisheyeRenderer::build(int picture_width, int picture_height, const LensCircle& lens, int mount,
                            const std::vector<ViewWindow>& layout, int width, int height) {
  picture_width_ = picture_width;
  picture_height_ = picture_height;
  lens_ = lens;
  mount_ = mount;
  layout_ = layout;
  width_ = width;
  height_ = height;
  source_x_.assign(static_cast<size_t>(width) * height, -1);
  source_y_.assign(static_cast<size_t>(width) * height, -1);
  const double max_x = picture_width - 1.001, max_y = picture_height - 1.001;

  for (const ViewWindow& w : layout) {
    int x0 = static_cast<int>(int64_t{w.left} * width / kLayoutUnits);
    int y0 = static_cast<int>(int64_t{w.top} * height / kLayoutUnits);
    int x1 = static_cast<int>(int64_t{w.left + w.width} * width / kLayoutUnits);
    int y1 = static_cast<int>(int64_t{w.top + w.height} * height / kLayoutUnits);
    x1 = std::min(x1, width);
    y1 = std::min(y1, height);
    const int ww = x1 - x0, wh = y1 - y0;
    if (ww <= 0 || wh <= 0) continue;

    // The virtual camera of an electronic-PTZ window.
    Vec forward{0, 0, 1}, right{1, 0, 0}, down{0, 1, 0};
    if (w.kind == ViewKind::eptz) {
      double pan = w.pan_deg * kDeg, tilt = w.tilt_deg * kDeg;
      if (mount == 2) {
        forward = {std::cos(tilt) * std::sin(pan), std::sin(tilt), std::cos(tilt) * std::cos(pan)};
      } else {
        forward = {std::sin(tilt) * std::cos(pan), std::sin(tilt) * std::sin(pan), std::cos(tilt)};
      }
      Vec wd = world_down(mount);
      down = normal(wd + forward * -dot(wd, forward));
      if (dot(down, down) < 1e-9) down = {0, 1, 0};
      right = cross(down, forward);
    }
    const double half = std::tan(std::clamp(w.fov_deg, 1.0, 170.0) * kDeg / 2);
    // The original: the circle fitted into the window, turned by its rotation.
    const double fit = 2.0 * lens.radius / std::min(ww, wh);
    const double rc = std::cos(w.rotation_deg * kDeg), rs = std::sin(w.rotation_deg * kDeg);

    for (int y = 0; y < wh; ++y) {
      for (int x = 0; x < ww; ++x) {
        double sx = -1, sy = -1;
        bool inside = false;
        double fx = (x + 0.5) / ww, fy = (y + 0.5) / wh;
        switch (w.kind) {
          case ViewKind::original: {
            double dx = (x + 0.5 - ww / 2.0) * fit, dy = (y + 0.5 - wh / 2.0) * fit;
            if (dx * dx + dy * dy > lens.radius * lens.radius) break;
            sx = lens.center_x + rc * dx - rs * dy;
            sy = lens.center_y + rs * dx + rc * dy;
            inside = true;
            break;
          }
          case ViewKind::panorama: {
            double a = (w.from_deg + (w.to_deg - w.from_deg) * fx) * kDeg;
            Vec d;
            if (mount == 2) {
              double p = (-50.0 + 100.0 * fy) * kDeg;  // pitch, down positive
              d = {std::cos(p) * std::sin(a), std::sin(p), std::cos(p) * std::cos(a)};
            } else {
              // Ceiling: the horizon on top, the floor below; floor mount: the other way up.
              double off = mount == 3 ? (20.0 + 70.0 * fy) * kDeg : (90.0 - 70.0 * fy) * kDeg;
              d = {std::sin(off) * std::cos(a), std::sin(off) * std::sin(a), std::cos(off)};
              if (mount == 3) d.y = -d.y;  // seen from below, the turn runs the other way
            }
            inside = project(lens, d, sx, sy);
            break;
          }
          case ViewKind::eptz: {
            double u = (2 * fx - 1) * half, v = (2 * fy - 1) * half * wh / ww;
            inside = project(lens, forward + right * u + down * v, sx, sy);
            break;
          }
        }
        if (!inside) continue;
        sx = std::clamp(sx, 0.0, max_x);
        sy = std::clamp(sy, 0.0, max_y);
        size_t i = static_cast<size_t>(y0 + y) * width + (x0 + x);
        source_x_[i] = static_cast<int32_t>(sx * 256);
        source_y_[i] = static_cast<int32_t>(sy * 256);
      }
    }
  }
}

void FisheyeRenderer::draw(const AVFrame* picture, const LensCircle& lens, int mount,
                           const std::vector<ViewWindow>& layout, uint8_t* pixels, int stride, int width,
                           int height) {
  bool layout_same = layout.size() == layout_.size();
  for (size_t i = 0; layout_same && i < layout.size(); ++i) layout_same = same(layout[i], layout_[i]);
  if (!layout_same || picture->width != picture_width_ || picture->height != picture_height_ || !(lens == lens_) ||
      mount != mount_ || width != width_ || height != height_) {
    build(picture->width, picture->height, lens, mount, layout, width, height);
  }
  const uint8_t* py = picture->data[0];
  const uint8_t* pu = picture->data[1];
  const uint8_t* pv = picture->data[2];
  const int ly = picture->linesize[0], lu = picture->linesize[1], lv = picture->linesize[2];
  for (int y = 0; y < height; ++y) {
    uint8_t* out = pixels + static_cast<size_t>(y) * stride;
    const int32_t* mx = source_x_.data() + static_cast<size_t>(y) * width;
    const int32_t* my = source_y_.data() + static_cast<size_t>(y) * width;
    for (int x = 0; x < width; ++x, out += 4) {
      if (mx[x] < 0) {
        out[0] = out[1] = out[2] = 0;
        out[3] = 0xFF;
        continue;
      }
      int ix = mx[x] >> 8, iy = my[x] >> 8, fx = mx[x] & 255, fy = my[x] & 255;
      const uint8_t* r0 = py + static_cast<size_t>(iy) * ly + ix;
      const uint8_t* r1 = r0 + ly;
      int top = r0[0] * (256 - fx) + r0[1] * fx, bottom = r1[0] * (256 - fx) + r1[1] * fx;
      int luma = (top * (256 - fy) + bottom * fy) >> 16;
      int u = pu[static_cast<size_t>(iy >> 1) * lu + (ix >> 1)] - 128;
      int v = pv[static_cast<size_t>(iy >> 1) * lv + (ix >> 1)] - 128;
      int c = (luma - 16) * 298;
      out[2] = static_cast<uint8_t>(std::clamp((c + 409 * v + 128) >> 8, 0, 255));
      out[1] = static_cast<uint8_t>(std::clamp((c - 100 * u - 208 * v + 128) >> 8, 0, 255));
      out[0] = static_cast<uint8_t>(std::clamp((c + 516 * u + 128) >> 8, 0, 255));
      out[3] = 0xFF;
    }
  }
}

}  // namespace playsdk
