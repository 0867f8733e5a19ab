/* The stream converter: turns a DAV file (our raw stream of media blocks,
 * devsdk/proto/media_block.h) into another container. Format 3 writes an MP4 file whose index
 * sits at its front, so a browser can play it while it loads.
 *
 * Use: SC_init once; SC_Open a converter on a destination; SC_InputData the DAV bytes in order,
 * cut anywhere; SC_Close (finishes the file) and SC_Release (frees the handle); SC_Cleanup. */
#ifndef STREAMCONV_STREAMCONV_H
#define STREAMCONV_STREAMCONV_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define STREAMCONV_API __attribute__((visibility("default")))

#define SC_FORMAT_MP4 3

/* Non-zero on success. Each SC_init is matched by one SC_Cleanup. */
STREAMCONV_API int32_t SC_init(void);
STREAMCONV_API int32_t SC_Cleanup(void);
/* Opens a converter writing `path` (`path_bytes` bytes, no terminator needed) in `format`.
 * 0 or more on success with *handle set; negative on failure (-1 bad arguments, -2 unknown
 * format, -3 not initialised). */
STREAMCONV_API int32_t SC_Open(int32_t format, const char* path, int32_t path_bytes, void** handle);
/* Feeds DAV bytes. Malformed input ends the conversion; later input is ignored. */
STREAMCONV_API void SC_InputData(void* handle, const uint8_t* data, int32_t size);
/* Writes what is buffered and finishes the file (nothing is written without a video frame). */
STREAMCONV_API void SC_Close(void* handle);
/* Frees the converter; closes the file first if SC_Close was not called. */
STREAMCONV_API void SC_Release(void* handle);

#ifdef __cplusplus
}
#endif

#endif /* STREAMCONV_STREAMCONV_H */
