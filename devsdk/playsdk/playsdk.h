/* PlaySDK: decoding and rendering of our Device SDK. A play port is a 32-bit number; 0 means
 * failure. After a failed call, PLAY_GetLastError(port) gives a code 0-24. */
#ifndef DEVSDK_PLAYSDK_H
#define DEVSDK_PLAYSDK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PLAYSDK_API __attribute__((visibility("default")))

PLAYSDK_API uint32_t PLAY_GetLastError(int32_t port);

/* Test hook: sets the last error code of `port`. */
PLAYSDK_API void PLAY_TestSetLastError(int32_t port, uint32_t code);

#ifdef __cplusplus
}
#endif

#endif /* DEVSDK_PLAYSDK_H */
