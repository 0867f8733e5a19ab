#include "devsdk/playsdk/fisheye_layout.h"

#include <algorithm>

namespace playsdk {
namespace {

constexpr int U = kLayoutUnits;

ViewWindow window(ViewKind kind, int left, int top, int width, int height) {
  ViewWindow w;
  w.kind = kind;
  w.left = left;
  w.top = top;
  w.width = width;
  w.height = height;
  return w;
}

// `count` electronic-PTZ windows in a grid of `columns` over the rectangle, pointing round the
// room (ceiling and floor) or across the view (wall).
void add_eptz_grid(std::vector<ViewWindow>& out, int count, int columns, int left, int top, int width, int height,
                   int mount) {
  int rows = (count + columns - 1) / columns;
  for (int i = 0; i < count; ++i) {
    ViewWindow w = window(ViewKind::eptz, left + width * (i % columns) / columns, top + height * (i / columns) / rows,
                          width / columns, height / rows);
    if (mount == 2) {
      w.pan_deg = count == 1 ? 0 : -60.0 + 120.0 * i / (count - 1);
      w.tilt_deg = 10;
    } else {
      w.pan_deg = 360.0 * i / count;
      w.tilt_deg = 55;
    }
    w.fov_deg = 60;
    out.push_back(w);
  }
}

ViewWindow panorama(int left, int top, int width, int height, int mount) {
  ViewWindow w = window(ViewKind::panorama, left, top, width, height);
  if (mount == 2) {
    w.from_deg = -90;
    w.to_deg = 90;
  }
  return w;
}

}  // namespace

std::vector<ViewWindow> fisheye_layout(int visualization, int mount) {
  std::vector<ViewWindow> out;
  switch (visualization) {
    case 3:  // panorama
      out.push_back(panorama(0, 0, U, U, mount));
      break;
    case 15: {  // double panorama: two halves of the turn, one above the other
      ViewWindow a = panorama(0, 0, U, U / 2, mount), b = panorama(0, U / 2, U, U / 2, mount);
      double mid = (a.from_deg + a.to_deg) / 2;
      a.to_deg = mid;
      b.from_deg = mid;
      out.push_back(a);
      out.push_back(b);
      break;
    }
    case 4:  // panorama and 1
      out.push_back(panorama(0, 0, U, U / 2, mount));
      add_eptz_grid(out, 1, 1, 0, U / 2, U, U / 2, mount);
      break;
    case 8:  // panorama and 3
      out.push_back(panorama(0, 0, U, U / 2, mount));
      add_eptz_grid(out, 3, 3, 0, U / 2, U, U / 2, mount);
      break;
    case 11:  // panorama and 4
      out.push_back(panorama(0, 0, U, U / 2, mount));
      add_eptz_grid(out, 4, 4, 0, U / 2, U, U / 2, mount);
      break;
    case 12:  // panorama and 6
      out.push_back(panorama(0, 0, U, U / 3, mount));
      add_eptz_grid(out, 6, 3, 0, U / 3, U, U - U / 3, mount);
      break;
    case 14:  // panorama and 8
      out.push_back(panorama(0, 0, U, U / 3, mount));
      add_eptz_grid(out, 8, 4, 0, U / 3, U, U - U / 3, mount);
      break;
    case 7:  // original and 3
      out.push_back(window(ViewKind::original, 0, 0, U * 2 / 3, U));
      add_eptz_grid(out, 3, 1, U * 2 / 3, 0, U - U * 2 / 3, U, mount);
      break;
    case 9:  // original and 2
      out.push_back(window(ViewKind::original, 0, 0, U / 2, U));
      add_eptz_grid(out, 2, 1, U / 2, 0, U / 2, U, mount);
      break;
    case 10:  // original and 4
      out.push_back(window(ViewKind::original, 0, 0, U / 2, U));
      add_eptz_grid(out, 4, 2, U / 2, 0, U / 2, U, mount);
      break;
    case 13: {  // original and 8: a 3 x 3 grid with the original in the middle
      std::vector<ViewWindow> around;
      add_eptz_grid(around, 8, 8, 0, 0, U, U, mount);
      for (int i = 0, e = 0; i < 9; ++i) {
        ViewWindow w = i == 4 ? window(ViewKind::original, 0, 0, 0, 0) : around[static_cast<size_t>(e++)];
        w.left = U * (i % 3) / 3;
        w.top = U * (i / 3) / 3;
        w.width = U / 3;
        w.height = U / 3;
        out.push_back(w);
      }
      break;
    }
    default:  // 2, original, and anything unknown
      out.push_back(window(ViewKind::original, 0, 0, U, U));
      break;
  }
  return out;
}

bool apply_eptz(std::vector<ViewWindow>& layout, int index, int operation, int value, int horizontal_step,
                int vertical_step, int mount) {
  if (index < 0 || static_cast<size_t>(index) >= layout.size()) return false;
  ViewWindow& w = layout[static_cast<size_t>(index)];
  switch (operation) {
    case kEptzStop:
      return true;
    case kEptzRotate:
      if (w.kind == ViewKind::eptz) return false;
      // A step of 1280 turns the view by 5 degrees.
      if (w.kind == ViewKind::original) {
        w.rotation_deg += value * 5.0 / 1280.0;
      } else {
        w.from_deg += value * 5.0 / 1280.0;
        w.to_deg += value * 5.0 / 1280.0;
      }
      return true;
    case kEptzMove: {
      if (w.kind != ViewKind::eptz) return false;
      // A step of 256 moves the view by a twelfth of its field of view.
      w.pan_deg += horizontal_step / 256.0 * w.fov_deg / 12.0;
      w.tilt_deg += vertical_step / 256.0 * w.fov_deg / 12.0 * (mount == 2 ? 1 : -1);
      if (mount == 2) {
        w.pan_deg = std::clamp(w.pan_deg, -85.0, 85.0);
        w.tilt_deg = std::clamp(w.tilt_deg, -70.0, 70.0);
      } else {
        w.tilt_deg = std::clamp(w.tilt_deg, 5.0, 89.0);
      }
      return true;
    }
    case kEptzZoomIn:
    case kEptzZoomOut:
      if (w.kind != ViewKind::eptz) return false;
      w.fov_deg = std::clamp(operation == kEptzZoomIn ? w.fov_deg * 0.85 : w.fov_deg / 0.85, 15.0, 110.0);
      return true;
    default:
      return false;
  }
}

}  // namespace playsdk
