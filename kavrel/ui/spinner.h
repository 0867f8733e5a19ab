// The spinner the connecting and export indicators draw: spokes around a centre, each 30 degrees
// after the previous one, fading by 14 steps of opacity per spoke.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/gdi/gdiplus.h"

namespace kavrel::ui {

struct Spoke {
  float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  uint8_t alpha = 255;
};

// `count` spokes around (cx, cy) from radius r / 1.5 to r, the first at `angle_degrees`.
std::vector<Spoke> spinner_spokes(float cx, float cy, float r, int angle_degrees, int count);

// Spokes the export indicator draws for a percentage: percentage * 12 / 100 + 1.
int export_spoke_count(int percent);

// The indicators' face: a light grey background, a dark disc of radius r + 4 (r = width / 5)
// around the centre and the spokes in `color`. Draws into the whole of `width` x `height`.
void paint_spinner(platform::Gdiplus::Graphics& graphics, int width, int height, int angle_degrees, int count,
                   platform::Gdiplus::Color color, bool with_background);

// The spokes' colour: lime.
inline const platform::Gdiplus::Color kSpinnerColor{50, 205, 50};

}  // namespace kavrel::ui
