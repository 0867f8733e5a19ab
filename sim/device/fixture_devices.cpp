#include "sim/device/fixture_devices.h"

#include <cjson/cJSON.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "devsdk/proto/messages.h"

namespace sim::device {
namespace {

using Json = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

std::string text_of(const cJSON* object, const char* key, const std::string& fallback) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, key);
  return cJSON_IsString(item) && item->valuestring != nullptr ? std::string(item->valuestring) : fallback;
}

bool number_of(const cJSON* object, const char* key, long long& value) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, key);
  if (!cJSON_IsNumber(item)) return false;
  value = static_cast<long long>(item->valuedouble);
  return true;
}

bool flag_of(const cJSON* object, const char* key, bool fallback) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, key);
  return cJSON_IsBool(item) ? cJSON_IsTrue(item) : fallback;
}

// The highest "chlid" of the cameras of `dev_id` anywhere in a camera tree, or -1.
long long highest_channel(const cJSON* node, const std::string& dev_id) {
  long long best = -1;
  const cJSON* cams = cJSON_GetObjectItemCaseSensitive(node, "cams");
  const cJSON* cam;
  cJSON_ArrayForEach(cam, cams) {
    long long ch;
    if (text_of(cam, "devid", "") == dev_id && number_of(cam, "chlid", ch) && ch > best) best = ch;
  }
  const cJSON* groups = cJSON_GetObjectItemCaseSensitive(node, "groups");
  const cJSON* group;
  cJSON_ArrayForEach(group, groups) {
    long long ch = highest_channel(group, dev_id);
    if (ch > best) best = ch;
  }
  return best;
}

// The "name" of each camera of `dev_id` anywhere in a camera tree, by its "chlid".
void camera_names(const cJSON* node, const std::string& dev_id, std::vector<std::string>& names) {
  const cJSON* cams = cJSON_GetObjectItemCaseSensitive(node, "cams");
  const cJSON* cam;
  cJSON_ArrayForEach(cam, cams) {
    long long ch;
    if (text_of(cam, "devid", "") != dev_id || !number_of(cam, "chlid", ch) || ch < 0 || ch > 255) continue;
    if (names.size() <= static_cast<size_t>(ch)) names.resize(static_cast<size_t>(ch) + 1);
    names[static_cast<size_t>(ch)] = text_of(cam, "name", text_of(cam, "id", ""));
  }
  const cJSON* groups = cJSON_GetObjectItemCaseSensitive(node, "groups");
  const cJSON* group;
  cJSON_ArrayForEach(group, groups) camera_names(group, dev_id, names);
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

bool port_of(const cJSON* object, const char* key, uint16_t& port, std::string& error, const std::string& where) {
  long long v;
  if (!number_of(object, key, v)) return true;
  if (v < 0 || v > 65535) {
    error = where + ": \"" + key + "\" is not a port";
    return false;
  }
  port = static_cast<uint16_t>(v);
  return true;
}

bool states_of(const cJSON* object, const char* key, std::vector<uint16_t>& states, std::string& error,
               const std::string& where) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, key);
  if (item == nullptr) return true;
  if (cJSON_IsNumber(item)) {  // a count of open outputs or inputs
    long long n = static_cast<long long>(item->valuedouble);
    if (n < 0 || n > 255) {
      error = where + ": \"" + key + "\" must count 0 to 255";
      return false;
    }
    states.assign(static_cast<size_t>(n), 0);
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
                                 {"io_state", proto::Type::io_state},   {"io_control", proto::Type::io_control}};
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
  if (d == nullptr) return true;
  if (!cJSON_IsObject(d)) {
    error = where + ": \"device\" must be an object";
    return false;
  }
  Settings& s = fd.settings;
  long long v;
  if (number_of(d, "channel_count", v)) {
    if (v < 0 || v > 255) {
      error = where + ": \"device\".\"channel_count\" must be 0 to 255";
      return false;
    }
    s.channels = static_cast<int>(v);
  }
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
  if (number_of(d, "max_connections", v)) s.max_connections = v < 0 ? 0 : static_cast<int>(v);
  if (!states_of(d, "alarm_inputs", s.alarm_inputs, error, where)) return false;
  if (!states_of(d, "alarm_outputs", s.alarm_outputs, error, where)) return false;
  s.name = text_of(d, "name", s.name);
  s.model = text_of(d, "model", s.model);
  s.serial = text_of(d, "serial", s.serial);
  s.software_version = text_of(d, "software_version", s.software_version);
  if (!port_of(d, "tcp_port", s.tcp_port, error, where) || !port_of(d, "http_port", s.http_port, error, where) ||
      !port_of(d, "https_port", s.https_port, error, where) ||
      !port_of(d, "listen_port", s.listen_port, error, where)) {
    return false;
  }
  if (number_of(d, "login_error", v)) {
    if (v < 0 || v > 10) {
      error = where + ": \"device\".\"login_error\" must be 0 to 10";
      return false;
    }
    s.login_error = static_cast<int>(v);
  }
  if (number_of(d, "multi_preview", v)) s.multi_preview = static_cast<uint8_t>(v);
  if (number_of(d, "video_standard", v)) s.video_standard = static_cast<uint8_t>(v != 0);
  if (!video_of(d, s.video, s.channels, error, where)) return false;
  return fault_of(d, s.fault, error, where);
}

