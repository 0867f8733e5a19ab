#include "brixa/live/resolution.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "brixa/core/client_registry.h"
#include "brixa/core/sdk_errors.h"
#include "brixa/sdk/sdk.h"
#include "devsdk/configsdk/configsdk.h"
#include "trace/trace.h"

namespace brixa::live {
namespace {

constexpr ImageSize kSizes[] = {
    {704, 576},   {352, 576},   {704, 288},   {352, 288},   {176, 144},   {640, 480},   {320, 240},
    {480, 480},   {160, 128},   {800, 592},   {1024, 768},  {1280, 800},  {1280, 1024}, {1600, 1024},
    {1600, 1200}, {1920, 1200}, {240, 192},   {1280, 720},  {1920, 1080}, {1280, 960},  {1872, 1408},
    {3744, 1408}, {2048, 1536}, {2432, 2050}, {1216, 1024}, {1408, 1024}, {3296, 2472}, {2560, 1920},
    {960, 576},   {960, 720},   {0, 0},       {960, 1080},
};

const char* const kNamedConfigErrors[] = {"Failed", "Illegal data", "Temporarily not available", "Not authorized"};

void store(device_session* s, int32_t chl, ImageSize size) {
  trace::value("width", size.width);
  trace::value("height", size.height);
  s->live.channel_width[chl] = size.width;
  s->live.channel_height[chl] = size.height;
}

// The legacy configuration blocks; true when both were read and gave a positive size.
bool read_legacy_size(device_session* s, int32_t chl, int32_t stream_id) {
  NET_DEVICE_CONFIG device;
  memset(&device, 0, sizeof device);
  device.size = sizeof device;
  uint32_t returned = 0;
  if (!NET_GetDevConfig(s->login_handle, NET_DEV_DEVICECFG, -1, &device, sizeof device, &returned, 5000)) {
    trace_netsdk_error("brixa_get_channel_resolution", 296, "NET_GetDevConfig DeviceCfg (296)");
    return false;
  }
  NET_CHANNEL_CONFIG channel;
  memset(&channel, 0, sizeof channel);
  channel.size = sizeof channel;
  if (!NET_GetDevConfig(s->login_handle, NET_DEV_CHANNELCFG, chl, &channel, sizeof channel, &returned, 3000)) {
    trace_netsdk_error("brixa_get_channel_resolution", 290, "NET_GetDevConfig ChannelCfg (290)");
    return false;
  }
  uint8_t code = stream_id == 1 ? channel.extra[0].resolution : channel.main[0].resolution;
  ImageSize size = get_image_size(code, device.video_standard);
  store(s, chl, size);
  return size.width > 0 && size.height > 0;
}

void read_named_size(device_session* s, int32_t chl, int32_t stream_id) {
  s->live.prefer_named_encode_config = 1;
  constexpr uint32_t kTextBytes = 32768;
  std::unique_ptr<char[]> text(new char[kTextBytes]());
  int32_t error = 0;
  if (!NET_GetNewDevConfig(s->login_handle, CFG_CMD_ENCODE, chl, text.get(), kTextBytes, &error, 3000)) {
    s->live.prefer_named_encode_config = 0;
    if (error >= 1 && error <= 4) trace::step(kNamedConfigErrors[error - 1]);
    trace_netsdk_error("brixa_get_channel_resolution", 319, "NET_GetNewDevConfig (319)");
    return;
  }
  CFG_ENCODE_INFO encode;
  memset(&encode, 0, sizeof encode);
  if (!CLIENT_ParseData(CFG_CMD_ENCODE, text.get(), &encode, sizeof encode, nullptr)) return;
  const CFG_VIDEO_FORMAT& video = stream_id == 1 ? encode.extra[0].video : encode.main.video;
  store(s, chl, ImageSize{video.width, video.height});
}

}  // namespace

ImageSize get_image_size(int32_t code, uint8_t video_standard) {
  const bool ntsc = video_standard != 0;
  if (code >= 0 && code <= 4) {
    ImageSize size = kSizes[code];
    if (ntsc) size.height = size.height * 480 / 576;
    return size;
  }
  if (code == 28) return ImageSize{960, ntsc ? 480 : 576};
  if (code >= 5 && code <= 31 && code != 30) return kSizes[code];
  char message[64];
  snprintf(message, sizeof message, "Unrecognized resolution code: %d", code);
  trace::error("get_image_size", 0, message);
  return ImageSize{1, 1};
}

int32_t get_channel_resolution(brixa_handle handle, const char* dev_id, int32_t chl_id, int32_t stream_id,
                               int32_t* width, int32_t* height) {
  trace::enter("brixa_get_channel_resolution");
  trace::value("dev_id", dev_id);
  trace::value("chl_id", chl_id);
  trace::value("stream_id", stream_id);
  int32_t result = BRIXA_ERR_FAILED;
  if (!registry_open()) {
    trace::error("brixa_get_channel_resolution", 248, "Null client map (248)");
    result = BRIXA_ERR_NOT_INITIALISED;
  } else if (width == nullptr || height == nullptr) {
    trace::error("brixa_get_channel_resolution", 254, "Null output pointer (254)");
    result = BRIXA_ERR_NO_SESSION;
  } else {
    result = with_client(handle, [&](brixa_client* client) -> int32_t {
      DeviceListLock list(client->device_list_lock);
      device_session* s = find_logged_in_session(client, dev_id);
      if (s == nullptr) return BRIXA_ERR_NO_SESSION;
      if (!valid_channel(chl_id)) return -4;
      bool usable = !s->live.prefer_named_encode_config && read_legacy_size(s, chl_id, stream_id);
      if (!usable) read_named_size(s, chl_id, stream_id);
      *width = s->live.channel_width[chl_id];
      *height = s->live.channel_height[chl_id];
      return BRIXA_OK;
    });
  }
  trace::leave("brixa_get_channel_resolution");
  return result;
}

}  // namespace brixa::live
