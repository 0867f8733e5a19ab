// The one space of stream, playback and download handles.
#include <climits>
#include <mutex>
#include <set>

#include "devsdk/netsdk/streams.h"

namespace netsdk {
namespace {

std::mutex lock;
std::set<int32_t> taken;   // guarded by lock
int32_t next_handle = 1;   // guarded by lock

}  // namespace

int32_t allocate_handle() {
  std::lock_guard<std::mutex> hold(lock);
  // Handles stay positive and are not reused while taken.
  while (taken.count(next_handle) != 0) next_handle = next_handle == INT32_MAX ? 1 : next_handle + 1;
  int32_t handle = next_handle;
  taken.insert(handle);
  next_handle = next_handle == INT32_MAX ? 1 : next_handle + 1;
  return handle;
}

void release_handle(int32_t handle) {
  std::lock_guard<std::mutex> hold(lock);
  taken.erase(handle);
}

}  // namespace netsdk