bool read_device(const cJSON* account, const cJSON* dev, FixtureDevice& fd, std::string& error) {
  std::string dev_id = text_of(dev, "dev_id", "");
  if (dev_id.empty()) {
    error = "a device without \"dev_id\"";
    return false;
  }
  std::string where = "device \"" + dev_id + "\"";
  Settings& s = fd.settings;
  s.dev_id = dev_id;
  s.users = {User{text_of(dev, "dev_user", "admin"), text_of(dev, "dev_pass", "admin")}};
  s.name = text_of(dev, "name", dev_id);
  s.model = text_of(dev, "model", s.model);
  fd.online = flag_of(dev, "online", true);
  if (!port_of(dev, "dev_port", fd.dev_port, error, where) ||
      !port_of(dev, "dev_http_port", fd.dev_http_port, error, where)) {
    return false;
  }
  s.tcp_port = fd.dev_port;
  s.http_port = fd.dev_http_port;

  long long count;
  const cJSON* channels = cJSON_GetObjectItemCaseSensitive(dev, "channels");
  if (number_of(dev, "channel_count", count)) {
    s.channels = static_cast<int>(count);
  } else if (cJSON_IsArray(channels)) {
    s.channels = cJSON_GetArraySize(channels);
  } else {
    long long highest = highest_channel(cJSON_GetObjectItemCaseSensitive(account, "cameras"), dev_id);
    s.channels = highest >= 0 ? static_cast<int>(highest + 1) : 1;
  }
  if (s.channels < 0 || s.channels > 255) {
    error = where + ": the simulator runs 0 to 255 channels";
    return false;
  }
  // The cameras' names are drawn into their channels' pictures.
  camera_names(cJSON_GetObjectItemCaseSensitive(account, "cameras"), dev_id, s.video.channel_names);
  return apply_device_object(cJSON_GetObjectItemCaseSensitive(dev, "device"), fd, error, where);
}

}  // namespace

bool parse_fixture_devices(const std::string& json, std::vector<FixtureDevice>& out, std::string& error) {
  Json root(cJSON_ParseWithLength(json.data(), json.size()), cJSON_Delete);
  if (root == nullptr || !cJSON_IsObject(root.get())) {
    error = "the fixture is not a JSON object";
    return false;
  }
  const cJSON* accounts = cJSON_GetObjectItemCaseSensitive(root.get(), "accounts");
  if (!cJSON_IsArray(accounts)) {
    error = "the fixture has no \"accounts\" array";
    return false;
  }
  out.clear();
  const cJSON* account;
  cJSON_ArrayForEach(account, accounts) {
    const cJSON* devices = cJSON_GetObjectItemCaseSensitive(account, "devices");
    const cJSON* dev;
    cJSON_ArrayForEach(dev, devices) {
      FixtureDevice fd;
      if (!read_device(account, dev, fd, error)) return false;
      // A device listed by two accounts is one device: the first entry describes it.
      bool known = false;
      for (const auto& other : out) known = known || other.settings.dev_id == fd.settings.dev_id;
      if (!known) out.push_back(std::move(fd));
    }
  }
  return true;
}

bool load_fixture_devices(const std::string& path, std::vector<FixtureDevice>& out, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return parse_fixture_devices(text.str(), out, error);
}

}  // namespace sim::device
