#include "brixa/cloud/signed_request.h"

#include <ctime>

#include "brixa/cloud/crypto.h"

namespace brixa::cloud {

std::string signature(const char* method, const CloudSession& s, int32_t timestamp, const char* extra) {
  std::string text = std::string(method) + "|" + s.app_key + "|" + std::to_string(timestamp) + "|" +
                     s.app_pass + "|" + s.password_digest;
  if (extra != nullptr && extra[0] != 0) {
    text += '|';
    text += extra;
  }
  return md5_hex(text);
}

cJSON* envelope(const char* method, int32_t timestamp, const CloudSession& s, const std::string& key) {
  cJSON* root = cJSON_CreateObject();
  if (root == nullptr) return nullptr;
  if (cJSON_AddStringToObject(root, "msg", method) == nullptr ||
      cJSON_AddNumberToObject(root, "timestamp", timestamp) == nullptr ||
      cJSON_AddStringToObject(root, "app_key", s.app_key) == nullptr ||
      cJSON_AddStringToObject(root, "user", s.user) == nullptr ||
      cJSON_AddNumberToObject(root, "use_sess", s.use_sess) == nullptr ||
      cJSON_AddStringToObject(root, "key", key.c_str()) == nullptr) {
    cJSON_Delete(root);
    return nullptr;
  }
  return root;
}

int32_t request_timestamp() { return static_cast<int32_t>(std::time(nullptr)); }

}  // namespace brixa::cloud
