// The views of a fisheye picture that each visualization mode shows, and how the views point.
//
// A layout is a list of view windows in layout units (kLayoutUnits across and down); a window is
// the original circle, a panorama or an electronic-PTZ view (a virtual camera looking where its
// pan and tilt point, as wide as its field of view). Window order follows the mode's name: the
// original or panorama first, except in "original plus 8" where the original sits in the middle
// of a 3 x 3 grid (window 4).
#pragma once

#include <cstdint>
#include <vector>

namespace playsdk {

inline constexpr int kLayoutUnits = 8192;

enum class ViewKind { original = 0, panorama = 1, eptz = 2 };

struct ViewWindow {
  ViewKind kind = ViewKind::original;
  int left = 0, top = 0, width = 0, height = 0;  // layout units
  // Panorama: the first and last azimuth it spans (degrees; one turn for ceiling and floor).
  double from_deg = 0, to_deg = 360;
  // Electronic PTZ: where the virtual camera looks. Ceiling and floor: pan is the azimuth round
  // the lens axis and tilt the angle off it; wall: pan is the yaw and tilt the pitch (down
  // positive), both from straight ahead. Field of view across the window, degrees.
  double pan_deg = 0, tilt_deg = 0, fov_deg = 60;
  // Original: rotation of the circle, degrees.
  double rotation_deg = 0;
};

// The windows of `visualization` for `mount` (1 ceiling, 2 wall, 3 floor); an unknown mode
// shows the original alone.
std::vector<ViewWindow> fisheye_layout(int visualization, int mount);

// Electronic-PTZ operations of the window update.
inline constexpr int kEptzMove = 32;
inline constexpr int kEptzRotate = 13;
inline constexpr int kEptzZoomIn = 1;
inline constexpr int kEptzZoomOut = 2;
inline constexpr int kEptzStop = 9;

// Applies one operation to window `index`: moves and zooms act on electronic-PTZ windows,
// rotation on the original or a panorama. False for a window the layout does not have, or an
// operation that does not apply to it.
bool apply_eptz(std::vector<ViewWindow>& layout, int index, int operation, int value, int horizontal_step,
                int vertical_step, int mount);

}  // namespace playsdk
