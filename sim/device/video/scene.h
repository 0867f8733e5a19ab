// The synthetic pictures of a simulated channel: a street with moving objects and the channel's
// name, a fisheye lens's circular view of a room, or a mosaic of channels for the multi-channel
// preview. Motion repeats every loop, so a loop of pictures encoded once plays on seamlessly.
// The band at the bottom (time_code.h) is left flat grey: the live band replaces it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim::device::video {

struct SceneCell {
  std::string title;  // the channel's name, drawn in
  int seed = 0;       // the channel number: colours and motion
};

// Where a PTZ camera's view points, in steps: pan across a street five pictures wide (a step is
// 1/32 of a picture's width, 0 the middle), tilt up (negative) and down (1/32 of its height),
// zoom 1.25^zoom times.
struct PtzView {
  int pan = 0;
  int tilt = 0;
  int zoom = 0;
  bool operator==(const PtzView&) const = default;
};

struct SceneSpec {
  enum class Kind { street, fisheye, mosaic };
  Kind kind = Kind::street;
  int width = 704;  // multiples of 16
  int height = 576;
  SceneCell cell;                 // street and fisheye
  std::vector<SceneCell> cells;   // mosaic: one per tile, in order; an empty title leaves it dark
  int columns = 1;                // mosaic grid
  int rows = 1;
  bool ptz = false;  // street: the view of a PTZ camera over a wider street, where `view` points
  PtzView view;
  bool operator<(const SceneSpec& o) const;
};

// The lens of a fisheye scene: circle centre and radius in pixels of the picture.
struct FisheyeLens {
  int center_x = 0;
  int center_y = 0;
  int radius = 0;
};
FisheyeLens fisheye_lens(int width, int height);

// Draws the pictures of one loop. Not thread-safe; one per encoding.
class SceneRenderer {
 public:
  SceneRenderer(const SceneSpec& spec, int loop_frames);
  ~SceneRenderer();
  SceneRenderer(const SceneRenderer&) = delete;
  SceneRenderer& operator=(const SceneRenderer&) = delete;

  // Picture `index` of the loop as 32-bit pixels (blue, green, red, unused), width * 4 a row.
  const uint8_t* render(int index);

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace sim::device::video
