// The cloud account operations behind the biz_* exports. Each runs on the calling thread with
// a reference to its client taken by its export, sends its signed requests, and reports
// its outcome both as its result and as a callback (513 to 517) posted to the client.
//
// An outcome is the HTTP status of the reply (200 is success), a transport error code
// (http_exchange.h), or -1 when the request could not be built: no cloud session, a list text
// that is not JSON, or a member that cannot be encrypted. A refused request sends nothing.
#pragma once

#include <cjson/cJSON.h>

#include <cstdint>
#include <string>

#include "brixa/api/brixa.h"

namespace brixa::cloud {

inline constexpr const char* kMethodListSn = "c2s.get_list_sn_sp";
inline constexpr const char* kMethodDeviceList = "c2s.get_dev_list_sp";
inline constexpr const char* kMethodCameraList = "c2s.get_cam_list_sp";
inline constexpr const char* kMethodSetDeviceList = "c2s.set_dev_list_sp";
inline constexpr const char* kMethodSetCameraList = "c2s.set_cam_list_sp";

int32_t create_session(brixa_client* client, const char* app_key, const char* app_pass,
                       const char* url, const char* user, const char* pass, int32_t use_sess);
int32_t release_session(brixa_client* client);

int32_t get_list_sn(brixa_client* client);
int32_t get_device_list(brixa_client* client);
int32_t get_cam_list(brixa_client* client);
int32_t get_list(brixa_client* client);
int32_t set_device_list(brixa_client* client, int32_t update_sn, const char* list);
int32_t set_cam_list(brixa_client* client, const char* list);

// The list transforms, open to tests.
// Replies: every encrypted member decrypted with the session key and moved, as plain text, to
// the end of its element.
void decrypt_device_list(cJSON* root, const std::string& session_key);
void decrypt_camera_list(cJSON* root, const std::string& session_key);
// Set requests: every secret member replaced by the base64 of its RSA encryption; the camera
// walk also removes "sn". False when a secret is not a text or is longer than 53 bytes.
bool encrypt_device_list(cJSON* root);
bool encrypt_camera_list(cJSON* root);

// A set list as the trace shows it: every member whose name holds "pass" written as "***", at
// any depth; a text that is not JSON only by its length.
std::string masked_list(const char* list);

}  // namespace brixa::cloud
