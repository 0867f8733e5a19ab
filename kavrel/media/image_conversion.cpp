// Snapshot conversion: stb_image loads the bitmap the Device SDK wrote, stb_image_resize rescales
// it, stb_image_write writes PNG and BMP files and libjpeg-turbo writes baseline JPEG files. The
// stb parts are compiled here with internal linkage, so no other copy in the process can clash.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "kavrel/media/image_conversion.h"
#include "trace/trace.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#define STBI_MAX_DIMENSIONS (1 << 14)
#define STB_IMAGE_RESIZE_STATIC
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wdouble-promotion"
#pragma GCC diagnostic ignored "-Wcast-qual"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuseless-cast"  // a GCC-only warning
#endif
#endif
#include <stb/stb_image.h>
#include <stb/stb_image_resize.h>
#include <stb/stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#include <jpeglib.h>

namespace kavrel::media {
namespace {

struct StbFree {
  void operator()(stbi_uc* p) const { stbi_image_free(p); }
};

}  // namespace

ConvertedSize converted_size(int32_t width, int32_t height, ImageFormat format) {
  const bool bmp = format == ImageFormat::bmp;
  if (width == 960 && height == 1080) return {1920, 1080, false};
  if (width == 352 && (height == 576 || height == 480)) return {704, height, !bmp};
  if (width == 704 && (height == 288 || height == 240)) return {704, height * 2, !bmp};
  if (width <= 639) {
    if (bmp) return {width, height, false};
    return {width * 2, height * 2, true};
  }
  return {width, height, false};
}

bool write_jpeg(const char* path, const uint8_t* rgb, int32_t width, int32_t height, int32_t quality) {
  if (path == nullptr || rgb == nullptr || width <= 0 || height <= 0) return false;
  std::FILE* out = std::fopen(path, "wb");
  if (out == nullptr) return false;
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, out);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  // Baseline, 4:2:0, one pass: luma 2 x 2, both chroma planes 1 x 1, Huffman tables as they are.
  cinfo.comp_info[0].h_samp_factor = 2;
  cinfo.comp_info[0].v_samp_factor = 2;
  cinfo.comp_info[1].h_samp_factor = cinfo.comp_info[1].v_samp_factor = 1;
  cinfo.comp_info[2].h_samp_factor = cinfo.comp_info[2].v_samp_factor = 1;
  cinfo.optimize_coding = FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  const size_t stride = static_cast<size_t>(width) * 3;
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb + static_cast<size_t>(cinfo.next_scanline) * stride);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  bool written = std::ferror(out) == 0;
  written = std::fclose(out) == 0 && written;
  if (!written) std::remove(path);
  return written;
}

bool convert_bitmap(const char* src, const char* dst, ImageFormat format, const char* trace_name) {
  if (src == nullptr) {
    trace::error(trace_name, 0, "Null srcPath");
    return false;
  }
  if (dst == nullptr) {
    trace::error(trace_name, 0, "Null dstPath");
    return false;
  }
  trace::value("srcPath", src);
  trace::value("dstPath", dst);
  int width = 0;
  int height = 0;
  int channels = 0;
  std::unique_ptr<stbi_uc, StbFree> loaded(stbi_load(src, &width, &height, &channels, 0));
  if (!loaded || width <= 0 || height <= 0) {
    trace::error(trace_name, 0, "Cannot load input image");
    return false;
  }
  const ConvertedSize size = converted_size(width, height, format);
  const size_t n = static_cast<size_t>(channels);
  std::vector<uint8_t> resized;
  const uint8_t* pixels = loaded.get();
  if (size.width != width || size.height != height) {
    try {
      resized.resize(static_cast<size_t>(size.width) * static_cast<size_t>(size.height) * n);
    } catch (const std::bad_alloc&) {
      trace::error(trace_name, 0, "Cannot allocate rescale buffer");
      return false;
    }
    if (stbir_resize_uint8(loaded.get(), width, height, width * channels, resized.data(), size.width, size.height,
                           size.width * channels, channels) == 0) {
      trace::error(trace_name, 0, "Cannot allocate rescale buffer");
      return false;
    }
    pixels = resized.data();
  }
  if (size.sharpen) {
    if (resized.empty()) resized.assign(pixels, pixels + static_cast<size_t>(width) * static_cast<size_t>(height) * n);
    sharpen_image(resized.data(), size.width, size.height, channels);
    pixels = resized.data();
  }

  bool written = false;
  switch (format) {
    case ImageFormat::png:
      written = stbi_write_png(dst, size.width, size.height, channels, pixels, size.width * channels) != 0;
      break;
    case ImageFormat::bmp:
      written = stbi_write_bmp(dst, size.width, size.height, channels, pixels) != 0;
      if (!written) trace::error(trace_name, 0, "Cannot save to BMP file");
      break;
    case ImageFormat::jpeg: {
      std::vector<uint8_t> rgb;
      const uint8_t* three = pixels;
      if (channels == 4) {
        const size_t count = static_cast<size_t>(size.width) * static_cast<size_t>(size.height);
        try {
          rgb.resize(count * 3);
        } catch (const std::bad_alloc&) {
          trace::error(trace_name, 0, "Cannot allocate RGB buffer");
          return false;
        }
        for (size_t i = 0; i < count; ++i) {
          rgb[3 * i] = pixels[4 * i];
          rgb[3 * i + 1] = pixels[4 * i + 1];
          rgb[3 * i + 2] = pixels[4 * i + 2];
        }
        three = rgb.data();
      } else if (channels != 3) {
        return false;
      }
      written = write_jpeg(dst, three, size.width, size.height, 95);
      if (!written) trace::error(trace_name, 0, "Cannot save to JPEG file");
      break;
    }
  }
  // A writer that failed midway may leave a partial file; the caller must find none.
  if (!written) std::remove(dst);
  return written;
}

}  // namespace kavrel::media
