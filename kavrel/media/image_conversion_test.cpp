// Snapshot conversion: the output size table, the sharpening and the three writers, checked by
// decoding what was written.
#include "kavrel/media/image_conversion.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "kavrel/media/testing/stb_images.h"

namespace {

namespace fs = std::filesystem;
using kavrel::media::converted_size;
using kavrel::media::ImageFormat;

struct Image {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<uint8_t> pixels;
};

// A picture with edges everywhere: sharpening must change it.
Image pattern(int width, int height, int channels) {
  Image image{width, height, channels, std::vector<uint8_t>(static_cast<size_t>(width * height * channels))};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &image.pixels[static_cast<size_t>((y * width + x) * channels)];
      const bool light = ((x / 7) + (y / 5)) % 2 == 0;
      p[0] = static_cast<uint8_t>(light ? 200 : 40);
      p[1] = static_cast<uint8_t>((x * 3 + y) % 256);
      p[2] = static_cast<uint8_t>(light ? 90 : 160);
      if (channels == 4) p[3] = 255;
    }
  }
  return image;
}

Image load(const std::string& path) {
  Image image;
  stbi_uc* data = stbi_load(path.c_str(), &image.width, &image.height, &image.channels, 0);
  if (data == nullptr) return {};
  image.pixels.assign(data, data + image.width * image.height * image.channels);
  stbi_image_free(data);
  return image;
}

Image resized(const Image& in, int width, int height) {
  Image out{width, height, in.channels, std::vector<uint8_t>(static_cast<size_t>(width * height * in.channels))};
  stbir_resize_uint8(in.pixels.data(), in.width, in.height, in.width * in.channels, out.pixels.data(), width, height,
                     width * in.channels, in.channels);
  return out;
}

std::string magic(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return {};
  char bytes[4] = {};
  size_t n = std::fread(bytes, 1, sizeof bytes, f);
  std::fclose(f);
  return std::string(bytes, n);
}

class ImageConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern_dir[] = "/tmp/kavrel-image-XXXXXX";
    ASSERT_NE(mkdtemp(pattern_dir), nullptr);
    dir_ = pattern_dir;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  std::string bitmap(const Image& image, const std::string& name) {
    std::string p = path(name);
    EXPECT_NE(stbi_write_bmp(p.c_str(), image.width, image.height, image.channels, image.pixels.data()), 0);
    return p;
  }
  std::string dir_;
};

TEST(ConvertedSize, FollowsTheTable) {
  struct Case {
    int w, h;
    ImageFormat format;
    int ow, oh;
    bool sharpen;
  } cases[] = {
      {960, 1080, ImageFormat::png, 1920, 1080, false}, {960, 1080, ImageFormat::bmp, 1920, 1080, false},
      {352, 576, ImageFormat::jpeg, 704, 576, true},    {352, 480, ImageFormat::png, 704, 480, true},
      {352, 576, ImageFormat::bmp, 704, 576, false},    {704, 288, ImageFormat::png, 704, 576, true},
      {704, 240, ImageFormat::jpeg, 704, 480, true},    {704, 240, ImageFormat::bmp, 704, 480, false},
      {352, 288, ImageFormat::png, 704, 576, true},     {352, 288, ImageFormat::bmp, 352, 288, false},
      {639, 100, ImageFormat::jpeg, 1278, 200, true},   {640, 100, ImageFormat::png, 640, 100, false},
      {704, 576, ImageFormat::png, 704, 576, false},    {1280, 720, ImageFormat::jpeg, 1280, 720, false},
  };
  for (const Case& c : cases) {
    auto size = converted_size(c.w, c.h, c.format);
    EXPECT_EQ(size.width, c.ow) << c.w << "x" << c.h;
    EXPECT_EQ(size.height, c.oh) << c.w << "x" << c.h;
    EXPECT_EQ(size.sharpen, c.sharpen) << c.w << "x" << c.h;
  }
}

