#include "brixa/search/device_search.h"

#include <cjson/cJSON.h>

#include <atomic>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <system_error>

#include "brixa/core/bounds.h"
#include "brixa/core/callback_dispatch.h"
#include "brixa/sdk/sdk.h"
#include "platform/sync/mutex.h"
#include "platform/thread_annotations.h"
#include "platform/threads/thread.h"
#include "trace/trace.h"

namespace brixa::search {
namespace {

struct SearchState {
  // The search thread: recorded from its start until brixa_stop_search_devices (or uninit),
  // also after it has ended.
  platform::Mutex owner_lock;
  platform::Thread thread GUARDED_BY(owner_lock);
  bool recorded GUARDED_BY(owner_lock) = false;
  std::atomic<int32_t> running{0};  // written by the exports, polled by the search thread

  // The Device SDK's search, started by the first search thread, stopped at uninit.
  std::mutex sdk_lock;
  int32_t sdk_search = 0;  // guarded by sdk_lock

  // Found devices, newest first (the Device SDK's search thread and the search thread).
  std::mutex found_lock;
  std::list<NET_DEVICE_SEARCH_INFO> found;  // guarded by found_lock
};

SearchState& state() {
  static SearchState* instance = new SearchState;  // lives as long as the process
  return *instance;
}

// A text field of the record, read within its size whether or not it is terminated.
template <size_t N>
std::string field(const char (&text)[N]) {
  return std::string(text, strnlen(text, N));
}

void ensure_sdk_search() {
  SearchState& s = state();
  std::lock_guard<std::mutex> hold(s.sdk_lock);
  if (s.sdk_search != 0) return;
  s.sdk_search = NET_StartSearchDevices(found_device, 0, nullptr);
  if (s.sdk_search == 0) trace::error("search_devices_thread", 60, "NET_StartSearchDevices (60)");
}

void search_devices_thread(brixa_handle client) {
  trace::enter("search_devices_thread");
  SearchState& s = state();
  ensure_sdk_search();
  for (int step = 0; step < kCollectSteps; ++step) {
    if (s.running.load() != 1) {
      trace::step(" search cancelled");
      trace::leave("search_devices_thread");
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kCollectStepMs));
  }
  // A stop that came during the last step still cancels the report.
  if (s.running.load() != 1) {
    trace::leave("search_devices_thread");
    return;
  }
  std::string report = take_report();
  post(client, BRIXA_CB_CALLBACK_SEARCH_DEVICE, 0, 0, report.c_str(), static_cast<int32_t>(report.size()));
  trace::leave("search_devices_thread");
}

// Ends the recorded thread (bounded) and forgets it. The owner lock is held by the caller.
void end_thread_locked(SearchState& s) REQUIRES(s.owner_lock) {
  s.running.store(0);
  s.thread.join_within(kThreadStopMs);
  s.recorded = false;
}

}  // namespace

std::string take_report() {
  SearchState& s = state();
  cJSON* root = cJSON_CreateObject();
  cJSON* devices = cJSON_AddArrayToObject(root, "devices");
  {
    std::lock_guard<std::mutex> hold(s.found_lock);
    for (const NET_DEVICE_SEARCH_INFO& d : s.found) {
      cJSON* item = cJSON_CreateObject();
      cJSON_AddStringToObject(item, "id", field(d.serial).c_str());
      cJSON_AddStringToObject(item, "ip", field(d.ip).c_str());
      cJSON_AddStringToObject(item, "name", field(d.name).c_str());
      cJSON_AddNumberToObject(item, "port", d.port);
      cJSON_AddNumberToObject(item, "http_port", d.http_port);
      cJSON_AddStringToObject(item, "model", field(d.detail_type).c_str());
      cJSON_AddItemToArray(devices, item);
    }
    s.found.clear();
  }
  char* text = cJSON_PrintUnformatted(root);
  std::string report = text != nullptr ? text : "{\"devices\":[]}";
  cJSON_free(text);
  cJSON_Delete(root);
  return report;
}

void found_device(const NET_DEVICE_SEARCH_INFO* info, intptr_t) {
  if (info == nullptr) return;
  std::string serial = field(info->serial);
  if (serial.empty()) {
    trace::step(" empty serial number");
    return;
  }
  SearchState& s = state();
  std::lock_guard<std::mutex> hold(s.found_lock);
  trace::step(" enumerating search list");
  for (const NET_DEVICE_SEARCH_INFO& d : s.found) {
    if (field(d.serial) == serial) {
      trace::step(" finished enumerating list");
      return;
    }
  }
  trace::step(" finished enumerating list");
  trace::step(" creating device info item");
  trace::step(" adding device info item to list");
  s.found.push_front(*info);
  trace::step(" finished adding device info item");
}

int32_t start_search_devices(brixa_handle handle) {
  const char* fn = "brixa_start_search_devices";
  trace::enter(fn);
  SearchState& s = state();
  int32_t result = BRIXA_OK;
  {
    platform::MutexLock hold(s.owner_lock);
    if (s.recorded) {
      trace::error(fn, 144, "Search thread already running (144)");
      result = -1;
    } else {
      s.running.store(1);
      trace::step(" creating device search thread");
      try {
        s.thread = platform::Thread([handle] { search_devices_thread(handle); });
        s.recorded = true;
      } catch (const std::system_error&) {
        s.running.store(0);
        trace::error(fn, 154, "Cannot create thread (154)");
        result = -2;
      }
    }
  }
  trace::leave(fn);
  return result;
}

int32_t stop_search_devices() {
  const char* fn = "brixa_stop_search_devices";
  trace::enter(fn);
  SearchState& s = state();
  int32_t result = BRIXA_OK;
  {
    platform::MutexLock hold(s.owner_lock);
    if (!s.recorded) {
      trace::error(fn, 168, "Search thread is not running (168)");
      result = -1;
    } else {
      trace::step("- stopping device search thread (174)");
      end_thread_locked(s);
      trace::step("- deleted device search search thread (179)");
    }
  }
  trace::leave(fn);
  return result;
}

void stop_search_on_uninit() {
  SearchState& s = state();
  {
    platform::MutexLock hold(s.owner_lock);
    if (s.recorded) end_thread_locked(s);
  }
  int32_t sdk_search;
  {
    std::lock_guard<std::mutex> hold(s.sdk_lock);
    sdk_search = s.sdk_search;
    s.sdk_search = 0;
  }
  if (sdk_search != 0) NET_StopSearchDevices(sdk_search);
  std::lock_guard<std::mutex> hold(s.found_lock);
  s.found.clear();
}

}  // namespace brixa::search
