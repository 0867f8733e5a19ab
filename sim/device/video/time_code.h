// The band at the bottom of every simulated picture and the time code drawn into it.
//
// The band is the picture's last two macroblock rows (32 lines). At its left sit 48 blocks, two
// rows of 24, each black (0) or white (1): the capture time in milliseconds modulo 2^40 (bits 47
// to 8, most significant first, row by row) and a CRC-8 of those 40 bits (bits 7 to 0). The
// blocks are 16 lines high and width * 12 / 704 pixels wide, so they survive scaling down to a
// small window; a reader samples the centre of each block in the scaled picture. To their right
// the band shows the device's wall clock as text.
#pragma once

#include <cstdint>

namespace sim::device::video {

inline constexpr int kBandLines = 32;
inline constexpr int kTimeCodeBits = 48;

struct BandLayout {
  int width = 0;       // of the stream's picture
  int height = 0;
  int band_top = 0;    // first line of the band
  int block_width = 0;
  int block_left = 0;  // x of the first block
  int text_left = 0;   // x where the clock text starts
};

// The layout for a picture of width x height (both multiples of 16, height at least 48).
BandLayout band_layout(int width, int height);

// The 48 bits for a capture time.
uint64_t time_code_bits(uint64_t capture_ms);

// Luma values of the blocks and of the band's ground.
inline constexpr uint8_t kBlockBlack = 16;
inline constexpr uint8_t kBlockWhite = 235;
inline constexpr uint8_t kBandGround = 60;

// Draws the blocks into the band's luma plane (`band_luma` is the band's first line).
void draw_time_code(uint8_t* band_luma, int stride, const BandLayout& layout, uint64_t capture_ms);

// Reads the time code from a 32-bit picture (blue, green, red, unused; rows top-down) that shows
// the whole stream picture of stream_width x stream_height scaled to width x height. The capture
// time is the one nearest to `near_ms` with the code's 40 bits. False when the check fails.
bool read_time_code(const uint8_t* pixels, int stride, int width, int height, int stream_width,
                    int stream_height, uint64_t near_ms, uint64_t* capture_ms);

}  // namespace sim::device::video