TEST(Sharpen, UniformGreyStaysUnchanged) {
  for (int channels : {3, 4}) {
    std::vector<uint8_t> grey(static_cast<size_t>(16 * 9 * channels), 128);
    std::vector<uint8_t> before = grey;
    kavrel::media::sharpen_image(grey.data(), 16, 9, channels);
    EXPECT_EQ(grey, before) << channels;
  }
}

TEST(Sharpen, AddsTheLumaLaplacianToInnerPixels) {
  // 4 x 3 grey picture; luma equals the grey value for these levels. Pixel (1,1) is 60 among 50s:
  // d = 4*60 - 4*50 = 40 -> 100. Pixel (2,1) has (1,1) as a neighbour, read from the picture as it
  // was: d = 4*50 - 60 - 3*50 = -10 -> 40. The border and the fourth byte stay.
  const int w = 4, h = 3, n = 4;
  std::vector<uint8_t> px(static_cast<size_t>(w * h * n));
  for (int i = 0; i < w * h; ++i) {
    const uint8_t v = i == 1 * w + 1 ? 60 : 50;
    px[static_cast<size_t>(i * n)] = px[static_cast<size_t>(i * n + 1)] = px[static_cast<size_t>(i * n + 2)] = v;
    px[static_cast<size_t>(i * n + 3)] = 7;
  }
  std::vector<uint8_t> before = px;
  kavrel::media::sharpen_image(px.data(), w, h, n);
  auto at = [&](int x, int y, int c) { return px[static_cast<size_t>((y * w + x) * n + c)]; };
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(at(1, 1, c), 100);
    EXPECT_EQ(at(2, 1, c), 40);
  }
  EXPECT_EQ(at(1, 1, 3), 7);
  for (int x = 0; x < w; ++x) {
    for (int c = 0; c < n; ++c) {
      EXPECT_EQ(at(x, 0, c), before[static_cast<size_t>(x * n + c)]);
      EXPECT_EQ(at(x, 2, c), before[static_cast<size_t>((2 * w + x) * n + c)]);
    }
  }
  // A strong edge clamps at both ends.
  std::vector<uint8_t> edge = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 250, 250, 250, 0, 0, 0,
                               0, 0, 0, 0, 0, 0, 0, 0, 0};
  kavrel::media::sharpen_image(edge.data(), 3, 3, 3);
  EXPECT_EQ(edge[12], 255);
  // Two rows: nothing to do.
  std::vector<uint8_t> thin = {10, 10, 10, 200, 200, 200, 10, 10, 10, 10, 10, 10, 200, 200, 200, 10, 10, 10};
  std::vector<uint8_t> thin_before = thin;
  kavrel::media::sharpen_image(thin.data(), 3, 2, 3);
  EXPECT_EQ(thin, thin_before);
}

TEST_F(ImageConversionTest, SmallSnapshotIsDoubledAndSharpenedForPngAndJpegButNotForBmp) {
  const Image source = pattern(352, 288, 3);
  const std::string src = bitmap(source, "cif.bmp");
  Image expected = resized(source, 704, 576);
  kavrel::media::sharpen_image(expected.pixels.data(), 704, 576, 3);
  const Image plain = resized(source, 704, 576);

  ASSERT_TRUE(kavrel::media::convert_bitmap(src.c_str(), path("out.png").c_str(), ImageFormat::png, "test"));
  Image png = load(path("out.png"));
  EXPECT_EQ(magic(path("out.png")).substr(1, 3), "PNG");
  ASSERT_EQ(png.width, 704);
  ASSERT_EQ(png.height, 576);
  EXPECT_EQ(png.pixels, expected.pixels);
  EXPECT_NE(png.pixels, plain.pixels) << "the doubled picture must be sharpened";

  ASSERT_TRUE(kavrel::media::convert_bitmap(src.c_str(), path("out.jpg").c_str(), ImageFormat::jpeg, "test"));
  Image jpg = load(path("out.jpg"));
  EXPECT_EQ(magic(path("out.jpg")).substr(0, 2), "\xFF\xD8");
  EXPECT_EQ(jpg.width, 704);
  EXPECT_EQ(jpg.height, 576);

  ASSERT_TRUE(kavrel::media::convert_bitmap(src.c_str(), path("out.bmp").c_str(), ImageFormat::bmp, "test"));
  Image bmp = load(path("out.bmp"));
  EXPECT_EQ(magic(path("out.bmp")).substr(0, 2), "BM");
  EXPECT_EQ(bmp.width, 352);
  EXPECT_EQ(bmp.height, 288);
  EXPECT_EQ(bmp.pixels, source.pixels);
}

