// The screenshot helper writes what a context shows and reads it back unchanged.
#include "platform/gdi/testing/screenshot.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/gdi/testing/memory_canvas.h"

namespace platform {
namespace {

TEST(Screenshot, PngRoundTripOfAContext) {
  testing::MemoryCanvas canvas(7, 5, RGB(10, 20, 30));
  SetPixel(canvas.dc(), 6, 4, RGB(200, 150, 100));
  const std::string path = ::testing::TempDir() + "screenshot_" + std::to_string(getpid()) + ".png";
  ASSERT_TRUE(testing::write_dc_png(canvas.dc(), path));
  const testing::Picture read = testing::read_png(path);
  std::remove(path.c_str());
  ASSERT_EQ(read.width, 7);
  ASSERT_EQ(read.height, 5);
  EXPECT_EQ(read.at(0, 0), RGB(10, 20, 30));
  EXPECT_EQ(read.at(6, 4), RGB(200, 150, 100));
  EXPECT_EQ(testing::count_differences(read, testing::picture_of_dc(canvas.dc()), 0), 0);
  EXPECT_EQ(testing::read_png(path).width, 0) << "a missing file reads as empty";
  EXPECT_FALSE(testing::write_dc_png(nullptr, path));
}

}  // namespace
}  // namespace platform
