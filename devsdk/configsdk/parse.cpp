// CLIENT_ParseData: the named configuration texts into their records.
#include <cjson/cJSON.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#include "devsdk/configsdk/configsdk.h"

static_assert(sizeof(CFG_ENCODE_INFO) == 1968);
static_assert(offsetof(CFG_ENCODE_INFO, main.video.width) == 96 && offsetof(CFG_ENCODE_INFO, main.video.height) == 100);
static_assert(offsetof(CFG_ENCODE_INFO, extra[0].video.width) == 420 &&
              offsetof(CFG_ENCODE_INFO, extra[0].video.height) == 424);
static_assert(sizeof(CFG_VIDEOINPUT_CAPS) == 24 && offsetof(CFG_VIDEOINPUT_CAPS, fisheye) == 4);

namespace {

using Json = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

// A number member as a 32-bit integer: absent or not a number gives `fallback`, and values
// beyond the 32-bit range are held at its ends.
int32_t int_of(const cJSON* object, const char* key, int32_t fallback = 0) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, key);
  if (cJSON_IsBool(item)) return cJSON_IsTrue(item) ? 1 : 0;
  if (!cJSON_IsNumber(item)) return fallback;
  double v = item->valuedouble;
  if (!(v == v)) return fallback;  // NaN
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

void read_stream(const cJSON* stream, CFG_STREAM_FORMAT& out) {
  if (!cJSON_IsObject(stream)) return;
  out.video_enable = int_of(stream, "video_enable");
  out.audio_enable = int_of(stream, "audio_enable");
  const cJSON* video = cJSON_GetObjectItemCaseSensitive(stream, "video");
  if (!cJSON_IsObject(video)) return;
  const cJSON* codec = cJSON_GetObjectItemCaseSensitive(video, "codec");
  out.video.compression = cJSON_IsString(codec) && std::strcmp(codec->valuestring, "H.264") == 0 ? 1 : 0;
  const cJSON* control = cJSON_GetObjectItemCaseSensitive(video, "bit_rate_control");
  out.video.bit_rate_control = cJSON_IsString(control) && std::strcmp(control->valuestring, "vbr") == 0 ? 1 : 0;
  out.video.frame_rate = int_of(video, "fps");
  out.video.quality = int_of(video, "quality");
  out.video.width = int_of(video, "width");
  out.video.height = int_of(video, "height");
  out.video.bit_rate_kbps = int_of(video, "bit_rate_kbps");
  out.video.gop = int_of(video, "gop");
}

bool parse_encode(const cJSON* root, CFG_ENCODE_INFO& out) {
  const cJSON* main = cJSON_GetObjectItemCaseSensitive(root, "main");
  if (!cJSON_IsObject(main)) return false;
  out.channel = int_of(root, "channel");
  const cJSON* title = cJSON_GetObjectItemCaseSensitive(root, "title");
  if (cJSON_IsString(title)) {
    size_t n = std::strlen(title->valuestring);
    if (n > sizeof out.name - 1) n = sizeof out.name - 1;
    std::memcpy(out.name, title->valuestring, n);
  }
  read_stream(main, out.main);
  const cJSON* extra = cJSON_GetObjectItemCaseSensitive(root, "extra");
  int i = 0;
  const cJSON* stream;
  cJSON_ArrayForEach(stream, extra) {
    if (i >= 3) break;
    read_stream(stream, out.extra[i++]);
  }
  return true;
}

bool parse_caps(const cJSON* root, CFG_VIDEOINPUT_CAPS& out) {
  const cJSON* caps = cJSON_GetObjectItemCaseSensitive(root, "caps");
  if (!cJSON_IsObject(caps)) return false;
  out.sensors = int_of(caps, "sensors");
  out.fisheye = int_of(caps, "fisheye");
  out.max_width = int_of(caps, "max_width");
  out.max_height = int_of(caps, "max_height");
  out.electric_focus = int_of(caps, "electric_focus");
  out.backlight = int_of(caps, "backlight");
  return true;
}

}  // namespace

extern "C" {

CFG_BOOL CLIENT_ParseData(const char* command, const char* text, void* out, uint32_t out_size, void* reserved) {
  if (command == nullptr || text == nullptr || out == nullptr || reserved != nullptr) return 0;
  const bool encode = std::strcmp(command, CFG_CMD_ENCODE) == 0;
  const bool caps = std::strcmp(command, CFG_CAP_VIDEOINPUT) == 0;
  if (!encode && !caps) return 0;
  if (out_size < (encode ? sizeof(CFG_ENCODE_INFO) : sizeof(CFG_VIDEOINPUT_CAPS))) return 0;
  Json root(cJSON_Parse(text), cJSON_Delete);
  if (root == nullptr || !cJSON_IsObject(root.get())) return 0;
  // A text names the configuration it holds; another configuration's text does not parse.
  const cJSON* name = cJSON_GetObjectItemCaseSensitive(root.get(), "name");
  if (!cJSON_IsString(name) || std::strcmp(name->valuestring, command) != 0) return 0;
  if (encode) {
    CFG_ENCODE_INFO record;
    std::memset(&record, 0, sizeof record);
    if (!parse_encode(root.get(), record)) return 0;
    std::memcpy(out, &record, sizeof record);
  } else {
    CFG_VIDEOINPUT_CAPS record;
    std::memset(&record, 0, sizeof record);
    if (!parse_caps(root.get(), record)) return 0;
    std::memcpy(out, &record, sizeof record);
  }
  return 1;
}

}  // extern "C"
