#include "devsdk/proto/search.h"

#include "devsdk/proto/wire.h"

namespace proto {
namespace {

void put_head(Writer& w, uint8_t type) { w.u32(kSearchMagic).u8(kVersion).u8(type); }

bool read_head(Reader& r, uint8_t type) {
  uint32_t magic = r.u32();
  uint8_t version = r.u8();
  uint8_t kind = r.u8();
  return r.ok() && magic == kSearchMagic && version == kVersion && kind == type;
}

}  // namespace

std::vector<uint8_t> encode(const SearchRequest& m) {
  Writer w;
  put_head(w, kSearchRequest);
  w.u32(m.nonce);
  return w.take();
}

std::vector<uint8_t> encode(const SearchAnswer& m) {
  Writer w;
  put_head(w, kSearchAnswer);
  w.u32(m.nonce)
      .text(m.serial.substr(0, kMaxSearchSerialBytes))
      .text(m.ip.substr(0, kMaxSearchTextBytes))
      .u16(m.port)
      .u16(m.http_port)
      .text(m.model.substr(0, kMaxSearchTextBytes))
      .text(m.name.substr(0, kMaxSearchTextBytes))
      .text(m.mac.substr(0, kMaxSearchMacBytes));
  return w.take();
}

bool decode_search(const uint8_t* data, size_t length, SearchRequest& m) {
  if (length > kMaxSearchDatagram) return false;
  Reader r(data, length);
  if (!read_head(r, kSearchRequest)) return false;
  m.nonce = r.u32();
  return r.ok();
}

bool decode_search(const uint8_t* data, size_t length, SearchAnswer& m) {
  if (length > kMaxSearchDatagram) return false;
  Reader r(data, length);
  if (!read_head(r, kSearchAnswer)) return false;
  m.nonce = r.u32();
  m.serial = r.text(kMaxSearchSerialBytes);
  m.ip = r.text(kMaxSearchTextBytes);
  m.port = r.u16();
  m.http_port = r.u16();
  m.model = r.text(kMaxSearchTextBytes);
  m.name = r.text(kMaxSearchTextBytes);
  m.mac = r.text(kMaxSearchMacBytes);
  return r.ok();
}

}  // namespace proto
