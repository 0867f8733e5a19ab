#include "sim/device/video/stream_catalog.h"

#include <cjson/cJSON.h>

#include <memory>

#include "sim/device/video/sound_loop.h"

namespace sim::device::video {
namespace {

constexpr int kMainWidth = 1280, kMainHeight = 720;
constexpr uint8_t kCodeD1 = 0, kCodeCif = 3, kCode720p = 17;
constexpr int kMainKbps = 2048, kExtraKbps = 768, kCifKbps = 384, kMosaicKbps = 1024;
constexpr uint8_t kCompressionH264 = 1;

struct Size {
  int width, height;
};

Size extra_size(const Settings& s) {
  int lines = s.video_standard != 0 ? 480 : 576;
  return s.video.extra_cif ? Size{352, lines / 2} : Size{704, lines};
}

int extra_kbps(const Settings& s) { return s.video.extra_cif ? kCifKbps : kExtraKbps; }

// Split count and grid of a multi-channel preview type.
struct Split {
  int count, columns, rows;
};
Split split_of(uint32_t type) {
  switch (type) {
    case 6: return {1, 1, 1};
    case 7: return {4, 2, 2};
    case 8: return {8, 3, 3};
    case 9: return {9, 3, 3};
    case 10: return {16, 4, 4};
    case 11: return {6, 3, 2};
    case 12: return {12, 4, 3};
    case 13: return {25, 5, 5};
    default: return {32, 6, 6};
  }
}

using Json = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

cJSON* stream_json(bool enabled, int width, int height, int kbps) {
  cJSON* stream = cJSON_CreateObject();
  cJSON_AddBoolToObject(stream, "video_enable", enabled);
  cJSON_AddBoolToObject(stream, "audio_enable", enabled);  // every channel's streams carry its tone
  cJSON* video = cJSON_AddObjectToObject(stream, "video");
  cJSON_AddStringToObject(video, "codec", "H.264");
  cJSON_AddNumberToObject(video, "width", width);
  cJSON_AddNumberToObject(video, "height", height);
  cJSON_AddNumberToObject(video, "fps", kFramesPerSecond);
  cJSON_AddNumberToObject(video, "bit_rate_kbps", kbps);
  cJSON_AddStringToObject(video, "bit_rate_control", "cbr");
  cJSON_AddNumberToObject(video, "quality", 4);
  cJSON_AddNumberToObject(video, "gop", kKeyInterval);
  return stream;
}

std::string print(const Json& root) {
  char* text = cJSON_PrintUnformatted(root.get());
  std::string out = text != nullptr ? text : "";
  cJSON_free(text);
  return out;
}

}  // namespace

std::string channel_title(const Settings& settings, int channel) {
  if (channel >= 0 && static_cast<size_t>(channel) < settings.video.channel_names.size() &&
      !settings.video.channel_names[static_cast<size_t>(channel)].empty()) {
    return settings.video.channel_names[static_cast<size_t>(channel)];
  }
  return "Canal " + std::to_string(channel + 1);
}

bool is_ptz_channel(const Settings& settings, int channel) {
  return channel >= 0 && static_cast<size_t>(channel) < settings.video.ptz.size() &&
         settings.video.ptz[static_cast<size_t>(channel)];
}

proto::ChannelConfig channel_config(const Settings& settings, int channel) {
  proto::ChannelConfig c;
  c.name = channel_title(settings, channel);
  c.main = {kCode720p, kFramesPerSecond, kMainKbps, kKeyInterval, 1, kCompressionH264};
  c.extra = {settings.video.extra_cif ? kCodeCif : kCodeD1, kFramesPerSecond, static_cast<uint16_t>(extra_kbps(settings)),
             kKeyInterval, 1, kCompressionH264};
  return c;
}

int32_t named_config(const Settings& settings, const std::string& name, int32_t channel, std::string& text) {
  if (name != "Encode" && name != "devVideoInput.getCaps") return proto::status::not_supported;
  if (channel < 0 || channel >= settings.channels) return proto::status::invalid_parameter;
  Json root(cJSON_CreateObject(), cJSON_Delete);
  cJSON_AddStringToObject(root.get(), "name", name.c_str());
  cJSON_AddNumberToObject(root.get(), "channel", channel);
  if (name == "Encode") {
    cJSON_AddStringToObject(root.get(), "title", channel_title(settings, channel).c_str());
    cJSON_AddItemToObject(root.get(), "main", stream_json(true, kMainWidth, kMainHeight, kMainKbps));
    cJSON* extra = cJSON_AddArrayToObject(root.get(), "extra");
    Size e = extra_size(settings);
    cJSON_AddItemToArray(extra, stream_json(true, e.width, e.height, extra_kbps(settings)));
    cJSON_AddItemToArray(extra, stream_json(false, 352, e.height / 2, kCifKbps));
  } else {
    cJSON* caps = cJSON_AddObjectToObject(root.get(), "caps");
    cJSON_AddNumberToObject(caps, "sensors", 1);
    cJSON_AddBoolToObject(caps, "fisheye", settings.video.fisheye && settings.channels == 1);
    cJSON_AddNumberToObject(caps, "max_width", kMainWidth);
    cJSON_AddNumberToObject(caps, "max_height", kMainHeight);
    cJSON_AddBoolToObject(caps, "electric_focus", false);
    cJSON_AddBoolToObject(caps, "backlight", true);
  }
  text = print(root);
  return proto::status::ok;
}

int32_t stream_spec(const Settings& settings, int32_t channel, uint32_t real_play_type, StreamKey& key,
                    StreamSpec& spec) {
  if (real_play_type != kRealPlayMain && real_play_type != kRealPlayExtra &&
      (real_play_type < kRealPlayMultiFirst || real_play_type > kRealPlayMultiLast)) {
    return proto::status::not_supported;
  }
  if (channel < 0 || channel >= settings.channels) return proto::status::invalid_parameter;
  const bool fisheye = settings.video.fisheye && settings.channels == 1;
  spec = StreamSpec{};
  spec.scene.cell = {channel_title(settings, channel), channel};
  spec.scene.kind = fisheye ? SceneSpec::Kind::fisheye : SceneSpec::Kind::street;
  key = {channel, real_play_type};
  if (real_play_type == kRealPlayMain) {
    spec.scene.width = kMainWidth;
    spec.scene.height = kMainHeight;
    spec.bit_rate = kMainKbps * 1000;
  } else {
    Size e = extra_size(settings);
    spec.scene.width = e.width;
    spec.scene.height = e.height;
    spec.bit_rate = (real_play_type == kRealPlayExtra ? extra_kbps(settings) : kMosaicKbps) * 1000;
    if (real_play_type == kRealPlayExtra && e.width == 352) spec.bit_rate = kCifKbps * 1000;
  }
  if (real_play_type >= kRealPlayMultiFirst) {
    spec.scene.width = 704;
    spec.scene.height = settings.video_standard != 0 ? 480 : 576;
    Split split = split_of(real_play_type);
    if (split.count > 1) {
      // Every channel's preview of this split is one stream.
      key = {0, real_play_type};
      spec.scene.kind = SceneSpec::Kind::mosaic;
      spec.scene.columns = split.columns;
      spec.scene.rows = split.rows;
      for (int i = 0; i < split.count; ++i)
        spec.scene.cells.push_back({i < settings.channels ? channel_title(settings, i) : std::string(), i});
    }
  }
  if (spec.scene.kind != SceneSpec::Kind::mosaic) {
    spec.tone_hz = channel_tone_hz(channel);
    spec.scene.ptz = spec.scene.kind == SceneSpec::Kind::street && is_ptz_channel(settings, channel);
  }
  if (spec.scene.kind == SceneSpec::Kind::fisheye) {
    FisheyeLens lens = fisheye_lens(spec.scene.width, spec.scene.height);
    proto::LensInfo info;
    info.correction_mode = 1;
    info.radius = static_cast<uint16_t>(lens.radius * 8192 / spec.scene.width);
    info.center_x = static_cast<uint16_t>(lens.center_x * 8192 / spec.scene.width);
    info.center_y = static_cast<uint16_t>(lens.center_y * 8192 / spec.scene.height);
    info.width_ratio = spec.scene.width;
    info.height_ratio = spec.scene.height;
    info.gain = 50;
    info.denoise_level = 0;
    info.installation_style = 1;
    spec.lens = info;
  }
  return proto::status::ok;
}

}  // namespace sim::device::video
