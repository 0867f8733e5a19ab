// The little of H.264's bitstream syntax the simulator needs to splice a live band of
// macroblocks into pictures it encoded earlier: NAL units of an Annex B stream, emulation
// prevention, exp-Golomb bit reading and writing, and the parameter-set and slice-header fields
// a further slice of the same picture must repeat.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim::device::video {

// One NAL unit of an Annex B byte stream: from its header byte, start code excluded.
struct NalUnit {
  const uint8_t* data = nullptr;
  size_t size = 0;
  uint8_t type() const { return data[0] & 0x1F; }
  uint8_t ref_idc() const { return (data[0] >> 5) & 0x03; }
};

// The NAL units of an Annex B byte stream in order.
std::vector<NalUnit> split_annex_b(const uint8_t* data, size_t size);

// The raw payload of a NAL unit after its header byte, emulation prevention bytes removed.
std::vector<uint8_t> nal_payload(const NalUnit& nal);
// Appends a start code, the header byte and the escaped payload.
void append_nal(std::vector<uint8_t>& out, uint8_t header, const std::vector<uint8_t>& payload);

class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit BitReader(const std::vector<uint8_t>& v) : BitReader(v.data(), v.size()) {}
  uint32_t u(int bits);
  uint32_t ue();
  int32_t se();
  // False once a read ran past the end; every later read returns 0.
  bool ok() const { return ok_; }
  size_t position() const { return pos_; }  // in bits

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

class BitWriter {
 public:
  void u(int bits, uint32_t value);
  void ue(uint32_t value);
  void se(int32_t value);
  // Zero bits up to the next byte boundary.
  void align_zero();
  // Whole bytes; the writer must be byte aligned.
  void bytes(const uint8_t* data, size_t n);
  // The stop bit and the alignment that end a slice.
  void trailing_bits();
  bool aligned() const { return bits_ == 0; }
  std::vector<uint8_t>& data() { return data_; }

 private:
  std::vector<uint8_t> data_;
  uint32_t pending_ = 0;  // bits not yet in data_, high bits first
  int bits_ = 0;
};

// The fields of a sequence parameter set that a slice header depends on.
struct SpsFacts {
  uint32_t id = 0;
  uint32_t log2_max_frame_num = 4;
  uint32_t poc_type = 0;
  uint32_t log2_max_poc_lsb = 4;
  uint32_t width_mbs = 0;
  uint32_t height_mbs = 0;
  bool frame_mbs_only = true;
};

struct PpsFacts {
  uint32_t id = 0;
  uint32_t sps_id = 0;
  bool cabac = false;
  bool bottom_field_pic_order = false;
  bool weighted_pred = false;
  bool deblocking_control = false;
  bool redundant_pic_cnt = false;
};

// False for syntax this splicing does not handle (scaling matrices, picture order type 1, slice
// groups, interlace).
bool parse_sps(const std::vector<uint8_t>& payload, SpsFacts& out);
bool parse_pps(const std::vector<uint8_t>& payload, PpsFacts& out);

// What every slice of one picture shares, read from one of its slices.
struct PictureFacts {
  uint8_t nal_header = 0;     // nal_ref_idc and nal_unit_type
  uint32_t slice_type = 0;    // as written (0-9)
  uint32_t pps_id = 0;
  uint32_t frame_num = 0;
  uint32_t idr_pic_id = 0;
  uint32_t poc_lsb = 0;
  int32_t poc_bottom_delta = 0;
  // dec_ref_pic_marking() as written, bit for bit.
  std::vector<uint8_t> marking_bits;  // one bit per element
  uint32_t first_mb = 0;
  bool idr() const { return (nal_header & 0x1F) == 5; }
  uint8_t ref_idc() const { return (nal_header >> 5) & 0x03; }
  bool intra() const { return slice_type % 5 == 2; }
  bool predicted() const { return slice_type % 5 == 0; }
};

// Reads a slice header up to the decoded reference marking. False for syntax it does not handle
// (weighted prediction, B slices) or a header that runs short.
bool parse_slice_header(const NalUnit& nal, const SpsFacts& sps, const PpsFacts& pps, PictureFacts& out);

}  // namespace sim::device::video
