#include "kavrel/ui/spinner.h"

#include <algorithm>
#include <cmath>

namespace kavrel::ui {

namespace gp = platform::Gdiplus;

std::vector<Spoke> spinner_spokes(float cx, float cy, float r, int angle_degrees, int count) {
  std::vector<Spoke> spokes;
  if (count <= 0) return spokes;
  spokes.reserve(static_cast<size_t>(count));
  constexpr double kPi = 3.14159265358979323846;
  for (int i = 0; i < count; ++i) {
    double a = (angle_degrees + 30.0 * i) * kPi / 180.0;
    double c = std::cos(a);
    double s = std::sin(a);
    double inner = r / 1.5;
    Spoke spoke;
    spoke.x1 = static_cast<float>(cx + inner * c);
    spoke.y1 = static_cast<float>(cy + inner * s);
    spoke.x2 = static_cast<float>(cx + r * c);
    spoke.y2 = static_cast<float>(cy + r * s);
    spoke.alpha = static_cast<uint8_t>(std::max(0, 255 - 14 * i));
    spokes.push_back(spoke);
  }
  return spokes;
}

int export_spoke_count(int percent) { return percent * 12 / 100 + 1; }

void paint_spinner(gp::Graphics& graphics, int width, int height, int angle_degrees, int count, gp::Color color,
                   bool with_background) {
  graphics.SetSmoothingMode(gp::SmoothingModeAntiAlias);
  float cx = static_cast<float>(width / 2);
  float cy = static_cast<float>(height / 2);
  float r = static_cast<float>(width / 5);
  if (with_background) {
    gp::SolidBrush background(gp::Color(220, 220, 220));
    graphics.FillRectangle(&background, 0, 0, width, height);
    gp::SolidBrush disc(gp::Color(235, 46, 51, 56));
    graphics.FillEllipse(&disc, cx - r - 4, cy - r - 4, 2 * (r + 4), 2 * (r + 4));
  }
  float thickness = std::max(2.0f, r / 6.0f);
  for (const Spoke& spoke : spinner_spokes(cx, cy, r, angle_degrees, count)) {
    gp::Pen pen(gp::Color(spoke.alpha, color.GetR(), color.GetG(), color.GetB()), thickness);
    pen.SetLineCap(gp::LineCapRound, gp::LineCapRound, gp::DashCapFlat);
    graphics.DrawLine(&pen, spoke.x1, spoke.y1, spoke.x2, spoke.y2);
  }
}

}  // namespace kavrel::ui
