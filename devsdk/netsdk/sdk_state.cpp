#include "devsdk/netsdk/sdk_state.h"

#include <cstring>

#include "devsdk/netsdk/netsdk_testing.h"

namespace netsdk {
// The last error of each calling thread, as the application reads it after a failed call.
thread_local uint32_t last_error = 0;

SdkState& state() {
  static SdkState instance;
  return instance;
}

void set_last_error(uint32_t number) { last_error = number == 0 ? 0 : (NET_ERROR_BASE | number); }

bool injected_failure(const char* operation) {
  auto& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  auto it = s.pending_failures.find(operation);
  if (it == s.pending_failures.end()) return false;
  uint32_t number = it->second;
  s.pending_failures.erase(it);
  set_last_error(number);
  return true;
}

}  // namespace netsdk

using netsdk::state;

extern "C" {

uint32_t NET_GetLastError(void) { return netsdk::last_error; }

void NET_TestFailNext(const char* operation, uint32_t error_number) {
  auto& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  s.pending_failures[operation] = error_number;
}

void NET_TestSetLastError(uint32_t code) { netsdk::last_error = code; }

void NET_TestReset(void) {
  auto& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  s.pending_failures.clear();
  s.init_calls = 0;
  s.cleanup_calls = 0;
}

void NET_TestGetState(NET_TestState* out) {
  if (out == nullptr) return;
  auto& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  out->initialised = s.initialised ? 1 : 0;
  out->init_calls = s.init_calls;
  out->cleanup_calls = s.cleanup_calls;
  out->on_disconnect = s.on_disconnect;
  out->on_reconnect = s.on_reconnect;
  out->draw = s.draw;
  out->params = s.params;
}

}  // extern "C"
