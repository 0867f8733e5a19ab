// The C interface over DavToMp4: an init count, and a registry of the live converters so a
// handle that was released (or never given out) is refused instead of followed.
#include "streamconv/streamconv.h"

#include <cstring>
#include <new>
#include <string>
#include <unordered_set>

#include "platform/sync/mutex.h"
#include "streamconv/dav_to_mp4.h"

namespace {

using streamconv::DavToMp4;

// Process-lived, so a late caller never meets a destroyed registry. Touched by every thread that
// calls the interface; guarded by `lock`, held only for the count and the set, never around I/O.
struct Library {
  platform::Mutex lock;
  int init_count GUARDED_BY(lock) = 0;
  std::unordered_set<DavToMp4*> converters GUARDED_BY(lock);
};

Library& library() {
  static auto* instance = new Library;
  return *instance;
}

// The converter behind `handle`, or null. The handle's owner is the only thread that uses or
// releases it, so it stays valid after the lock is let go.
DavToMp4* find(void* handle) {
  Library& lib = library();
  platform::MutexLock hold(lib.lock);
  auto it = lib.converters.find(static_cast<DavToMp4*>(handle));
  return it == lib.converters.end() ? nullptr : *it;
}

}  // namespace

extern "C" {

int32_t SC_init(void) {
  Library& lib = library();
  platform::MutexLock hold(lib.lock);
  ++lib.init_count;
  return 1;
}

// Converters still open stay usable until released: they belong to their owners' threads.
int32_t SC_Cleanup(void) {
  Library& lib = library();
  platform::MutexLock hold(lib.lock);
  if (lib.init_count == 0) return 0;
  --lib.init_count;
  return 1;
}

int32_t SC_Open(int32_t format, const char* path, int32_t path_bytes, void** handle) {
  if (handle == nullptr) return -1;
  *handle = nullptr;
  if (path == nullptr || path_bytes <= 0 || std::memchr(path, 0, static_cast<size_t>(path_bytes)) != nullptr) {
    return -1;
  }
  if (format != SC_FORMAT_MP4) return -2;
  Library& lib = library();
  {
    platform::MutexLock hold(lib.lock);
    if (lib.init_count == 0) return -3;
  }
  auto* converter = new (std::nothrow) DavToMp4;
  if (converter == nullptr) return -1;
  if (!converter->open(std::string(path, static_cast<size_t>(path_bytes)))) {
    delete converter;
    return -1;  // the destination cannot be created (missing folder, no right to write)
  }
  {
    platform::MutexLock hold(lib.lock);
    lib.converters.insert(converter);
  }
  *handle = converter;
  return 0;
}

void SC_InputData(void* handle, const uint8_t* data, int32_t size) {
  if (data == nullptr || size <= 0) return;
  if (DavToMp4* converter = find(handle)) converter->input(data, static_cast<size_t>(size));
}

void SC_Close(void* handle) {
  if (DavToMp4* converter = find(handle)) converter->close();
}

void SC_Release(void* handle) {
  Library& lib = library();
  {
    platform::MutexLock hold(lib.lock);
    if (lib.converters.erase(static_cast<DavToMp4*>(handle)) == 0) return;
  }
  delete static_cast<DavToMp4*>(handle);  // finishes the file if SC_Close was not called
}

}  // extern "C"
