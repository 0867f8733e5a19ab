/* NetSDK: the network client of our Device SDK.
 *
 * Handles are 32-bit; a login or stream handle of 0 means failure. Operations that answer BOOL
 * return non-zero on success. After a failure, NET_GetLastError() on the same thread gives
 * NET_ERROR_BASE plus the error number (NET_ERR_* below); 0 means no error.
 */
#ifndef DEVSDK_NETSDK_H
#define DEVSDK_NETSDK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define NETSDK_API __attribute__((visibility("default")))

typedef int32_t NET_BOOL;

#define NET_ERROR_BASE 0x80000000u
/* Error numbers (the last error is NET_ERROR_BASE | number). */
#define NET_ERR_SYSTEM_ERROR 1
#define NET_ERR_NETWORK_ERROR 2
#define NET_ERR_DEV_VER_NOMATCH 3
#define NET_ERR_INVALID_HANDLE 4
#define NET_ERR_OPEN_CHANNEL_ERROR 5
#define NET_ERR_CLOSE_CHANNEL_ERROR 6
#define NET_ERR_ILLEGAL_PARAM 7
#define NET_ERR_SDK_INIT_ERROR 8
#define NET_ERR_SDK_UNINIT_ERROR 9
#define NET_ERR_RETURN_DATA_ERROR 21
#define NET_ERR_INSUFFICIENT_BUFFER 22
#define NET_ERR_NOT_SUPPORTED 23
#define NET_ERR_NO_RECORD_FOUND 24
#define NET_ERR_NO_INIT 29
#define NET_ERR_LOGIN_ERROR_PASSWORD 100
#define NET_ERR_LOGIN_ERROR_USER 101
#define NET_ERR_LOGIN_ERROR_TIMEOUT 102
#define NET_ERR_LOGIN_ERROR_RELOGGIN 103
#define NET_ERR_LOGIN_ERROR_LOCKED 104
#define NET_ERR_LOGIN_ERROR_BLACKLIST 105
#define NET_ERR_LOGIN_ERROR_BUSY 106
#define NET_ERR_LOGIN_ERROR_CONNECT 107
#define NET_ERR_LOGIN_ERROR_NETWORK 108
#define NET_ERR_CONFIG_DEVBUSY 309
#define NET_ERR_CONFIG_DATAILLEGAL 310

/* Called when a login's connection to its device drops, and when it comes back. */
typedef void (*NET_DisconnectCallback)(int32_t login_id, const char* device_ip, int32_t device_port,
                                       intptr_t user);
typedef NET_DisconnectCallback NET_ReconnectCallback;
/* Called for each frame drawn into a window; `dc` is the device context of the window surface. */
typedef void (*NET_DrawCallback)(int32_t login_id, int32_t stream_handle, void* dc, intptr_t user);

/* Network parameters: twelve 32-bit fields; 0 keeps a field's default. */
typedef struct NET_NetworkParams {
  int32_t wait_time_ms;          /* default wait of a request */
  int32_t connect_time_ms;       /* connect time-out */
  int32_t connect_tries;
  int32_t reserved3;
  int32_t sub_connect_interval_ms;
  int32_t reserved5;
  int32_t device_info_time_ms;
  int32_t record_search_time_ms;
  int32_t reserved8;
  int32_t reserved9;
  int32_t reserved10;
  int32_t reserved11;
} NET_NetworkParams;

NETSDK_API NET_BOOL NET_Init(NET_DisconnectCallback on_disconnect, intptr_t user);
NETSDK_API void NET_Cleanup(void);
NETSDK_API void NET_SetAutoReconnect(NET_ReconnectCallback on_reconnect, intptr_t user);
NETSDK_API void NET_SetNetworkParam(const NET_NetworkParams* params);
NETSDK_API void NET_RegisterDrawFun(NET_DrawCallback draw, intptr_t user);
NETSDK_API uint32_t NET_GetLastError(void);

/* Closes a login's session with its device. */
NETSDK_API NET_BOOL NET_Logout(int32_t login_id);

#ifdef __cplusplus
}
#endif

#endif /* DEVSDK_NETSDK_H */
