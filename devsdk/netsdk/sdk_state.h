// Process-wide state of the NetSDK and its fault injection, shared by its source files.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

#include "devsdk/netsdk/netsdk.h"

namespace netsdk {

// Set by the application's calls; read by the SDK's own threads. Guarded by `lock`.
struct SdkState {
  std::mutex lock;
  bool initialised = false;
  int32_t init_calls = 0;
  int32_t cleanup_calls = 0;
  NET_DisconnectCallback on_disconnect = nullptr;
  intptr_t disconnect_user = 0;
  NET_ReconnectCallback on_reconnect = nullptr;
  intptr_t reconnect_user = 0;
  NET_DrawCallback draw = nullptr;
  intptr_t draw_user = 0;
  NET_NetworkParams params{};
  std::unordered_map<std::string, uint32_t> pending_failures;  // operation name -> error number
};

SdkState& state();

// Sets the calling thread's last error to NET_ERROR_BASE | number (0 clears it).
void set_last_error(uint32_t number);

// True when a test asked `operation` to fail; the failure is consumed and the last error set.
bool injected_failure(const char* operation);

}  // namespace netsdk
