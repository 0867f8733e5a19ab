// The stream converter operations the control uses to turn an exported DAV file into MP4,
// gathered in one table so tests can stand in for the converter and watch the calls. The table
// in force is process-wide; a test sets it before the control uses it.
#pragma once

#include <cstdint>

namespace kavrel {

// The converter's format code of an MP4 file.
inline constexpr int32_t kConverterFormatMp4 = 3;

struct StreamConverterCalls {
  int32_t (*init)();                                                         // non-zero low byte: ok
  int32_t (*open)(int32_t format, const char* path, int32_t path_bytes, void** handle);  // negative: failed
  void (*input)(void* handle, const uint8_t* data, int32_t size);
  void (*close)(void* handle);    // the first closing call: finishes the file
  void (*release)(void* handle);  // the second closing call: frees the converter
  int32_t (*cleanup)();           // non-zero low byte: ok
};

// The table in force: the converter library's unless a test set another.
const StreamConverterCalls& stream_converter_calls();
// Null restores the library's table. The table must outlive its use.
void set_stream_converter_calls(const StreamConverterCalls* calls);

}  // namespace kavrel
