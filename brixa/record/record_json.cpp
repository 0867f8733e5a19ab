#include "brixa/record/record_json.h"

#include <cjson/cJSON.h>

#include <cstring>
#include <memory>

#include "brixa/record/date_time.h"

namespace brixa::record {
namespace {

using Json = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

Json request_object(const char* dev_id, int32_t chl_id) {
  Json root(cJSON_CreateObject(), cJSON_Delete);
  if (root == nullptr) return root;
  cJSON_AddStringToObject(root.get(), "dev_id", dev_id != nullptr ? dev_id : "");
  cJSON_AddNumberToObject(root.get(), "chl_id", chl_id);
  return root;
}

std::string print(const Json& root) {
  if (root == nullptr) return {};
  char* printed = cJSON_PrintUnformatted(root.get());
  std::string text = printed != nullptr ? printed : "";
  cJSON_free(printed);
  return text;
}

}  // namespace

std::string record_page_json(const char* dev_id, int32_t chl_id, const char* start, const char* end,
                             const NET_RECORDFILE_INFO* files, int32_t count) {
  Json root = request_object(dev_id, chl_id);
  if (root == nullptr) return {};
  cJSON_AddStringToObject(root.get(), "start", start != nullptr ? start : "");
  cJSON_AddStringToObject(root.get(), "end", end != nullptr ? end : "");
  if (files == nullptr) return print(root);
  cJSON* records = cJSON_AddArrayToObject(root.get(), "records");
  if (records == nullptr) return {};
  for (int32_t i = 0; i < count; ++i) {
    const NET_RECORDFILE_INFO& f = files[i];
    cJSON* item = cJSON_CreateObject();
    if (item == nullptr) return {};
    cJSON_AddItemToArray(records, item);
    // The name field need not be terminated by the device: it is read within its 124 bytes.
    std::string name(f.file_name, strnlen(f.file_name, sizeof f.file_name));
    cJSON_AddStringToObject(item, "name", name.c_str());
    cJSON_AddStringToObject(item, "start", format_time(f.start).c_str());
    cJSON_AddStringToObject(item, "end", format_time(f.end).c_str());
    cJSON_AddNumberToObject(item, "type", f.record_type);
    cJSON_AddNumberToObject(item, "size", static_cast<double>(f.size));
  }
  return print(root);
}

std::string record_status_json(const char* dev_id, int32_t chl_id, const char* month, const NET_RECORD_STATUS* status) {
  Json root = request_object(dev_id, chl_id);
  if (root == nullptr) return {};
  cJSON_AddStringToObject(root.get(), "month", month != nullptr ? month : "");
  if (status != nullptr) {
    char flag[kDaysInFlag + 1];
    for (int day = 0; day < kDaysInFlag; ++day) flag[day] = status->day_flags[day] != 0 ? '1' : '0';
    flag[kDaysInFlag] = 0;
    cJSON_AddStringToObject(root.get(), "flag", flag);
  }
  return print(root);
}

}  // namespace brixa::record
