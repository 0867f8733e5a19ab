// The signed request envelope common to every cloud method.
#pragma once

#include <cjson/cJSON.h>

#include <cstdint>
#include <string>

#include "brixa/cloud/cloud_session.h"

namespace brixa::cloud {

// MD5 hex of "method|app_key|timestamp|app_pass|password_digest", followed by "|extra" when
// `extra` is given and not empty. Neither the password nor the application pass is ever sent;
// they enter a request only through this digest.
std::string signature(const char* method, const CloudSession& session, int32_t timestamp,
                      const char* extra = nullptr);

// {"msg", "timestamp", "app_key", "user", "use_sess", "key"} in this order; the method adds
// its own members after these. Null when the document cannot be built. The caller frees it.
cJSON* envelope(const char* method, int32_t timestamp, const CloudSession& session,
                const std::string& key);

// The current time in seconds since 1970, as the timestamp of a request.
int32_t request_timestamp();

}  // namespace brixa::cloud
