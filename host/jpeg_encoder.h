// JPEG compression of surface pictures for the page: libjpeg-turbo straight from BGRX pixels
// (no conversion pass), 4:2:0 chroma, the fast integer DCT, Huffman tables not optimised.
//
// One encoder is used by one thread at a time; it keeps its compressor between pictures.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace host {

class JpegEncoder {
 public:
  explicit JpegEncoder(int quality = 80);
  ~JpegEncoder();
  JpegEncoder(const JpegEncoder&) = delete;
  JpegEncoder& operator=(const JpegEncoder&) = delete;

  // Appends the JPEG of a BGRX rectangle (top-down, `stride` bytes per row; the fourth byte of
  // each pixel is ignored) to `out`. False when the picture is empty or the library fails; `out`
  // then holds what it held before.
  bool encode(const uint8_t* pixels, int width, int height, int stride, std::vector<uint8_t>* out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace host
