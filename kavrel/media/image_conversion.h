// The conversion of a snapshot bitmap into the file the user asked for (BMP, PNG or JPEG): the
// output size (anamorphic video sizes get their display shape back, small pictures are doubled),
// the sharpening of enlarged pictures, and the encoders.
#pragma once

#include <cstdint>
#include <string>

namespace kavrel::media {

enum class ImageFormat { bmp, png, jpeg };

struct ConvertedSize {
  int32_t width = 0;
  int32_t height = 0;
  bool sharpen = false;
};

// The size a W x H picture is written at in `format`, and whether it is sharpened.
ConvertedSize converted_size(int32_t width, int32_t height, ImageFormat format);

// Sharpens an image of `channels` bytes per pixel (3 or 4) in place: each inner pixel's first three
// bytes get the luma Laplacian (4 L - the four neighbours) added, clamped to 0..255; the border,
// the fourth byte and images of two rows or columns or fewer stay as they are. Integer only.
void sharpen_image(uint8_t* pixels, int32_t width, int32_t height, int32_t channels);

// Loads the bitmap `src`, resizes and sharpens it for `format` and writes `dst`. Traces what it
// does under `trace_name`; true when `dst` was written. Nothing is written on any failure.
bool convert_bitmap(const char* src, const char* dst, ImageFormat format, const char* trace_name);

// Writes 3-channel RGB pixels as a baseline JPEG (quality 95, 4:2:0, no two-pass). True when the
// whole file was written.
bool write_jpeg(const char* path, const uint8_t* rgb, int32_t width, int32_t height, int32_t quality);

}  // namespace kavrel::media
