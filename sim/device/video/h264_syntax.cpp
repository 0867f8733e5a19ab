#include "sim/device/video/h264_syntax.h"

namespace sim::device::video {

std::vector<NalUnit> split_annex_b(const uint8_t* data, size_t size) {
  std::vector<NalUnit> out;
  size_t i = 0;
  size_t start = SIZE_MAX;
  while (i + 3 <= size) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
      if (start != SIZE_MAX) {
        size_t end = i;
        while (end > start && data[end - 1] == 0) --end;  // the zero of a four-byte start code
        if (end > start) out.push_back({data + start, end - start});
      }
      i += 3;
      start = i;
      continue;
    }
    ++i;
  }
  if (start != SIZE_MAX && start < size) out.push_back({data + start, size - start});
  return out;
}

std::vector<uint8_t> nal_payload(const NalUnit& nal) {
  std::vector<uint8_t> out;
  out.reserve(nal.size);
  int zeros = 0;
  for (size_t i = 1; i < nal.size; ++i) {
    uint8_t b = nal.data[i];
    if (zeros >= 2 && b == 3) {
      zeros = 0;
      continue;
    }
    zeros = b == 0 ? zeros + 1 : 0;
    out.push_back(b);
  }
  return out;
}

void append_nal(std::vector<uint8_t>& out, uint8_t header, const std::vector<uint8_t>& payload) {
  static const uint8_t kStart[] = {0, 0, 0, 1};
  out.insert(out.end(), kStart, kStart + 4);
  out.push_back(header);
  int zeros = 0;
  for (uint8_t b : payload) {
    if (zeros >= 2 && b <= 3) {
      out.push_back(3);
      zeros = 0;
    }
    out.push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
}

uint32_t BitReader::u(int bits) {
  uint32_t v = 0;
  for (int i = 0; i < bits; ++i) {
    if (pos_ >= size_ * 8) {
      ok_ = false;
      return 0;
    }
    v = (v << 1) | ((data_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1u);
    ++pos_;
  }
  return ok_ ? v : 0;
}

uint32_t BitReader::ue() {
  int zeros = 0;
  while (ok_ && u(1) == 0) {
    if (++zeros > 31) {
      ok_ = false;
      return 0;
    }
  }
  if (!ok_) return 0;
  uint32_t rest = u(zeros);
  return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + rest);
}

int32_t BitReader::se() {
  uint32_t k = ue();
  return (k & 1) ? static_cast<int32_t>((k + 1) / 2) : -static_cast<int32_t>(k / 2);
}

void BitWriter::u(int bits, uint32_t value) {
  for (int i = bits - 1; i >= 0; --i) {
    pending_ = (pending_ << 1) | ((value >> i) & 1u);
    if (++bits_ == 8) {
      data_.push_back(static_cast<uint8_t>(pending_));
      pending_ = 0;
      bits_ = 0;
    }
  }
}

void BitWriter::ue(uint32_t value) {
  uint64_t v = uint64_t{value} + 1;
  int length = 0;
  while ((v >> length) > 1) ++length;
  u(length, 0);
  for (int i = length; i >= 0; --i) u(1, static_cast<uint32_t>((v >> i) & 1u));
}

void BitWriter::se(int32_t value) {
  ue(value > 0 ? static_cast<uint32_t>(2 * value - 1) : static_cast<uint32_t>(-2 * static_cast<int64_t>(value)));
}

void BitWriter::align_zero() {
  while (bits_ != 0) u(1, 0);
}

void BitWriter::bytes(const uint8_t* data, size_t n) { data_.insert(data_.end(), data, data + n); }

void BitWriter::trailing_bits() {
  u(1, 1);
  align_zero();
}

bool parse_sps(const std::vector<uint8_t>& payload, SpsFacts& out) {
  BitReader r(payload);
  uint32_t profile = r.u(8);
  r.u(8);  // constraint flags
  r.u(8);  // level
  out.id = r.ue();
  switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118: case 128: case 138:
    case 139: case 134: case 135: {
      uint32_t chroma = r.ue();
      if (chroma != 1) return false;  // the band writes 4:2:0 samples
      r.ue();  // luma bit depth
      r.ue();  // chroma bit depth
      r.u(1);
      if (r.u(1) != 0) return false;  // scaling matrices
      break;
    }
    default:
      break;
  }
  out.log2_max_frame_num = r.ue() + 4;
  out.poc_type = r.ue();
  if (out.poc_type == 0) out.log2_max_poc_lsb = r.ue() + 4;
  else if (out.poc_type == 1) return false;
  r.ue();   // reference frames
  r.u(1);   // gaps in frame_num
  out.width_mbs = r.ue() + 1;
  out.height_mbs = r.ue() + 1;
  out.frame_mbs_only = r.u(1) != 0;
  return r.ok() && out.frame_mbs_only && out.log2_max_frame_num <= 16 && out.log2_max_poc_lsb <= 16;
}

bool parse_pps(const std::vector<uint8_t>& payload, PpsFacts& out) {
  BitReader r(payload);
  out.id = r.ue();
  out.sps_id = r.ue();
  out.cabac = r.u(1) != 0;
  out.bottom_field_pic_order = r.u(1) != 0;
  if (r.ue() != 0) return false;  // slice groups
  r.ue();
  r.ue();
  out.weighted_pred = r.u(1) != 0;
  r.u(2);
  r.se();
  r.se();
  r.se();
  out.deblocking_control = r.u(1) != 0;
  r.u(1);
  out.redundant_pic_cnt = r.u(1) != 0;
  return r.ok();
}

bool parse_slice_header(const NalUnit& nal, const SpsFacts& sps, const PpsFacts& pps, PictureFacts& out) {
  auto payload = nal_payload(nal);
  BitReader r(payload);
  out.nal_header = nal.data[0];
  out.first_mb = r.ue();
  out.slice_type = r.ue();
  out.pps_id = r.ue();
  if (out.slice_type > 9 || out.slice_type % 5 == 1 || out.slice_type % 5 > 2) return false;  // B, SP, SI
  out.frame_num = r.u(static_cast<int>(sps.log2_max_frame_num));
  if (out.idr()) out.idr_pic_id = r.ue();
  if (sps.poc_type == 0) {
    out.poc_lsb = r.u(static_cast<int>(sps.log2_max_poc_lsb));
    if (pps.bottom_field_pic_order) out.poc_bottom_delta = r.se();
  }
  if (pps.redundant_pic_cnt) r.ue();
  if (out.predicted()) {
    if (r.u(1) != 0) r.ue();  // num_ref_idx_active_override
    if (r.u(1) != 0) {        // ref_pic_list_modification
      for (;;) {
        uint32_t op = r.ue();
        if (op == 3 || !r.ok()) break;
        r.ue();
      }
    }
    if (pps.weighted_pred) return false;
  }
  out.marking_bits.clear();
  if (out.ref_idc() != 0) {
    size_t from = r.position();
    if (out.idr()) {
      r.u(2);
    } else if (r.u(1) != 0) {
      for (;;) {
        uint32_t op = r.ue();
        if (op == 0 || !r.ok()) break;
        if (op == 1 || op == 3) r.ue();
        if (op == 2) r.ue();
        if (op == 3 || op == 6) r.ue();
        if (op == 4) r.ue();
      }
    }
    size_t to = r.position();
    BitReader again(payload);
    for (size_t i = 0; i < from; ++i) again.u(1);
    for (size_t i = from; i < to; ++i) out.marking_bits.push_back(static_cast<uint8_t>(again.u(1)));
  }
  return r.ok();
}

}  // namespace sim::device::video
