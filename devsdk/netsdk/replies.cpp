#include "devsdk/netsdk/replies.h"

#include <cstddef>
#include <cstring>
#include <string>

namespace netsdk {

static_assert(sizeof(NET_DEVICEINFO) == 64);
static_assert(offsetof(NET_DEVICEINFO, alarm_inputs) == 48 && offsetof(NET_DEVICEINFO, alarm_outputs) == 49 &&
              offsetof(NET_DEVICEINFO, channels) == 52);
static_assert(sizeof(NET_DEVICE_CONFIG) == 212);
static_assert(offsetof(NET_DEVICE_CONFIG, name) == 149 && offsetof(NET_DEVICE_CONFIG, multi_preview) == 181 &&
              offsetof(NET_DEVICE_CONFIG, video_standard) == 204);
static_assert(sizeof(NET_NETWORK_CONFIG) == 1852);
static_assert(offsetof(NET_NETWORK_CONFIG, tcp_port) == 22 && offsetof(NET_NETWORK_CONFIG, http_port) == 26 &&
              offsetof(NET_NETWORK_CONFIG, https_port) == 28);
static_assert(sizeof(NET_IO_STATE) == 4);
static_assert(sizeof(NET_CHANNEL_CONFIG) == 340);
static_assert(sizeof(NET_TIME) == 24);
static_assert(sizeof(NET_RECORDFILE_INFO) == 196);
static_assert(offsetof(NET_RECORDFILE_INFO, file_name) == 4 && offsetof(NET_RECORDFILE_INFO, size) == 132 &&
              offsetof(NET_RECORDFILE_INFO, start) == 136 && offsetof(NET_RECORDFILE_INFO, end) == 160 &&
              offsetof(NET_RECORDFILE_INFO, record_type) == 192);
static_assert(sizeof(NET_RECORD_STATUS) == 96);
static_assert(offsetof(NET_CHANNEL_CONFIG, main[0].resolution) == 40 &&
              offsetof(NET_CHANNEL_CONFIG, extra[0].resolution) == 112);

namespace {

// Copies text into a fixed field, cut to leave room for the NUL.
template <size_t N>
void put_text(char (&field)[N], const std::string& text) {
  size_t n = text.size() < N - 1 ? text.size() : N - 1;
  memcpy(field, text.data(), n);
  field[n] = 0;
}

}  // namespace

void fill_device_info(const proto::LoginReply& reply, NET_DEVICEINFO* info) {
  memset(info, 0, sizeof *info);
  put_text(info->serial, reply.serial);
  info->alarm_inputs = reply.alarm_inputs;
  info->alarm_outputs = reply.alarm_outputs;
  info->disks = reply.disks;
  info->device_type = reply.device_type;
  info->channels = reply.channels;
}

uint32_t config_block_size(uint32_t command) {
  switch (command) {
    case NET_DEV_DEVICECFG:
      return sizeof(NET_DEVICE_CONFIG);
    case NET_DEV_NETCFG:
      return sizeof(NET_NETWORK_CONFIG);
    case NET_DEV_CHANNELCFG:
      return sizeof(NET_CHANNEL_CONFIG);
    default:
      return 0;
  }
}

bool fill_config_block(uint32_t command, const std::vector<uint8_t>& payload, void* buffer, uint32_t size) {
  uint32_t need = config_block_size(command);
  if (need == 0 || size < need) return false;
  if (command == NET_DEV_DEVICECFG) {
    proto::DeviceConfig c;
    if (!proto::decode(payload, c)) return false;
    NET_DEVICE_CONFIG block;
    memset(&block, 0, sizeof block);
    block.size = sizeof block;
    put_text(block.serial, c.serial);
    block.device_type = c.device_type;
    block.channels = c.channels;
    block.alarm_inputs = c.alarm_inputs;
    block.alarm_outputs = c.alarm_outputs;
    block.disks = c.disks;
    put_text(block.software_version, c.software_version);
    put_text(block.model, c.model);
    put_text(block.name, c.name);
    block.multi_preview = c.multi_preview;
    block.video_standard = c.video_standard;
    memcpy(buffer, &block, sizeof block);
    return true;
  }
  if (command == NET_DEV_CHANNELCFG) {
    proto::ChannelConfig c;
    if (!proto::decode(payload, c)) return false;
    NET_CHANNEL_CONFIG block;
    memset(&block, 0, sizeof block);
    block.size = sizeof block;
    put_text(block.name, c.name);
    auto put_stream = [](NET_STREAM_FORMAT& f, const proto::StreamSettings& s) {
      f.video_enable = s.video_enable;
      f.resolution = s.resolution;
      f.frame_rate = s.frame_rate;
      f.compression = s.compression;
      f.quality = 4;
      f.bit_rate_kbps = s.bit_rate_kbps;
      f.gop = s.gop;
    };
    put_stream(block.main[0], c.main);
    put_stream(block.extra[0], c.extra);
    memcpy(buffer, &block, sizeof block);
    return true;
  }
  proto::NetworkConfig c;
  if (!proto::decode(payload, c)) return false;
  NET_NETWORK_CONFIG block;
  memset(&block, 0, sizeof block);
  block.size = sizeof block;
  put_text(block.host_name, c.host_name);
  block.max_connections = c.max_connections;
  block.tcp_port = c.tcp_port;
  block.udp_port = c.udp_port;
  block.http_port = c.http_port;
  block.https_port = c.https_port;
  block.ethernet_count = 1;
  put_text(block.ethernet[0].address, c.address);
  put_text(block.ethernet[0].netmask, c.netmask);
  put_text(block.ethernet[0].gateway, c.gateway);
  put_text(block.ethernet[0].mac, c.mac);
  memcpy(buffer, &block, sizeof block);
  return true;
}

int fill_io_states(const std::vector<uint8_t>& payload, void* buffer, uint32_t size) {
  proto::IoStates states;
  if (!proto::decode(payload, states)) return -1;
  size_t fit = size / sizeof(NET_IO_STATE);
  size_t n = states.entries.size() < fit ? states.entries.size() : fit;
  auto* out = static_cast<uint8_t*>(buffer);
  for (size_t i = 0; i < n; ++i) {
    NET_IO_STATE e{states.entries[i].number, states.entries[i].state};
    memcpy(out + i * sizeof e, &e, sizeof e);
  }
  return static_cast<int>(n);
}

namespace {

NET_TIME net_time(const proto::Time& t) {
  return NET_TIME{t.year, t.month, t.day, t.hour, t.minute, t.second};
}

}  // namespace

int fill_record_files(const std::vector<uint8_t>& payload, int32_t channel, NET_RECORDFILE_INFO* buffer,
                      size_t capacity) {
  proto::RecordList list;
  if (!proto::decode(payload, list) || list.files.size() > capacity) return -1;
  for (size_t i = 0; i < list.files.size(); ++i) {
    const proto::RecordFile& f = list.files[i];
    NET_RECORDFILE_INFO info;
    memset(&info, 0, sizeof info);
    info.channel = static_cast<uint32_t>(channel);
    put_text(info.file_name, f.name);
    info.frame_count = f.frames;
    info.size = f.size_kib;
    info.start = net_time(f.start);
    info.end = net_time(f.end);
    info.record_type = f.record_type;
    memcpy(&buffer[i], &info, sizeof info);
  }
  return static_cast<int>(list.files.size());
}

bool fill_record_status(const std::vector<uint8_t>& payload, NET_RECORD_STATUS* status) {
  proto::RecordMonth month;
  if (!proto::decode(payload, month)) return false;
  memset(status, 0, sizeof *status);
  for (int day = 0; day < 31; ++day) status->day_flags[day] = (month.day_mask >> day) & 1u;
  return true;
}

int32_t login_error_from_status(int32_t status) {
  if (status >= proto::status::login_wrong_password && status <= proto::status::login_too_many_connections)
    return status;
  return NET_LOGIN_MAIN_CONNECTION_FAILED;  // a reply that is not a login answer
}

uint32_t last_error_from_login_error(int32_t login_error) {
  switch (login_error) {
    case NET_LOGIN_WRONG_PASSWORD:
      return NET_ERR_LOGIN_ERROR_PASSWORD;
    case NET_LOGIN_NO_SUCH_USER:
      return NET_ERR_LOGIN_ERROR_USER;
    case NET_LOGIN_TIMEOUT:
      return NET_ERR_LOGIN_ERROR_TIMEOUT;
    case NET_LOGIN_ALREADY_LOGGED_IN:
      return NET_ERR_LOGIN_ERROR_RELOGGIN;
    case NET_LOGIN_LOCKED:
      return NET_ERR_LOGIN_ERROR_LOCKED;
    case NET_LOGIN_BLACKLISTED:
      return NET_ERR_LOGIN_ERROR_BLACKLIST;
    case NET_LOGIN_BUSY:
    case NET_LOGIN_TOO_MANY_CONNECTIONS:
      return NET_ERR_LOGIN_ERROR_BUSY;
    case NET_LOGIN_SUB_CONNECTION_FAILED:
      return NET_ERR_LOGIN_ERROR_NETWORK;
    default:
      return NET_ERR_LOGIN_ERROR_CONNECT;
  }
}

uint32_t last_error_from_status(int32_t status) {
  switch (status) {
    case proto::status::ok:
      return 0;
    case proto::status::bad_request:
    case proto::status::invalid_parameter:
      return NET_ERR_ILLEGAL_PARAM;
    case proto::status::unknown_type:
    case proto::status::not_supported:
      return NET_ERR_NOT_SUPPORTED;
    case proto::status::not_logged_in:
      return NET_ERR_INVALID_HANDLE;
    case proto::status::busy:
      return NET_ERR_CONFIG_DEVBUSY;
    case proto::status::no_record:
      return NET_ERR_NO_RECORD_FOUND;
    default:
      return NET_ERR_RETURN_DATA_ERROR;
  }
}

}  // namespace netsdk
