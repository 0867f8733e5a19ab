/* Test hooks of the NetSDK: make an operation fail with a chosen error, and read back what the
 * SDK was given. Not for production callers. */
#ifndef DEVSDK_NETSDK_TESTING_H
#define DEVSDK_NETSDK_TESTING_H

#include "devsdk/netsdk/netsdk.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The next call of `operation` (its function name, e.g. "NET_Init", "NET_Logout") on any thread
 * fails and sets the last error to NET_ERROR_BASE | error_number. */
NETSDK_API void NET_TestFailNext(const char* operation, uint32_t error_number);
/* Sets the calling thread's last error as a failed operation would. */
NETSDK_API void NET_TestSetLastError(uint32_t code);
/* Clears pending failures and the recorded state below. */
NETSDK_API void NET_TestReset(void);

typedef struct NET_TestState {
  int32_t initialised;        /* NET_Init succeeded and NET_Cleanup has not run since */
  int32_t init_calls;
  int32_t cleanup_calls;
  NET_DisconnectCallback on_disconnect;
  NET_ReconnectCallback on_reconnect;
  NET_DrawCallback draw;
  NET_NetworkParams params;
} NET_TestState;
NETSDK_API void NET_TestGetState(NET_TestState* out);

#ifdef __cplusplus
}
#endif

#endif /* DEVSDK_NETSDK_TESTING_H */
