// Play ports: open, play into a window, feed, stop, close, release; drawing and fisheye.
#include "devsdk/playsdk/playsdk.h"

extern "C" {

int32_t PLAY_OpenStreamPort(uint32_t) { return 0; }
PLAY_BOOL PLAY_Play(int32_t port, void*) { PLAY_TestSetLastError(port, PLAY_ORDER_ERROR); return 0; }
PLAY_BOOL PLAY_InputData(int32_t port, const uint8_t*, uint32_t) { PLAY_TestSetLastError(port, PLAY_ORDER_ERROR); return 0; }
PLAY_BOOL PLAY_Stop(int32_t port) { PLAY_TestSetLastError(port, PLAY_ORDER_ERROR); return 0; }
PLAY_BOOL PLAY_CloseStream(int32_t port) { PLAY_TestSetLastError(port, PLAY_ORDER_ERROR); return 0; }
PLAY_BOOL PLAY_ReleasePort(int32_t port) { PLAY_TestSetLastError(port, PLAY_ORDER_ERROR); return 0; }
PLAY_BOOL PLAY_SetDrawCallback(int32_t port, int32_t, PLAY_DrawCallback, intptr_t) { PLAY_TestSetLastError(port, PLAY_ORDER_ERROR); return 0; }
PLAY_BOOL PLAY_SetFisheyeInfoCallback(int32_t port, PLAY_FisheyeInfoCallback, intptr_t) { PLAY_TestSetLastError(port, PLAY_ORDER_ERROR); return 0; }
PLAY_BOOL PLAY_StartFisheye(int32_t port) { PLAY_TestSetLastError(port, PLAY_ORDER_ERROR); return 0; }
PLAY_BOOL PLAY_StopFisheye(int32_t port) { PLAY_TestSetLastError(port, PLAY_ORDER_ERROR); return 0; }
PLAY_BOOL PLAY_FisheyeParams(int32_t port, int32_t, PLAY_FISHEYE_PARAMS*) { PLAY_TestSetLastError(port, PLAY_ORDER_ERROR); return 0; }
PLAY_BOOL PLAY_FisheyeEptzUpdate(int32_t port, PLAY_FISHEYE_EPTZ*, int32_t) { PLAY_TestSetLastError(port, PLAY_ORDER_ERROR); return 0; }

}  // extern "C"
