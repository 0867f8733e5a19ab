// Halving planes and drawing pictures into window surfaces at every kind of size.
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <cstdlib>
#include <vector>

#include "devsdk/render/halve.h"
#include "devsdk/render/surface_writer.h"
#include "platform/window/surface.h"

namespace devsdk::render {
namespace {

TEST(Halve, EverySampleIsTheMeanOfItsBlock) {
  const int widths[] = {2, 31, 32, 33, 64, 70, 704};
  for (int width : widths) {
    const int height = 7;  // the odd last row is dropped
    std::vector<uint8_t> from(static_cast<size_t>(width + 5) * height);
    for (size_t i = 0; i < from.size(); ++i) from[i] = static_cast<uint8_t>((i * 37 + i / 3) & 0xFF);
    std::vector<uint8_t> to(static_cast<size_t>(width / 2) * (height / 2) + 1, 0xEE);
    halve_plane(from.data(), width + 5, width, height, to.data(), width / 2);
    for (int y = 0; y < height / 2; ++y)
      for (int x = 0; x < width / 2; ++x) {
        const uint8_t* a = from.data() + static_cast<size_t>(2 * y) * (width + 5) + 2 * x;
        int mean = (a[0] + a[1] + a[width + 5] + a[width + 6] + 2) / 4;
        int got = to[static_cast<size_t>(y) * (width / 2) + x];
        EXPECT_LE(std::abs(got - mean), 1) << width << " at " << x << "," << y;
      }
    EXPECT_EQ(to.back(), 0xEE) << width;  // nothing written past the plane
  }
}

// A 4:2:0 picture whose left half is white and right half black.
AVFrame* split_picture(int width, int height) {
  AVFrame* f = av_frame_alloc();
  f->format = AV_PIX_FMT_YUV420P;
  f->width = width;
  f->height = height;
  av_frame_get_buffer(f, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) f->data[0][y * f->linesize[0] + x] = x < width / 2 ? 235 : 16;
  for (int p = 1; p < 3; ++p)
    for (int y = 0; y < height / 2; ++y)
      for (int x = 0; x < width / 2; ++x) f->data[p][y * f->linesize[p] + x] = 128;
  return f;
}

TEST(SurfaceWriter, DrawsThePictureOverTheWholeClientAreaAtAnySize) {
  struct Case {
    const char* what;
    int picture_width, picture_height, window_width, window_height;
  };
  const Case cases[] = {{"halved, then nearest samples", 704, 576, 320, 240},
                        {"halved exactly", 704, 576, 352, 288},
                        {"averaged down", 704, 576, 500, 400},
                        {"same size", 352, 288, 352, 288},
                        {"enlarged", 352, 288, 640, 480},
                        {"odd window", 704, 576, 321, 241}};
  for (const auto& c : cases) {
    platform::HWND window = platform::create_window(
        platform::WindowSpec{nullptr, {0, 0, c.window_width, c.window_height}, platform::WS_VISIBLE, "w"});
    AVFrame* picture = split_picture(c.picture_width, c.picture_height);
    SurfaceWriter writer;
    ASSERT_TRUE(writer.draw(window, picture)) << c.what;
    ASSERT_TRUE(writer.draw(window, picture)) << c.what;  // again, with what it prepared
    platform::SurfaceAccess access(window);
    const auto& px = access.pixels();
    for (int y : {0, px.height / 2, px.height - 1}) {
      const uint8_t* left = px.data + static_cast<size_t>(y) * px.stride + 4 * (px.width / 8);
      const uint8_t* right = px.data + static_cast<size_t>(y) * px.stride + 4 * (px.width - 1 - px.width / 8);
      EXPECT_GT(left[1], 240) << c.what;
      EXPECT_LT(right[1], 15) << c.what;
    }
    av_frame_free(&picture);
    platform::destroy_window(window);
  }
  AVFrame* picture = split_picture(64, 48);
  SurfaceWriter writer;
  EXPECT_FALSE(writer.draw(nullptr, picture));  // no window, no surface
  av_frame_free(&picture);
}

}  // namespace
}  // namespace devsdk::render
