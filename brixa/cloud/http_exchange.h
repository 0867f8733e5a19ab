// One HTTP/1.1 exchange with the cloud account service: a POST of one JSON document on a
// connection of its own, and the reply's status and body read into the session.
#pragma once

#include <cstddef>
#include <cstdint>

#include "brixa/api/brixa.h"
#include "brixa/cloud/cloud_session.h"

namespace brixa::cloud {

// Transport error codes (brixa.h).
inline constexpr int32_t kErrTransport = BRIXA_ERR_CLOUD_TRANSPORT;  // socket, resolution, connect, send or header read
inline constexpr int32_t kErrNoHeader = BRIXA_ERR_CLOUD_NO_HEADER;   // no reply header in time
inline constexpr int32_t kErrStatusLine = BRIXA_ERR_CLOUD_STATUS;    // the status line could not be read
inline constexpr int32_t kErrBody = BRIXA_ERR_CLOUD_BODY;            // the body read failed

// Replies announcing a larger body are refused (kErrBody) rather than allocated.
inline constexpr uint32_t kMaxReplyBody = 16u * 1024 * 1024;

// Sends `body` to the session's host, port and path and reads the reply: 0 with `status`,
// `body`, `content_length` and `received` set, or a transport error code. The socket is
// closed on every path; a cancel of the session ends the exchange at once. The caller holds
// the session's exchange lock.
int32_t exchange(CloudSession& session, const char* body, size_t len) REQUIRES(session.exchange_lock);

// Length of the reply body as text: up to its first zero byte.
size_t body_text_length(const CloudSession& session) REQUIRES(session.exchange_lock);

}  // namespace brixa::cloud
