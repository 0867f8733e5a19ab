// The last error of each play port.
#include <mutex>
#include <unordered_map>

#include "devsdk/playsdk/playsdk.h"

namespace {

// Written by the port's operations and by tests, read by the application; guarded by lock.
std::mutex lock;
std::unordered_map<int32_t, uint32_t> last_errors;

}  // namespace

extern "C" {

uint32_t PLAY_GetLastError(int32_t port) {
  std::lock_guard<std::mutex> hold(lock);
  auto it = last_errors.find(port);
  return it == last_errors.end() ? 0 : it->second;
}

void PLAY_TestSetLastError(int32_t port, uint32_t code) {
  std::lock_guard<std::mutex> hold(lock);
  last_errors[port] = code;
}

}  // extern "C"
