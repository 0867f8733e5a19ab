#include "devsdk/proto/messages.h"

namespace proto {
namespace {

constexpr size_t kMaxShortText = 64;  // addresses, serials, versions

void put_time(Writer& w, const Time& t) {
  w.u16(t.year).u8(t.month).u8(t.day).u8(t.hour).u8(t.minute).u8(t.second);
}

Time get_time(Reader& r) {
  Time t;
  t.year = r.u16();
  t.month = r.u8();
  t.day = r.u8();
  t.hour = r.u8();
  t.minute = r.u8();
  t.second = r.u8();
  return t;
}

void put_entries(Writer& w, const std::vector<IoEntry>& entries) {
  size_t n = entries.size() > kMaxIoEntries ? kMaxIoEntries : entries.size();
  w.u16(static_cast<uint16_t>(n));
  for (size_t i = 0; i < n; ++i) w.u16(entries[i].number).u16(entries[i].state);
}

bool get_entries(Reader& r, std::vector<IoEntry>& entries) {
  size_t n = r.u16();
  if (!r.ok() || n > kMaxIoEntries || r.remaining() < n * 4) return false;
  entries.resize(n);
  for (auto& e : entries) {
    e.number = r.u16();
    e.state = r.u16();
  }
  return r.ok();
}

}  // namespace

std::vector<uint8_t> encode(const LoginRequest& m) {
  Writer w;
  w.u32(m.login_mode).text(m.user).text(m.password).text(m.client_name);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, LoginRequest& m) {
  Reader r(payload);
  m.login_mode = r.u32();
  m.user = r.text(kMaxUserBytes);
  m.password = r.text(kMaxPasswordBytes);
  m.client_name = r.text(kMaxNameBytes);
  return r.ok();
}

std::vector<uint8_t> encode(const LoginReply& m) {
  Writer w;
  w.u32(m.session_token).text(m.serial).u8(m.channels).u8(m.alarm_inputs).u8(m.alarm_outputs).u8(m.disks).u8(
      m.device_type);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, LoginReply& m) {
  Reader r(payload);
  m.session_token = r.u32();
  m.serial = r.text(kMaxShortText);
  m.channels = r.u8();
  m.alarm_inputs = r.u8();
  m.alarm_outputs = r.u8();
  m.disks = r.u8();
  m.device_type = r.u8();
  return r.ok();
}

std::vector<uint8_t> encode(const ConfigRequest& m) {
  Writer w;
  w.u32(m.command).i32(m.channel);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, ConfigRequest& m) {
  Reader r(payload);
  m.command = r.u32();
  m.channel = r.i32();
  return r.ok();
}

std::vector<uint8_t> encode(const DeviceConfig& m) {
  Writer w;
  w.text(m.serial).text(m.name).text(m.model).text(m.software_version);
  w.u8(m.device_type).u8(m.channels).u8(m.alarm_inputs).u8(m.alarm_outputs).u8(m.disks);
  w.u8(m.multi_preview).u8(m.video_standard);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, DeviceConfig& m) {
  Reader r(payload);
  m.serial = r.text(kMaxShortText);
  m.name = r.text(kMaxNameBytes);
  m.model = r.text(kMaxNameBytes);
  m.software_version = r.text(kMaxShortText);
  m.device_type = r.u8();
  m.channels = r.u8();
  m.alarm_inputs = r.u8();
  m.alarm_outputs = r.u8();
  m.disks = r.u8();
  m.multi_preview = r.u8();
  m.video_standard = r.u8();
  return r.ok();
}

std::vector<uint8_t> encode(const NetworkConfig& m) {
  Writer w;
  w.text(m.host_name).u16(m.tcp_port).u16(m.udp_port).u16(m.http_port).u16(m.https_port).u16(m.max_connections);
  w.text(m.address).text(m.netmask).text(m.gateway).text(m.mac);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, NetworkConfig& m) {
  Reader r(payload);
  m.host_name = r.text(kMaxShortText);
  m.tcp_port = r.u16();
  m.udp_port = r.u16();
  m.http_port = r.u16();
  m.https_port = r.u16();
  m.max_connections = r.u16();
  m.address = r.text(kMaxShortText);
  m.netmask = r.text(kMaxShortText);
  m.gateway = r.text(kMaxShortText);
  m.mac = r.text(kMaxShortText);
  return r.ok();
}

namespace {

void put_stream(Writer& w, const StreamSettings& s) {
  w.u8(s.resolution).u8(s.frame_rate).u16(s.bit_rate_kbps).u16(s.gop).u8(s.video_enable).u8(s.compression);
}

StreamSettings get_stream(Reader& r) {
  StreamSettings s;
  s.resolution = r.u8();
  s.frame_rate = r.u8();
  s.bit_rate_kbps = r.u16();
  s.gop = r.u16();
  s.video_enable = r.u8();
  s.compression = r.u8();
  return s;
}

}  // namespace

std::vector<uint8_t> encode(const ChannelConfig& m) {
  Writer w;
  w.text(m.name);
  put_stream(w, m.main);
  put_stream(w, m.extra);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, ChannelConfig& m) {
  Reader r(payload);
  m.name = r.text(kMaxNameBytes);
  m.main = get_stream(r);
  m.extra = get_stream(r);
  return r.ok();
}

std::vector<uint8_t> encode(const NamedConfigRequest& m) {
  Writer w;
  w.text(m.name).i32(m.channel);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, NamedConfigRequest& m) {
  Reader r(payload);
  m.name = r.text(kMaxNameBytes);
  m.channel = r.i32();
  return r.ok() && !m.name.empty();
}

std::vector<uint8_t> encode(const NamedConfigReply& m) {
  Writer w;
  w.text(m.text);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, NamedConfigReply& m) {
  Reader r(payload);
  m.text = r.text(kMaxNamedConfigBytes);
  return r.ok();
}

std::vector<uint8_t> encode(const LensInfo& m) {
  Writer w;
  w.u8(m.correction_mode).u16(m.radius).u16(m.center_x).u16(m.center_y).i32(m.width_ratio).i32(m.height_ratio);
  w.u8(m.gain).u8(m.denoise_level).u8(m.installation_style);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, LensInfo& m) {
  Reader r(payload);
  m.correction_mode = r.u8();
  m.radius = r.u16();
  m.center_x = r.u16();
  m.center_y = r.u16();
  m.width_ratio = r.i32();
  m.height_ratio = r.i32();
  m.gain = r.u8();
  m.denoise_level = r.u8();
  m.installation_style = r.u8();
  return r.ok();
}

std::vector<uint8_t> encode(const IoRequest& m) {
  Writer w;
  w.u32(m.io_type);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, IoRequest& m) {
  Reader r(payload);
  m.io_type = r.u32();
  return r.ok();
}

std::vector<uint8_t> encode(const IoStates& m) {
  Writer w;
  put_entries(w, m.entries);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, IoStates& m) {
  Reader r(payload);
  return get_entries(r, m.entries);
}

std::vector<uint8_t> encode(const IoControl& m) {
  Writer w;
  w.u32(m.io_type);
  put_entries(w, m.entries);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, IoControl& m) {
  Reader r(payload);
  m.io_type = r.u32();
  return get_entries(r, m.entries);
}

std::vector<uint8_t> encode(const BindRequest& m) {
  Writer w;
  w.u32(m.session_token).u32(m.purpose).i32(m.channel).u32(m.stream);
  put_time(w, m.start);
  put_time(w, m.end);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, BindRequest& m) {
  Reader r(payload);
  m.session_token = r.u32();
  m.purpose = r.u32();
  m.channel = r.i32();
  m.stream = r.u32();
  m.start = get_time(r);
  m.end = get_time(r);
  return r.ok();
}

std::vector<uint8_t> encode(const MediaFrame& m) {
  Writer w;
  w.u64(m.timestamp_ms).u8(m.kind).u8(m.codec).u16(m.width).u16(m.height);
  w.bytes(m.data.data(), m.data.size());
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, MediaFrame& m) {
  Reader r(payload);
  m.timestamp_ms = r.u64();
  m.kind = r.u8();
  m.codec = r.u8();
  m.width = r.u16();
  m.height = r.u16();
  if (!r.ok()) return false;
  m.data = r.rest();  // the frame takes the rest of the payload
  return m.kind >= kFrameVideoKey && m.kind <= kFrameLens;
}

bool decode(const std::vector<uint8_t>& payload, MediaFrameView& m) {
  Reader r(payload);
  m.timestamp_ms = r.u64();
  m.kind = r.u8();
  m.codec = r.u8();
  m.width = r.u16();
  m.height = r.u16();
  if (!r.ok()) return false;
  m.size = r.remaining();
  m.data = payload.data() + (payload.size() - m.size);
  return m.kind >= kFrameVideoKey && m.kind <= kFrameLens;
}

std::vector<uint8_t> encode(const StreamEnd& m) {
  Writer w;
  w.u32(m.reason);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, StreamEnd& m) {
  Reader r(payload);
  m.reason = r.u32();
  return r.ok();
}

std::vector<uint8_t> encode(const AlarmEvent& m) {
  Writer w;
  w.u32(m.kind).i32(m.channel).u8(m.state);
  put_time(w, m.time);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, AlarmEvent& m) {
  Reader r(payload);
  m.kind = r.u32();
  m.channel = r.i32();
  m.state = r.u8();
  m.time = get_time(r);
  return r.ok();
}

std::vector<uint8_t> encode(const RecordStreamInfo& m) {
  Writer w;
  w.u32(m.total_kib).u32(m.frames);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, RecordStreamInfo& m) {
  Reader r(payload);
  m.total_kib = r.u32();
  m.frames = r.u32();
  return r.ok();
}

std::vector<uint8_t> encode(const RecordQuery& m) {
  Writer w;
  w.i32(m.channel).u32(m.record_type);
  put_time(w, m.start);
  put_time(w, m.end);
  w.u32(m.most);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, RecordQuery& m) {
  Reader r(payload);
  m.channel = r.i32();
  m.record_type = r.u32();
  m.start = get_time(r);
  m.end = get_time(r);
  m.most = r.u32();
  return r.ok();
}

std::vector<uint8_t> encode(const RecordList& m) {
  Writer w;
  size_t n = m.files.size() > kMaxRecordFiles ? kMaxRecordFiles : m.files.size();
  w.u16(static_cast<uint16_t>(n));
  for (size_t i = 0; i < n; ++i) {
    const RecordFile& f = m.files[i];
    w.text(std::string_view(f.name).substr(0, kMaxRecordNameBytes));
    w.u32(f.size_kib).u32(f.frames);
    put_time(w, f.start);
    put_time(w, f.end);
    w.u8(f.record_type);
  }
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, RecordList& m) {
  Reader r(payload);
  size_t n = r.u16();
  // Every file takes at least 25 bytes: a count that cannot fit is refused before allocating.
  if (!r.ok() || n > kMaxRecordFiles || r.remaining() < n * 25) return false;
  m.files.resize(n);
  for (auto& f : m.files) {
    f.name = r.text(kMaxRecordNameBytes);
    f.size_kib = r.u32();
    f.frames = r.u32();
    f.start = get_time(r);
    f.end = get_time(r);
    f.record_type = r.u8();
  }
  return r.ok();
}

std::vector<uint8_t> encode(const RecordMonthQuery& m) {
  Writer w;
  w.i32(m.channel).u32(m.record_type).u16(m.year).u8(m.month);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, RecordMonthQuery& m) {
  Reader r(payload);
  m.channel = r.i32();
  m.record_type = r.u32();
  m.year = r.u16();
  m.month = r.u8();
  return r.ok();
}

std::vector<uint8_t> encode(const RecordMonth& m) {
  Writer w;
  w.u32(m.day_mask);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, RecordMonth& m) {
  Reader r(payload);
  m.day_mask = r.u32();
  return r.ok();
}

std::vector<uint8_t> encode(const StreamControl& m) {
  Writer w;
  w.u32(m.operation).i32(m.value);
  return w.take();
}

bool decode(const std::vector<uint8_t>& payload, StreamControl& m) {
  Reader r(payload);
  m.operation = r.u32();
  m.value = r.i32();
  return r.ok();
}

std::vector<uint8_t> request_bytes(Type type, uint32_t request_id, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> out;
  Header h;
  h.type = static_cast<uint16_t>(type);
  h.request_id = request_id;
  append_message(out, h, payload);
  return out;
}

std::vector<uint8_t> reply_bytes(Type type, uint32_t request_id, int32_t status,
                                 const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> out;
  Header h;
  h.type = static_cast<uint16_t>(type);
  h.flags = kFlagReply;
  h.request_id = request_id;
  h.status = status;
  append_message(out, h, payload);
  return out;
}

std::vector<uint8_t> push_bytes(Type type, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> out;
  Header h;
  h.type = static_cast<uint16_t>(type);
  h.flags = kFlagPush;
  append_message(out, h, payload);
  return out;
}

}  // namespace proto
