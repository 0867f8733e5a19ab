#include "brixa/cloud/account_api.h"

#include <cctype>
#include <cstring>
#include <memory>

#include "brixa/cloud/cloud_session.h"
#include "brixa/cloud/crypto.h"
#include "brixa/cloud/http_exchange.h"
#include "brixa/cloud/signed_request.h"
#include "brixa/core/callback_dispatch.h"
#include "trace/trace.h"

namespace brixa::cloud {
namespace {

constexpr int32_t kNotBuilt = -1;
constexpr int32_t kStatusOk = 200;

using Json = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;
Json json(cJSON* item) { return Json(item, cJSON_Delete); }

// cJSON's printed text, freed with cJSON_free.
struct PrintedText {
  char* text = nullptr;
  explicit PrintedText(char* t) : text(t) {}
  ~PrintedText() { cJSON_free(text); }
  PrintedText(const PrintedText&) = delete;
  PrintedText& operator=(const PrintedText&) = delete;
};

constexpr const char* kDeviceSecrets[] = {"dev_id", "dev_user", "dev_pass"};
constexpr const char* kCameraSecrets[] = {"devid", "dev_user", "dev_pass"};

void post_result(brixa_client* client, int32_t id, int32_t result, const char* info = nullptr,
                 size_t len = 0) {
  brixa::post(client, id, 0, result, len > 0 ? info : nullptr, static_cast<int32_t>(len));
}

void decrypt_members(cJSON* element, const char* const (&names)[3], const AesDecryptor& key) {
  if (!cJSON_IsObject(element)) return;
  for (const char* name : names) {
    cJSON* item = cJSON_GetObjectItemCaseSensitive(element, name);
    if (item == nullptr) continue;
    char plain[kAesMaxPlain + 1] = {};
    key.decrypt(cJSON_IsString(item) ? item->valuestring : "", plain);
    cJSON_DeleteItemFromObjectCaseSensitive(element, name);
    cJSON_AddStringToObject(element, name, plain);
  }
}

bool encrypt_members(cJSON* element, const char* const (&names)[3]) {
  if (!cJSON_IsObject(element)) return true;
  for (const char* name : names) {
    cJSON* item = cJSON_GetObjectItemCaseSensitive(element, name);
    if (item == nullptr) continue;
    if (!cJSON_IsString(item)) return false;
    auto block = rsa_encrypt(item->valuestring);
    if (!block) return false;
    std::string text = base64_encode(block->data(), block->size());
    cJSON* replacement = cJSON_CreateString(text.c_str());
    if (replacement == nullptr || !cJSON_ReplaceItemInObjectCaseSensitive(element, name, replacement)) {
      cJSON_Delete(replacement);
      return false;
    }
  }
  return true;
}

// The camera-list walk: every group (recursively) first, then the object's own cameras.
template <class Fn>
bool walk_cameras(cJSON* object, Fn&& on_camera) {
  if (!cJSON_IsObject(object)) return true;
  cJSON* groups = cJSON_GetObjectItemCaseSensitive(object, "groups");
  if (cJSON_IsArray(groups)) {
    for (cJSON* group = groups->child; group != nullptr; group = group->next)
      if (!walk_cameras(group, on_camera)) return false;
  }
  cJSON* cams = cJSON_GetObjectItemCaseSensitive(object, "cams");
  if (cJSON_IsArray(cams)) {
    for (cJSON* cam = cams->child; cam != nullptr; cam = cam->next)
      if (!on_camera(cam)) return false;
  }
  return true;
}

template <class Fn>
bool walk_devices(cJSON* root, Fn&& on_device) {
  if (!cJSON_IsObject(root)) return true;
  cJSON* devs = cJSON_GetObjectItemCaseSensitive(root, "devs");
  if (!cJSON_IsArray(devs)) return true;
  for (cJSON* dev = devs->child; dev != nullptr; dev = dev->next)
    if (!on_device(dev)) return false;
  return true;
}

// Sends a finished request document and returns the outcome. Exchange lock held.
int32_t send_request(CloudSession& session, cJSON* request, const char* function) REQUIRES(session.exchange_lock) {
  PrintedText text(cJSON_PrintUnformatted(request));
  if (text.text == nullptr) {
    trace::error(function, 210, "Cannot print request");
    return kNotBuilt;
  }
  int32_t rc = exchange(session, text.text, std::strlen(text.text));
  int32_t outcome = rc != 0 ? rc : session.status;
  trace::value("status", outcome);
  return outcome;
}

// The serials and the two set methods report the reply body on 200.
void post_reply(brixa_client* client, int32_t id, int32_t outcome, const CloudSession& session)
    REQUIRES(session.exchange_lock) {
  if (outcome == kStatusOk)
    post_result(client, id, 0, session.body.data(), body_text_length(session));
  else
    post_result(client, id, outcome);
}

// Get device list and get camera list.
int32_t fetch_list(brixa_client* client, const char* method, int32_t id, bool cameras,
                   const char* function) {
  std::shared_ptr<CloudSession> session = current_session(client);
  if (!session) {
    trace::error(function, 230, "No cloud session");
    post_result(client, id, kNotBuilt);
    return kNotBuilt;
  }
  platform::MutexLock hold(session->exchange_lock);
  std::string key = make_session_key();
  auto block = rsa_encrypt(key);
  if (!block) {
    trace::error(function, 238, "Cannot encrypt session key");
    post_result(client, id, kNotBuilt);
    return kNotBuilt;
  }
  std::string pkey_pass = base64_encode(block->data(), block->size());
  int32_t timestamp = request_timestamp();
  Json request = json(envelope(method, timestamp, *session, signature(method, *session, timestamp, pkey_pass.c_str())));
  if (!request || cJSON_AddStringToObject(request.get(), "pkey_pass", pkey_pass.c_str()) == nullptr) {
    trace::error(function, 246, "Cannot build request");
    post_result(client, id, kNotBuilt);
    return kNotBuilt;
  }
  int32_t outcome = send_request(*session, request.get(), function);
  if (outcome != kStatusOk) {
    post_result(client, id, outcome);
    return outcome;
  }
  Json reply = json(cJSON_ParseWithLength(session->body.data(), body_text_length(*session)));
  if (!reply) {
    trace::error(function, 257, "Reply is not JSON");
    post_result(client, id, kNotBuilt);
    return outcome;
  }
  if (cameras)
    decrypt_camera_list(reply.get(), key);
  else
    decrypt_device_list(reply.get(), key);
  PrintedText text(cJSON_Print(reply.get()));
  if (text.text == nullptr) {
    trace::error(function, 267, "Cannot print list");
    post_result(client, id, kNotBuilt);
    return outcome;
  }
  post_result(client, id, 0, text.text, std::strlen(text.text));
  return outcome;
}

// Set device list and set camera list.
int32_t push_list(brixa_client* client, const char* method, int32_t id, bool cameras,
                  const int32_t* update_sn, const char* list, const char* function) {
  std::shared_ptr<CloudSession> session = current_session(client);
  if (!session) {
    trace::error(function, 280, "No cloud session");
    post_result(client, id, kNotBuilt);
    return kNotBuilt;
  }
  Json doc = json(list != nullptr ? cJSON_Parse(list) : nullptr);
  if (!doc) {
    trace::error(function, 286, "List is not JSON");
    post_result(client, id, kNotBuilt);
    return kNotBuilt;
  }
  platform::MutexLock hold(session->exchange_lock);
  bool encrypted = cameras ? encrypt_camera_list(doc.get()) : encrypt_device_list(doc.get());
  if (!encrypted) {
    trace::error(function, 293, "Cannot encrypt list member");
    post_result(client, id, kNotBuilt);
    return kNotBuilt;
  }
  PrintedText content(cJSON_Print(doc.get()));
  if (content.text == nullptr) {
    trace::error(function, 299, "Cannot print list");
    post_result(client, id, kNotBuilt);
    return kNotBuilt;
  }
  int32_t timestamp = request_timestamp();
  std::string content_digest = md5_hex(content.text, std::strlen(content.text));
  Json request = json(envelope(method, timestamp, *session, signature(method, *session, timestamp, content_digest.c_str())));
  bool built = request != nullptr;
  if (built && update_sn != nullptr) built = cJSON_AddNumberToObject(request.get(), "update_sn", *update_sn) != nullptr;
  if (built) built = cJSON_AddStringToObject(request.get(), "content", content.text) != nullptr;
  if (!built) {
    trace::error(function, 311, "Cannot build request");
    post_result(client, id, kNotBuilt);
    return kNotBuilt;
  }
  int32_t outcome = send_request(*session, request.get(), function);
  post_reply(client, id, outcome, *session);
  return outcome;
}

}  // namespace

void decrypt_device_list(cJSON* root, const std::string& session_key) {
  AesDecryptor key(session_key.c_str());
  walk_devices(root, [&](cJSON* dev) {
    decrypt_members(dev, kDeviceSecrets, key);
    return true;
  });
}

void decrypt_camera_list(cJSON* root, const std::string& session_key) {
  AesDecryptor key(session_key.c_str());
  walk_cameras(root, [&](cJSON* cam) {
    decrypt_members(cam, kCameraSecrets, key);
    return true;
  });
}

bool encrypt_device_list(cJSON* root) {
  return walk_devices(root, [](cJSON* dev) { return encrypt_members(dev, kDeviceSecrets); });
}

bool encrypt_camera_list(cJSON* root) {
  return walk_cameras(root, [](cJSON* cam) {
    if (!encrypt_members(cam, kCameraSecrets)) return false;
    if (cJSON_IsObject(cam))
      while (cJSON_GetObjectItemCaseSensitive(cam, "sn") != nullptr) cJSON_DeleteItemFromObjectCaseSensitive(cam, "sn");
    return true;
  });
}

namespace {

bool names_a_secret(const char* name) {
  if (name == nullptr) return false;
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return lower.find("pass") != std::string::npos;
}

void mask_secrets(cJSON* item) {
  for (cJSON* child = item != nullptr ? item->child : nullptr; child != nullptr; child = child->next) {
    if (cJSON_IsString(child) && names_a_secret(child->string)) {
      cJSON_SetValuestring(child, "***");
    } else {
      mask_secrets(child);
    }
  }
}

}  // namespace

std::string masked_list(const char* list) {
  if (list == nullptr) return "";
  Json doc = json(cJSON_Parse(list));
  if (!doc) return "(" + std::to_string(std::strlen(list)) + " bytes, not JSON)";
  mask_secrets(doc.get());
  PrintedText text(cJSON_PrintUnformatted(doc.get()));
  return text.text != nullptr ? text.text : "";
}

int32_t create_session(brixa_client* client, const char* app_key, const char* app_pass,
                       const char* url, const char* user, const char* pass, int32_t use_sess) {
  std::shared_ptr<CloudSession> session = make_session(app_key, app_pass, url, user, pass, use_sess);
  if (!session) trace::error("biz_create", 352, "Service URL without http://");
  set_session(client, std::move(session));
  return 0;
}

int32_t release_session(brixa_client* client) {
  release_session_of(client);
  return 0;
}

int32_t get_list_sn(brixa_client* client) {
  constexpr const char* kFunction = "biz_get_list_sn";
  constexpr int32_t id = BRIXA_CB_CALLBACK_BIZ_GET_LIST_SN;
  std::shared_ptr<CloudSession> session = current_session(client);
  if (!session) {
    trace::error(kFunction, 367, "No cloud session");
    post_result(client, id, kNotBuilt);
    return kNotBuilt;
  }
  platform::MutexLock hold(session->exchange_lock);
  int32_t timestamp = request_timestamp();
  Json request = json(envelope(kMethodListSn, timestamp, *session, signature(kMethodListSn, *session, timestamp)));
  if (!request) {
    trace::error(kFunction, 375, "Cannot build request");
    post_result(client, id, kNotBuilt);
    return kNotBuilt;
  }
  int32_t outcome = send_request(*session, request.get(), kFunction);
  post_reply(client, id, outcome, *session);
  return outcome;
}

int32_t get_device_list(brixa_client* client) {
  return fetch_list(client, kMethodDeviceList, BRIXA_CB_CALLBACK_BIZ_GET_DEVLIST, false, "biz_get_device_list");
}

int32_t get_cam_list(brixa_client* client) {
  return fetch_list(client, kMethodCameraList, BRIXA_CB_CALLBACK_BIZ_GET_CAMLIST, true, "biz_get_cam_list");
}

int32_t get_list(brixa_client* client) {
  get_list_sn(client);
  get_device_list(client);
  return get_cam_list(client);
}

int32_t set_device_list(brixa_client* client, int32_t update_sn, const char* list) {
  return push_list(client, kMethodSetDeviceList, BRIXA_CB_CALLBACK_BIZ_SET_DEVLIST, false, &update_sn, list,
                   "biz_set_device_list");
}

int32_t set_cam_list(brixa_client* client, const char* list) {
  return push_list(client, kMethodSetCameraList, BRIXA_CB_CALLBACK_BIZ_SET_CAMLIST, true, nullptr, list,
                   "biz_set_cam_list");
}

}  // namespace brixa::cloud