TEST_F(ImageConversionTest, HalfWidthFullHdIsStretchedWithoutSharpening) {
  const Image source = pattern(960, 1080, 3);
  const std::string src = bitmap(source, "half.bmp");
  ASSERT_TRUE(kavrel::media::convert_bitmap(src.c_str(), path("out.png").c_str(), ImageFormat::png, "test"));
  Image png = load(path("out.png"));
  ASSERT_EQ(png.width, 1920);
  ASSERT_EQ(png.height, 1080);
  EXPECT_EQ(png.pixels, resized(source, 1920, 1080).pixels);
}

TEST_F(ImageConversionTest, LargeSnapshotsKeepTheirSizeInEveryFormat) {
  for (auto [w, h] : {std::pair{704, 576}, std::pair{1280, 720}}) {
    const Image source = pattern(w, h, 3);
    const std::string src = bitmap(source, "big.bmp");
    for (auto [format, name] : {std::pair{ImageFormat::png, "o.png"}, std::pair{ImageFormat::bmp, "o.bmp"},
                                std::pair{ImageFormat::jpeg, "o.jpg"}}) {
      ASSERT_TRUE(kavrel::media::convert_bitmap(src.c_str(), path(name).c_str(), format, "test")) << name;
      Image out = load(path(name));
      EXPECT_EQ(out.width, w) << name;
      EXPECT_EQ(out.height, h) << name;
      if (format != ImageFormat::jpeg) {
        EXPECT_EQ(out.pixels, source.pixels) << name << " unsharpened";
      }
    }
  }
}

TEST_F(ImageConversionTest, FourChannelBitmapKeepsChannelsInPngAndDropsAlphaInJpeg) {
  const Image source = pattern(800, 600, 4);
  const std::string src = bitmap(source, "rgba.bmp");
  ASSERT_TRUE(kavrel::media::convert_bitmap(src.c_str(), path("o.png").c_str(), ImageFormat::png, "test"));
  EXPECT_EQ(load(path("o.png")).channels, 4);
  ASSERT_TRUE(kavrel::media::convert_bitmap(src.c_str(), path("o.jpg").c_str(), ImageFormat::jpeg, "test"));
  Image jpg = load(path("o.jpg"));
  EXPECT_EQ(jpg.channels, 3);
  EXPECT_EQ(jpg.width, 800);
}

TEST_F(ImageConversionTest, FailuresWriteNoFile) {
  EXPECT_FALSE(kavrel::media::convert_bitmap(nullptr, path("o.png").c_str(), ImageFormat::png, "test"));
  EXPECT_FALSE(kavrel::media::convert_bitmap(path("missing.bmp").c_str(), path("o.png").c_str(), ImageFormat::png,
                                             "test"));
  // A file that is no bitmap (an empty capture).
  std::FILE* empty = std::fopen(path("empty.bmp").c_str(), "wb");
  ASSERT_NE(empty, nullptr);
  std::fclose(empty);
  for (auto [format, name] : {std::pair{ImageFormat::png, "e.png"}, std::pair{ImageFormat::bmp, "e.bmp"},
                              std::pair{ImageFormat::jpeg, "e.jpg"}}) {
    EXPECT_FALSE(kavrel::media::convert_bitmap(path("empty.bmp").c_str(), path(name).c_str(), format, "test"));
    EXPECT_FALSE(fs::exists(path(name))) << name;
  }
  const std::string src = bitmap(pattern(64, 64, 3), "ok.bmp");
  EXPECT_FALSE(kavrel::media::convert_bitmap(src.c_str(), path("no/such/folder/o.jpg").c_str(), ImageFormat::jpeg,
                                             "test"));
}

}  // namespace
