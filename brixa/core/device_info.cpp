// The device-information thread and its payload (callback 257).
#include <cjson/cJSON.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

#include "brixa/core/bounds.h"
#include "brixa/core/callback_dispatch.h"
#include "brixa/core/client_registry.h"
#include "brixa/core/device_sessions.h"
#include "brixa/sdk/sdk.h"
#include "trace/trace.h"

namespace brixa {
namespace {

// What the thread works on: copies taken when it starts, so it never reads the session, and
// the session's running flag, which it co-owns.
struct DeviceInfoJob {
  brixa_handle client;
  std::string dev_id;
  int32_t login_handle;
  int32_t channel_count;
  std::shared_ptr<std::atomic<int32_t>> running;
};

void post_failure(const DeviceInfoJob& job) {
  post(job.client, BRIXA_CB_CALLBACK_GET_DEVINFO, 0, -1, job.dev_id.c_str(), static_cast<int32_t>(job.dev_id.size()));
}

void get_device_info_thread(const DeviceInfoJob& job) {
  trace::enter("get_device_info_thread");
  if (job.running->load() == 0) {
    post_failure(job);
    trace::leave("get_device_info_thread");
    return;
  }
  NET_DEVICE_CONFIG block;
  memset(&block, 0, sizeof block);
  block.size = sizeof block;
  uint32_t returned = 0;
  if (!NET_GetDevConfig(job.login_handle, NET_DEV_DEVICECFG, -1, &block, sizeof block, &returned, 5000)) {
    char detail[64];
    snprintf(detail, sizeof detail, "%s %d", "NET_GetDevConfig (125)",
             static_cast<int>(NET_GetLastError() & ~NET_ERROR_BASE));
    trace::error("get_device_info_thread", 132, detail);
    post_failure(job);
    trace::leave("get_device_info_thread");
    return;
  }
  // The name text starts at byte 149 and may run to the end of the block, no further.
  const char* text = reinterpret_cast<const char*>(&block) + offsetof(NET_DEVICE_CONFIG, name);
  std::string name(text, strnlen(text, sizeof block - offsetof(NET_DEVICE_CONFIG, name)));
  std::string json = device_info_json(job.dev_id.c_str(), name.c_str(), job.channel_count);
  post(job.client, BRIXA_CB_CALLBACK_GET_DEVINFO, 0, 0, json.c_str(), static_cast<int32_t>(json.size()));
  trace::leave("get_device_info_thread");
}

}  // namespace

std::string device_info_json(const char* dev_id, const char* name, int32_t channels) {
  std::unique_ptr<cJSON, decltype(&cJSON_Delete)> root(cJSON_CreateObject(), cJSON_Delete);
  cJSON* o = root.get();
  cJSON_AddStringToObject(o, "dev_id", dev_id);
  cJSON_AddStringToObject(o, "name", name);
  cJSON_AddStringToObject(o, "model", name);
  cJSON_AddStringToObject(o, "firmware", "");
  cJSON_AddStringToObject(o, "vendor", "Generic");
  cJSON_AddNumberToObject(o, "status", 1);
  cJSON* list = cJSON_AddArrayToObject(o, "channels");
  for (int32_t ch = 0; ch < channels; ++ch) {
    char uid[kDevIdBytes + 16];
    snprintf(uid, sizeof uid, "%s_%.3d", dev_id, ch);
    cJSON* c = cJSON_CreateObject();
    cJSON_AddStringToObject(c, "uid", uid);
    cJSON_AddNumberToObject(c, "chlid", ch);
    cJSON_AddStringToObject(c, "name", uid);
    cJSON_AddNumberToObject(c, "ptz", 1);
    cJSON* streams = cJSON_AddArrayToObject(c, "streams");
    for (int stream = 0; stream < 2; ++stream) {
      cJSON* st = cJSON_CreateObject();
      cJSON_AddNumberToObject(st, "stream_id", stream);
      cJSON_AddNumberToObject(st, "width", 0);
      cJSON_AddNumberToObject(st, "height", 0);
      cJSON_AddNumberToObject(st, "frame_rate", 0);
      cJSON_AddItemToArray(streams, st);
    }
    cJSON_AddItemToArray(list, c);
  }
  char* printed = cJSON_PrintUnformatted(o);
  std::string text = printed != nullptr ? printed : "";
  cJSON_free(printed);
  return text;
}

platform::Thread take_device_info_thread(device_session* session) {
  session->device_info_running->store(0);
  return std::move(session->device_info_thread);
}

void end_device_info_thread(platform::Thread thread) {
  if (thread.join_within(kThreadStopMs) == platform::Thread::End::abandoned) {
    trace::error("get_device_info_thread", 140, "Device info thread is not ending (140)");
  }
}

int32_t start_get_device_info(brixa_handle handle, const char* dev_id) {
  return with_client(handle, [&](brixa_client* client) {
    if (get_login_id(handle, dev_id) <= 0) return BRIXA_ERR_NO_SESSION;
    if (get_dev_channel_count(handle, dev_id) <= 0) return -4;
    int32_t result = BRIXA_OK;
    platform::Thread earlier;
    {
      DeviceListLock list(client->device_list_lock);
      device_session* s = find_session(client, dev_id);
      if (s == nullptr) return BRIXA_ERR_NO_SESSION;
      // Reported, but the new request is served all the same; the earlier thread finishes its
      // request first (waited for outside the lock, within its bound) rather than run unowned.
      if (s->device_info_thread.joinable()) {
        result = -5;
        earlier = std::move(s->device_info_thread);
      }
    }
    end_device_info_thread(std::move(earlier));
    DeviceListLock list(client->device_list_lock);
    device_session* s = find_session(client, dev_id);
    if (s == nullptr) return BRIXA_ERR_NO_SESSION;
    platform::Thread displaced = take_device_info_thread(s);  // one started meanwhile: told to stop
    // A fresh flag: a thread still running keeps its own.
    s->device_info_running = std::make_shared<std::atomic<int32_t>>(1);
    DeviceInfoJob job{client, s->dev_id, s->login_handle, s->channel_count, s->device_info_running};
    try {
      s->device_info_thread = platform::Thread([job = std::move(job)] { get_device_info_thread(job); });
    } catch (const std::system_error&) {
      s->device_info_running->store(0);
      result = -6;
    }
    if (displaced.joinable()) end_device_info_thread(std::move(displaced));
    return result;
  });
}

int32_t stop_get_device_info(brixa_handle handle, const char* dev_id) {
  return with_client(handle, [&](brixa_client* client) {
    if (get_login_id(handle, dev_id) <= 0) return BRIXA_ERR_NO_SESSION;
    platform::Thread ending;
    {
      DeviceListLock list(client->device_list_lock);
      if (device_session* s = find_session(client, dev_id)) ending = take_device_info_thread(s);
    }
    end_device_info_thread(std::move(ending));
    return BRIXA_OK;
  });
}

}  // namespace brixa
