#include "kavrel/media/stream_converter.h"

#include <atomic>

#include "streamconv/streamconv.h"

// The converter is bound weakly: without the library the operations are null and the first step
// of a conversion fails, instead of the control failing to load.
extern "C" {
__attribute__((weak)) int32_t SC_init(void);
__attribute__((weak)) int32_t SC_Cleanup(void);
__attribute__((weak)) int32_t SC_Open(int32_t, const char*, int32_t, void**);
__attribute__((weak)) void SC_InputData(void*, const uint8_t*, int32_t);
__attribute__((weak)) void SC_Close(void*);
__attribute__((weak)) void SC_Release(void*);
}

namespace kavrel {
namespace {

bool library_present() {
  return ::SC_init != nullptr && ::SC_Cleanup != nullptr && ::SC_Open != nullptr && ::SC_InputData != nullptr &&
         ::SC_Close != nullptr && ::SC_Release != nullptr;
}

int32_t init() { return library_present() ? ::SC_init() : 0; }
int32_t open(int32_t format, const char* path, int32_t bytes, void** handle) {
  return library_present() ? ::SC_Open(format, path, bytes, handle) : -1;
}
void input(void* handle, const uint8_t* data, int32_t size) {
  if (library_present()) ::SC_InputData(handle, data, size);
}
void close(void* handle) {
  if (library_present()) ::SC_Close(handle);
}
void release(void* handle) {
  if (library_present()) ::SC_Release(handle);
}
int32_t cleanup() { return library_present() ? ::SC_Cleanup() : 0; }

const StreamConverterCalls kLibrary = {init, open, input, close, release, cleanup};
std::atomic<const StreamConverterCalls*> in_force{&kLibrary};

}  // namespace

const StreamConverterCalls& stream_converter_calls() { return *in_force.load(); }

void set_stream_converter_calls(const StreamConverterCalls* calls) {
  in_force.store(calls != nullptr ? calls : &kLibrary);
}

}  // namespace kavrel
