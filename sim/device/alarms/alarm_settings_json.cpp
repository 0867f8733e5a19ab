#include "sim/device/alarms/alarm_settings_json.h"

#include <cjson/cJSON.h>

#include <optional>

#include "devsdk/proto/alarms.h"
#include "platform/json/json_integer.h"

namespace sim::device {
namespace {

bool integer_in(const cJSON* object, const char* key, long long low, long long high, long long& value) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, key);
  if (item == nullptr) return true;
  std::optional<long long> v = platform::json_integer<long long>(item);
  if (!v || *v < low || *v > high) return false;
  value = *v;
  return true;
}

}  // namespace

bool alarm_settings_of(const cJSON* device, AlarmSettings& out, std::string& error, const std::string& where) {
  const cJSON* alarms = cJSON_GetObjectItemCaseSensitive(device, "alarms");
  if (alarms == nullptr) return true;
  auto fail = [&](const std::string& what) {
    error = where + ": \"device\".\"alarms\"" + what;
    return false;
  };
  if (!cJSON_IsObject(alarms)) return fail(" must be an object");
  long long loop_ms = out.loop_ms;
  if (!integer_in(alarms, "loop_ms", 0, 24LL * 3600 * 1000, loop_ms)) return fail(".\"loop_ms\" must be 0 to 86400000");
  out.loop_ms = static_cast<uint32_t>(loop_ms);
  if (const cJSON* motion = cJSON_GetObjectItemCaseSensitive(alarms, "scene_motion")) {
    if (!cJSON_IsBool(motion)) return fail(".\"scene_motion\" must be true or false");
    out.scene_motion = cJSON_IsTrue(motion);
  }
  const cJSON* script = cJSON_GetObjectItemCaseSensitive(alarms, "script");
  if (script == nullptr) return true;
  if (!cJSON_IsArray(script)) return fail(".\"script\" must be an array");
  out.script.clear();
  const cJSON* entry;
  cJSON_ArrayForEach(entry, script) {
    AlarmChange c;
    const cJSON* kind = cJSON_GetObjectItemCaseSensitive(entry, "kind");
    if (cJSON_IsString(kind)) {
      c.kind = alarm_kind_of(kind->valuestring);
    } else if (std::optional<long long> k = platform::json_integer<long long>(kind)) {
      c.kind = *k >= proto::kFirstAlarmKind && *k <= proto::kLastAlarmKind ? static_cast<uint32_t>(*k) : 0;
    }
    long long at_ms = -1, channel = 0, state = 1;
    if (c.kind == 0) return fail(": a script entry needs a \"kind\" (a name or 0x2101 to 0x2107)");
    if (!integer_in(entry, "at_ms", 0, 24LL * 3600 * 1000, at_ms) || at_ms < 0)
      return fail(": a script entry needs \"at_ms\" from 0 to 86400000");
    if (!integer_in(entry, "channel", 0, proto::kMaxAlarmChannels - 1, channel))
      return fail(": a script entry's \"channel\" must be 0 to 255");
    if (!integer_in(entry, "state", 0, 1, state)) return fail(": a script entry's \"state\" must be 0 or 1");
    c.at_ms = static_cast<uint32_t>(at_ms);
    c.channel = static_cast<int32_t>(channel);
    c.state = static_cast<uint8_t>(state);
    out.script.push_back(c);
  }
  return true;
}

}  // namespace sim::device
