// The one asynchronous channel of the library: messages posted by any thread are delivered to
// the client's callback on the dispatcher thread, in posting order.
#pragma once

#include <cstdint>

#include "brixa/api/brixa.h"

namespace brixa {

// Appends a message to the callback queue; never blocks on the callback. Dropped silently when
// the queue is full or closed (before brixa_init, after brixa_uninit). Any thread, Device SDK
// threads included.
void post(brixa_handle client, int32_t id, intptr_t param1, int32_t param2, const char* info,
          int32_t info_len);

// brixa_init: opens the queue and the callback map.
void open_callback_channel();
// brixa_uninit: stops the dispatcher (within its bound), drops every registration and every
// message not yet delivered, and closes the channel until the next open.
void close_callback_channel();

int32_t attach_callback(brixa_handle client, brixa_callback fn, intptr_t user);
int32_t detach_callback(brixa_handle client);

// The step run before a message is delivered: joins the record-query worker for a final
// record-query result, and the record-status worker for a record-status result.
void process_private_biz(brixa_handle client, int32_t id, intptr_t param1, int32_t param2,
                         int32_t info_len);

}  // namespace brixa
