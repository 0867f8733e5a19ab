// The device wire protocol's message types, statuses and payloads (README.md beside this file).
//
// Each payload has an encode, which returns its bytes, and a decode, which is false when the
// bytes do not hold the fields in full or a field breaks its limit. Decoders never read past
// the payload and accept bytes after the last field they know.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devsdk/proto/wire.h"

namespace proto {

enum class Type : uint16_t {
  // Control connection: the connection that logs in.
  login = 0x0001,
  logout = 0x0002,
  keepalive = 0x0003,
  get_config = 0x0010,
  set_config = 0x0011,        // reserved
  get_named_config = 0x0012,  // named configuration texts and capabilities
  io_state = 0x0020,
  io_control = 0x0021,
  ptz_control = 0x0030,       // reserved
  record_query = 0x0040,      // the recorded files of a channel in a span
  record_month = 0x0041,      // the days of a month with recordings
  alarm_subscribe = 0x0050,   // reserved
  alarm_unsubscribe = 0x0051, // reserved
  alarm_event = 0x0052,       // reserved: push
  // Stream connections: opened later and bound to a logged-in control session.
  bind = 0x0100,
  media_frame = 0x0101,       // push
  stream_end = 0x0102,        // push
  stream_control = 0x0103,    // pause, resume and speed of a playback
  talk_audio = 0x0104,        // reserved: push from the client
};

// Reply statuses. A login reply carries 0 or a login error code 1 to 10 (the numbers the
// application sees); every other reply carries 0 or one of the codes from 0x100 on.
namespace status {
inline constexpr int32_t ok = 0;
inline constexpr int32_t login_wrong_password = 1;
inline constexpr int32_t login_no_such_user = 2;
inline constexpr int32_t login_timeout = 3;
inline constexpr int32_t login_already_logged_in = 4;
inline constexpr int32_t login_locked = 5;
inline constexpr int32_t login_blacklisted = 6;
inline constexpr int32_t login_busy = 7;
inline constexpr int32_t login_sub_connection_failed = 8;
inline constexpr int32_t login_main_connection_failed = 9;
inline constexpr int32_t login_too_many_connections = 10;
inline constexpr int32_t bad_request = 0x100;     // payload could not be decoded
inline constexpr int32_t unknown_type = 0x101;    // message type not known to the device
inline constexpr int32_t not_logged_in = 0x102;   // no login on this connection, or a bad token
inline constexpr int32_t not_supported = 0x103;   // known type, unsupported command or purpose
inline constexpr int32_t busy = 0x104;
inline constexpr int32_t invalid_parameter = 0x105;  // e.g. a channel or output out of range
inline constexpr int32_t no_record = 0x106;
}  // namespace status

// Field limits shared by both ends.
inline constexpr size_t kMaxUserBytes = 255;
inline constexpr size_t kMaxPasswordBytes = 255;
inline constexpr size_t kMaxNameBytes = 255;
inline constexpr size_t kMaxIoEntries = 256;

// Configuration commands of get_config.
inline constexpr uint32_t kConfigDevice = 1;
inline constexpr uint32_t kConfigNetwork = 2;
inline constexpr uint32_t kConfigChannel = 3;

// I/O kinds of io_state and io_control.
inline constexpr uint32_t kIoAlarmInput = 1;   // state only
inline constexpr uint32_t kIoAlarmOutput = 2;

struct LoginRequest {
  uint32_t login_mode = 0;
  std::string user;
  std::string password;
  std::string client_name;
};

struct LoginReply {
  uint32_t session_token = 0;  // binds stream connections to this login
  std::string serial;
  uint8_t channels = 0;
  uint8_t alarm_inputs = 0;
  uint8_t alarm_outputs = 0;
  uint8_t disks = 0;
  uint8_t device_type = 0;
};

struct ConfigRequest {
  uint32_t command = 0;
  int32_t channel = -1;
};

struct DeviceConfig {
  std::string serial;
  std::string name;
  std::string model;
  std::string software_version;
  uint8_t device_type = 0;
  uint8_t channels = 0;
  uint8_t alarm_inputs = 0;
  uint8_t alarm_outputs = 0;
  uint8_t disks = 0;
  uint8_t multi_preview = 0;   // split count of the multi-channel preview stream (1, 4, 8, 16, 32)
  uint8_t video_standard = 0;  // 0 PAL, 1 NTSC
};

// One stream's settings in a channel configuration.
struct StreamSettings {
  uint8_t resolution = 0;  // resolution code (netsdk.h)
  uint8_t frame_rate = 0;
  uint16_t bit_rate_kbps = 0;
  uint16_t gop = 0;
  uint8_t video_enable = 0;
  uint8_t compression = 0;  // 1 H.264
};

struct ChannelConfig {
  std::string name;
  StreamSettings main;
  StreamSettings extra;
};

// A named configuration text or capability ("Encode", "devVideoInput.getCaps").
struct NamedConfigRequest {
  std::string name;
  int32_t channel = 0;
};

struct NamedConfigReply {
  std::string text;  // at most kMaxNamedConfigBytes
};
inline constexpr size_t kMaxNamedConfigBytes = 65535;

struct NetworkConfig {
  std::string host_name;
  uint16_t tcp_port = 0;
  uint16_t udp_port = 0;
  uint16_t http_port = 0;
  uint16_t https_port = 0;
  uint16_t max_connections = 0;
  std::string address;
  std::string netmask;
  std::string gateway;
  std::string mac;
};

struct IoEntry {
  uint16_t number = 0;  // the input's or output's number, from 0
  uint16_t state = 0;   // non-zero: closed (active)
};

struct IoRequest {
  uint32_t io_type = 0;
};

struct IoStates {
  std::vector<IoEntry> entries;
};

struct IoControl {
  uint32_t io_type = 0;
  std::vector<IoEntry> entries;  // entry i sets output i
};

// A point in device-local wall-clock time.
struct Time {
  uint16_t year = 0;
  uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Stream purposes of a bind.
inline constexpr uint32_t kBindLive = 1;
inline constexpr uint32_t kBindPlayback = 2;
inline constexpr uint32_t kBindDownload = 3;
inline constexpr uint32_t kBindTalk = 4;

struct BindRequest {
  uint32_t session_token = 0;
  uint32_t purpose = 0;
  int32_t channel = 0;
  uint32_t stream = 0;  // live: the stream type; playback and download: the record type
  Time start;
  Time end;
};

// What the device answers to a playback or download bind: the size of the span's stream, so the
// client can tell progress.
struct RecordStreamInfo {
  uint32_t total_kib = 0;  // the media frames of the span, in KiB (header and frame bytes)
  uint32_t frames = 0;     // media frames the span holds
};

// Record queries (control connection). Record type 0 asks for every type.
struct RecordQuery {
  int32_t channel = 0;
  uint32_t record_type = 0;
  Time start;
  Time end;
  uint32_t most = 0;  // files wanted at most; the device sends at most kMaxRecordFiles
};

inline constexpr size_t kMaxRecordFiles = 1000;
inline constexpr size_t kMaxRecordNameBytes = 123;

struct RecordFile {
  std::string name;  // at most kMaxRecordNameBytes
  uint32_t size_kib = 0;
  uint32_t frames = 0;
  Time start;
  Time end;
  uint8_t record_type = 0;  // 0 regular, 1 alarm, 2 motion, 3 card
};

struct RecordList {
  std::vector<RecordFile> files;  // in time order, at most kMaxRecordFiles
};

struct RecordMonthQuery {
  int32_t channel = 0;
  uint32_t record_type = 0;
  uint16_t year = 0;
  uint8_t month = 0;
};

struct RecordMonth {
  uint32_t day_mask = 0;  // bit i: day i + 1 holds recordings
};

// Operations of stream_control on a playback connection.
inline constexpr uint32_t kStreamPause = 1;  // value 1 pause, 0 resume
inline constexpr uint32_t kStreamSpeed = 2;  // value -3..3: speed 2^value (1/8 to 8)
inline constexpr int32_t kMinSpeedStep = -3;
inline constexpr int32_t kMaxSpeedStep = 3;

struct StreamControl {
  uint32_t operation = 0;
  int32_t value = 0;
};

// Frame kinds and codecs of media_frame.
inline constexpr uint8_t kFrameVideoKey = 1;
inline constexpr uint8_t kFrameVideoDelta = 2;
inline constexpr uint8_t kFrameAudio = 3;
inline constexpr uint8_t kFrameLens = 4;  // a fisheye lens's geometry (LensInfo), codec 0
inline constexpr uint8_t kCodecH264 = 1;
inline constexpr uint8_t kCodecG711A = 2;

struct MediaFrame {
  uint64_t timestamp_ms = 0;
  uint8_t kind = 0;
  uint8_t codec = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  std::vector<uint8_t> data;
};

// A media_frame read in place: its data points into the payload it was decoded from.
struct MediaFrameView {
  uint64_t timestamp_ms = 0;
  uint8_t kind = 0;
  uint8_t codec = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// The data of a kFrameLens frame: the lens circle in 1/8192 of the picture's width (centre X,
// radius) and height (centre Y), and the picture's proportions.
struct LensInfo {
  uint8_t correction_mode = 0;
  uint16_t radius = 0;
  uint16_t center_x = 0;
  uint16_t center_y = 0;
  int32_t width_ratio = 0;
  int32_t height_ratio = 0;
  uint8_t gain = 0;
  uint8_t denoise_level = 0;
  uint8_t installation_style = 0;  // 1 ceiling, 2 wall, 3 floor
};

struct StreamEnd {
  uint32_t reason = 0;  // 0 end of the recording, 1 stopped by the device, 2 error
};

struct AlarmEvent {
  uint32_t kind = 0;
  int32_t channel = 0;
  uint8_t state = 0;
  Time time;
};

std::vector<uint8_t> encode(const LoginRequest& m);
std::vector<uint8_t> encode(const LoginReply& m);
std::vector<uint8_t> encode(const ConfigRequest& m);
std::vector<uint8_t> encode(const DeviceConfig& m);
std::vector<uint8_t> encode(const NetworkConfig& m);
std::vector<uint8_t> encode(const ChannelConfig& m);
std::vector<uint8_t> encode(const NamedConfigRequest& m);
std::vector<uint8_t> encode(const NamedConfigReply& m);
std::vector<uint8_t> encode(const LensInfo& m);
std::vector<uint8_t> encode(const IoRequest& m);
std::vector<uint8_t> encode(const IoStates& m);
std::vector<uint8_t> encode(const IoControl& m);
std::vector<uint8_t> encode(const BindRequest& m);
std::vector<uint8_t> encode(const MediaFrame& m);
std::vector<uint8_t> encode(const StreamEnd& m);
std::vector<uint8_t> encode(const AlarmEvent& m);
std::vector<uint8_t> encode(const RecordStreamInfo& m);
std::vector<uint8_t> encode(const RecordQuery& m);
std::vector<uint8_t> encode(const RecordList& m);
std::vector<uint8_t> encode(const RecordMonthQuery& m);
std::vector<uint8_t> encode(const RecordMonth& m);
std::vector<uint8_t> encode(const StreamControl& m);

bool decode(const std::vector<uint8_t>& payload, LoginRequest& m);
bool decode(const std::vector<uint8_t>& payload, LoginReply& m);
bool decode(const std::vector<uint8_t>& payload, ConfigRequest& m);
bool decode(const std::vector<uint8_t>& payload, DeviceConfig& m);
bool decode(const std::vector<uint8_t>& payload, NetworkConfig& m);
bool decode(const std::vector<uint8_t>& payload, ChannelConfig& m);
bool decode(const std::vector<uint8_t>& payload, NamedConfigRequest& m);
bool decode(const std::vector<uint8_t>& payload, NamedConfigReply& m);
bool decode(const std::vector<uint8_t>& payload, LensInfo& m);
bool decode(const std::vector<uint8_t>& payload, IoRequest& m);
bool decode(const std::vector<uint8_t>& payload, IoStates& m);
bool decode(const std::vector<uint8_t>& payload, IoControl& m);
bool decode(const std::vector<uint8_t>& payload, BindRequest& m);
bool decode(const std::vector<uint8_t>& payload, MediaFrame& m);
bool decode(const std::vector<uint8_t>& payload, MediaFrameView& m);
bool decode(const std::vector<uint8_t>& payload, StreamEnd& m);
bool decode(const std::vector<uint8_t>& payload, AlarmEvent& m);
bool decode(const std::vector<uint8_t>& payload, RecordStreamInfo& m);
bool decode(const std::vector<uint8_t>& payload, RecordQuery& m);
bool decode(const std::vector<uint8_t>& payload, RecordList& m);
bool decode(const std::vector<uint8_t>& payload, RecordMonthQuery& m);
bool decode(const std::vector<uint8_t>& payload, RecordMonth& m);
bool decode(const std::vector<uint8_t>& payload, StreamControl& m);

// A whole message: header fields and an encoded payload.
std::vector<uint8_t> request_bytes(Type type, uint32_t request_id, const std::vector<uint8_t>& payload);
std::vector<uint8_t> reply_bytes(Type type, uint32_t request_id, int32_t status,
                                 const std::vector<uint8_t>& payload);
std::vector<uint8_t> push_bytes(Type type, const std::vector<uint8_t>& payload);

}  // namespace proto
