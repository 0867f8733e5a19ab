#include "sim/device/fixture_devices.h"

#include <cjson/cJSON.h>

#include <ctime>
#include <memory>
#include <optional>

#include "devsdk/proto/messages.h"
#include "devsdk/proto/search.h"
#include "sim/device/alarms/alarm_settings_json.h"
#include "platform/json/json_integer.h"
#include "sim/device/recordings/recordings_json.h"
#include "sim/fixture/fixture.h"

namespace sim::device {
namespace {

using Json = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

std::string text_of(const cJSON* object, const char* key, const std::string& fallback) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, key);
  return cJSON_IsString(item) && item->valuestring != nullptr ? std::string(item->valuestring) : fallback;
}

bool flag_of(const cJSON* object, const char* key, bool fallback) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, key);
  return cJSON_IsBool(item) ? cJSON_IsTrue(item) : fallback;
}

// A member that must be an integer from `low` to `high` when present; `value` is left alone
// when it is absent.
template <class Int>
bool integer_of(const cJSON* object, const char* key, long long low, long long high, Int& value, std::string& error,
                const std::string& where) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, key);
  if (item == nullptr) return true;
  std::optional<long long> v = platform::json_integer<long long>(item);
  if (!v || *v < low || *v > high) {
    error = where + ": \"device\".\"" + key + "\" must be an integer from " + std::to_string(low) + " to " +
            std::to_string(high);
    return false;
  }
  value = static_cast<Int>(*v);
  return true;
}

bool states_of(const cJSON* object, const char* key, std::vector<uint16_t>& states, std::string& error,
               const std::string& where) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, key);
  if (item == nullptr) return true;
  if (cJSON_IsNumber(item)) {  // a count of open outputs or inputs
    size_t n = 0;
    if (!integer_of(object, key, 0, 255, n, error, where)) return false;
    states.assign(n, 0);
    return true;
  }
  if (!cJSON_IsArray(item) || cJSON_GetArraySize(item) > 255) {
    error = where + ": \"" + key + "\" must be a count or an array of at most 255 states";
    return false;
  }
  states.clear();
  const cJSON* s;
  cJSON_ArrayForEach(s, item) states.push_back(cJSON_IsNumber(s) && s->valuedouble != 0 ? 1 : 0);
  return true;
}

bool video_of(const cJSON* d, VideoSettings& video, int channels, std::string& error, const std::string& where) {
  const cJSON* fisheye = cJSON_GetObjectItemCaseSensitive(d, "fisheye");
  if (fisheye != nullptr) {
    if (!cJSON_IsBool(fisheye)) {
      error = where + ": \"device\".\"fisheye\" must be true or false";
      return false;
    }
    video.fisheye = cJSON_IsTrue(fisheye);
    if (video.fisheye && channels != 1) {
      error = where + ": only a one-channel camera can be a fisheye camera";
      return false;
    }
  }
  std::string extra = text_of(d, "extra_stream", video.extra_cif ? "cif" : "d1");
  if (extra != "d1" && extra != "cif") {
    error = where + ": \"device\".\"extra_stream\" must be \"d1\" or \"cif\"";
    return false;
  }
  video.extra_cif = extra == "cif";
  if (const cJSON* names = cJSON_GetObjectItemCaseSensitive(d, "channel_names")) {
    if (!cJSON_IsArray(names)) {
      error = where + ": \"device\".\"channel_names\" must be an array of strings";
      return false;
    }
    video.channel_names.clear();
    const cJSON* n;
    cJSON_ArrayForEach(n, names) video.channel_names.push_back(cJSON_IsString(n) ? n->valuestring : "");
  }
  return true;
}

bool fault_of(const cJSON* object, Fault& fault, std::string& error, const std::string& where) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, "fault");
  if (item == nullptr) return true;
  std::string kind = text_of(item, "kind", "none");
  std::string on = text_of(item, "on", "any");
  if (kind == "none") fault.kind = FaultKind::none;
  else if (kind == "drop") fault.kind = FaultKind::drop;
  else if (kind == "stall") fault.kind = FaultKind::stall;
  else if (kind == "garbage") fault.kind = FaultKind::garbage;
  else if (kind == "oversized") fault.kind = FaultKind::oversized;
  else {
    error = where + ": unknown fault kind \"" + kind + "\"";
    return false;
  }
  struct Named {
    const char* name;
    proto::Type type;
  };
  static const Named kTypes[] = {{"login", proto::Type::login},         {"logout", proto::Type::logout},
                                 {"keepalive", proto::Type::keepalive}, {"get_config", proto::Type::get_config},
                                 {"io_state", proto::Type::io_state},   {"io_control", proto::Type::io_control},
                                 {"record_query", proto::Type::record_query},
                                 {"record_month", proto::Type::record_month}};
  if (on == "any") {
    fault.on_type = 0;
    return true;
  }
  for (const auto& t : kTypes) {
    if (on == t.name) {
      fault.on_type = static_cast<uint16_t>(t.type);
      return true;
    }
  }
  error = where + ": unknown fault trigger \"" + on + "\"";
  return false;
}

