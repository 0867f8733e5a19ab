#include "streamconv/annex_b.h"

namespace streamconv {
namespace {

// Offset of the first byte after the next start code at or after `from`, or `size`.
size_t after_start_code(const uint8_t* data, size_t size, size_t from) {
  for (size_t i = from; i + 3 <= size; ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i + 3;
  }
  return size;
}

}  // namespace

std::vector<NalView> split_annex_b(const uint8_t* data, size_t size) {
  std::vector<NalView> units;
  size_t begin = after_start_code(data, size, 0);
  while (begin < size) {
    size_t next = after_start_code(data, size, begin);
    size_t end = next == size ? size : next - 3;
    // The zero bytes in front of a start code (a 4-byte code's leading zero, trailing zeros) are
    // not part of the unit.
    while (end > begin && data[end - 1] == 0) --end;
    if (end > begin) units.push_back(NalView{data + begin, end - begin});
    begin = next;
  }
  return units;
}

std::vector<uint8_t> parameter_sets_of(const uint8_t* data, size_t size) {
  const NalView* sps = nullptr;
  const NalView* pps = nullptr;
  std::vector<NalView> units = split_annex_b(data, size);
  for (const NalView& unit : units) {
    if (unit.type() == kNalSps && sps == nullptr) sps = &unit;
    if (unit.type() == kNalPps && pps == nullptr) pps = &unit;
  }
  // Header byte, profile, constraint flags and level: what the avcC record copies from the SPS.
  if (sps == nullptr || pps == nullptr || sps->size < 4) return {};
  static const uint8_t kStartCode[4] = {0, 0, 0, 1};
  std::vector<uint8_t> out;
  out.reserve(8 + sps->size + pps->size);
  out.insert(out.end(), kStartCode, kStartCode + 4);
  out.insert(out.end(), sps->data, sps->data + sps->size);
  out.insert(out.end(), kStartCode, kStartCode + 4);
  out.insert(out.end(), pps->data, pps->data + pps->size);
  return out;
}

}  // namespace streamconv
