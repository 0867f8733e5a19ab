#include "sim/device/video/band_slice.h"

namespace sim::device::video {
namespace {

constexpr uint32_t kPcmInIntraSlice = 25;      // mb_type I_PCM in an I slice
constexpr uint32_t kPcmInPredictedSlice = 30;  // the same in a P slice (5 + 25)
constexpr uint8_t kFlatChroma = 128;

}  // namespace

void append_band_slice(std::vector<uint8_t>& out, const PictureFacts& picture, const SpsFacts& sps,
                       const PpsFacts& pps, uint32_t first_mb, const BandSamples& band) {
  BitWriter w;
  w.data().reserve(band.width_mbs * band.rows_mbs * 390 + 32);
  // The header repeats what all slices of a picture share.
  w.ue(first_mb);
  w.ue(picture.slice_type);
  w.ue(pps.id);
  w.u(static_cast<int>(sps.log2_max_frame_num), picture.frame_num);
  if (picture.idr()) w.ue(picture.idr_pic_id);
  if (sps.poc_type == 0) {
    w.u(static_cast<int>(sps.log2_max_poc_lsb), picture.poc_lsb);
    if (pps.bottom_field_pic_order) w.se(picture.poc_bottom_delta);
  }
  if (pps.redundant_pic_cnt) w.ue(0);
  if (picture.predicted()) {
    w.u(1, 0);  // no num_ref_idx override
    w.u(1, 0);  // no reference list modification
  }
  for (uint8_t bit : picture.marking_bits) w.u(1, bit);
  w.se(0);                              // slice_qp_delta
  if (pps.deblocking_control) w.ue(1);  // no deblocking across the band

  const uint32_t mb_type = picture.predicted() ? kPcmInPredictedSlice : kPcmInIntraSlice;
  uint8_t samples[384];
  for (uint32_t row = 0; row < band.rows_mbs; ++row) {
    for (uint32_t col = 0; col < band.width_mbs; ++col) {
      if (picture.predicted()) w.ue(0);  // mb_skip_run
      w.ue(mb_type);
      w.align_zero();
      const uint8_t* src = band.luma + static_cast<size_t>(row) * 16 * band.stride + col * 16;
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) samples[y * 16 + x] = src[static_cast<size_t>(y) * band.stride + x];
      for (int i = 256; i < 384; ++i) samples[i] = kFlatChroma;
      w.bytes(samples, sizeof samples);
    }
  }
  w.trailing_bits();
  append_nal(out, picture.nal_header, w.data());
}

}  // namespace sim::device::video