// Applies the simulator's own "device" object over the settings taken from the device entry.
bool apply_device_object(const cJSON* d, FixtureDevice& fd, std::string& error, const std::string& where) {
  Settings& s = fd.settings;
  if (!integer_of(d, "channel_count", 0, 255, s.channels, error, where)) return false;
  if (const cJSON* users = cJSON_GetObjectItemCaseSensitive(d, "users")) {
    if (!cJSON_IsArray(users)) {
      error = where + ": \"device\".\"users\" must be an array";
      return false;
    }
    s.users.clear();
    const cJSON* u;
    cJSON_ArrayForEach(u, users) {
      User user;
      user.name = text_of(u, "user", "");
      user.password = text_of(u, "password", "");
      user.locked = flag_of(u, "locked", false);
      user.blacklisted = flag_of(u, "blacklisted", false);
      user.exclusive = flag_of(u, "exclusive", false);
      if (user.name.empty()) {
        error = where + ": a device user needs a \"user\"";
        return false;
      }
      s.users.push_back(user);
    }
  }
  if (!integer_of(d, "max_connections", 0, 65535, s.max_connections, error, where)) return false;
  if (!states_of(d, "alarm_inputs", s.alarm_inputs, error, where)) return false;
  if (!states_of(d, "alarm_outputs", s.alarm_outputs, error, where)) return false;
  s.name = text_of(d, "name", s.name);
  s.model = text_of(d, "model", s.model);
  s.serial = text_of(d, "serial", s.serial);
  s.software_version = text_of(d, "software_version", s.software_version);
  if (!integer_of(d, "tcp_port", 0, 65535, s.tcp_port, error, where) ||
      !integer_of(d, "http_port", 0, 65535, s.http_port, error, where) ||
      !integer_of(d, "https_port", 0, 65535, s.https_port, error, where) ||
      !integer_of(d, "listen_port", 0, 65535, s.listen_port, error, where) ||
      !integer_of(d, "login_error", 0, 10, s.login_error, error, where) ||
      !integer_of(d, "multi_preview", 0, 255, s.multi_preview, error, where)) {
    return false;
  }
  uint8_t standard = s.video_standard;
  if (!integer_of(d, "video_standard", 0, 255, standard, error, where)) return false;
  s.video_standard = standard != 0 ? 1 : 0;
  if (!video_of(d, s.video, s.channels, error, where)) return false;
  if (const cJSON* recordings = cJSON_GetObjectItemCaseSensitive(d, "recordings")) {
    std::vector<RecordSpan> spans;
    if (!recordings::read_recordings(recordings, time(nullptr), spans, error, where)) return false;
    s.recordings = std::move(spans);
  }
  if (!integer_of(d, "discovery_port", 0, 65535, s.discovery_port, error, where)) return false;
  if (!alarm_settings_of(d, s.alarms, error, where)) return false;
  return fault_of(d, s.fault, error, where);
}

// The simulator settings of one fixture device: its entry first, then its own "device" object.
bool read_device(const sim::fixture::Account& account, const sim::fixture::Device& dev, FixtureDevice& fd,
                 std::string& error) {
  std::string where = "device \"" + dev.dev_id + "\"";
  Settings& s = fd.settings;
  s.dev_id = dev.dev_id;
  s.users = {User{dev.dev_user, dev.dev_pass}};
  s.name = dev.name;
  if (!dev.model.empty()) s.model = dev.model;
  fd.online = dev.online;
  fd.dev_port = static_cast<uint16_t>(dev.dev_port);
  fd.dev_http_port = static_cast<uint16_t>(dev.dev_http_port);
  s.tcp_port = fd.dev_port;
  s.http_port = fd.dev_http_port;
  s.discovery_port = proto::kDefaultDiscoveryPort;  // fixture devices answer the LAN search
  // The fixture reader has settled the channel count (given, from the channel list, or one above
  // the highest camera channel).
  if (dev.channel_count > 255) {
    error = where + ": the simulator runs 0 to 255 channels";
    return false;
  }
  s.channels = dev.channel_count;
  // The cameras' names are drawn into their channels' pictures.
  for (const sim::fixture::Camera* cam : account.all_cameras()) {
    if (cam->devid != dev.dev_id) continue;
    auto channel = static_cast<size_t>(cam->chlid);
    if (s.video.channel_names.size() <= channel) s.video.channel_names.resize(channel + 1);
    s.video.channel_names[channel] = cam->name;
    if (cam->ptz != 0) {
      if (s.video.ptz.size() <= channel) s.video.ptz.resize(channel + 1);
      s.video.ptz[channel] = true;
    }
  }
  if (dev.device_json.empty()) return true;
  Json d(cJSON_Parse(dev.device_json.c_str()), cJSON_Delete);
  return d != nullptr && apply_device_object(d.get(), fd, error, where);
}

}  // namespace

bool fixture_devices(const sim::fixture::Fixture& fixture, std::vector<FixtureDevice>& out, std::string& error) {
  out.clear();
  for (const auto& account : fixture.accounts) {
    for (const auto& dev : account.devices) {
      // A device listed by two accounts is one device: the first entry describes it.
      bool known = false;
      for (const auto& other : out) known = known || other.settings.dev_id == dev.dev_id;
      if (known) continue;
      FixtureDevice fd;
      if (!read_device(account, dev, fd, error)) return false;
      out.push_back(std::move(fd));
    }
  }
  return true;
}

bool parse_fixture_devices(const std::string& json, std::vector<FixtureDevice>& out, std::string& error) {
  sim::fixture::Fixture fixture;
  return sim::fixture::parse(json, fixture, error) && fixture_devices(fixture, out, error);
}

bool load_fixture_devices(const std::string& path, std::vector<FixtureDevice>& out, std::string& error) {
  sim::fixture::Fixture fixture;
  return sim::fixture::load_file(path, fixture, error) && fixture_devices(fixture, out, error);
}

}  // namespace sim::device
