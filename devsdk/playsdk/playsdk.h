/* PlaySDK: decoding and rendering of our Device SDK. A play port is a 32-bit number; 0 means
 * failure. After a failed call, PLAY_GetLastError(port) gives a code 0-24.
 *
 * A play port takes the raw stream of a live stream (the NetSDK's NET_DATA_RAW blocks, in any
 * cut) through PLAY_InputData, decodes it on a thread of its own and draws each picture into the
 * window given to PLAY_Play, scaled to the window's client area; after each picture it calls the
 * port's drawing callback. With fisheye processing started, the circular picture is dewarped into
 * the views of the port's visualization mode. */
#ifndef DEVSDK_PLAYSDK_H
#define DEVSDK_PLAYSDK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PLAYSDK_API __attribute__((visibility("default")))

typedef int32_t PLAY_BOOL;

/* Last error codes. */
#define PLAY_NOERROR 0
#define PLAY_PARA_OVER 1         /* a parameter is out of range */
#define PLAY_ORDER_ERROR 2       /* call order: e.g. play before open */
#define PLAY_TIMER_ERROR 3
#define PLAY_DEC_VIDEO_ERROR 4
#define PLAY_DEC_AUDIO_ERROR 5
#define PLAY_ALLOC_MEMORY_ERROR 6
#define PLAY_OPEN_FILE_ERROR 7
#define PLAY_CREATE_OBJ_ERROR 8
#define PLAY_BUF_OVER 11         /* the stream buffer is full */
#define PLAY_NOT_SUPPORT 24

PLAYSDK_API uint32_t PLAY_GetLastError(int32_t port);

/* Test hook: sets the last error code of `port`. */
PLAYSDK_API void PLAY_TestSetLastError(int32_t port, uint32_t code);

/* ---- Play ports ----
 * PLAY_OpenStreamPort takes a free port and opens it for a stream with a buffer of
 * `buffer_size` bytes (the brixa library asks for 921,600). PLAY_Play starts decoding and drawing
 * into `window` (an HWND of the platform's window system). PLAY_InputData queues stream bytes;
 * it fails with PLAY_BUF_OVER when the buffer is full. PLAY_Stop stops decoding and waits until
 * no callback of the port runs; PLAY_CloseStream closes the stream; PLAY_ReleasePort frees the
 * port number. */
PLAYSDK_API int32_t PLAY_OpenStreamPort(uint32_t buffer_size);
PLAYSDK_API PLAY_BOOL PLAY_Play(int32_t port, void* window);
PLAYSDK_API PLAY_BOOL PLAY_InputData(int32_t port, const uint8_t* data, uint32_t size);
PLAYSDK_API PLAY_BOOL PLAY_Stop(int32_t port);
PLAYSDK_API PLAY_BOOL PLAY_CloseStream(int32_t port);
PLAYSDK_API PLAY_BOOL PLAY_ReleasePort(int32_t port);

/* Called on the port's thread after each picture drawn into the window; `dc` is a device
 * context on the window's surface, valid during the call only. */
typedef void (*PLAY_DrawCallback)(int32_t port, void* dc, intptr_t user);
/* Region 0 is the whole window (the only region). A null callback removes it. */
PLAYSDK_API PLAY_BOOL PLAY_SetDrawCallback(int32_t port, int32_t region, PLAY_DrawCallback callback,
                                           intptr_t user);

/* ---- Fisheye ----
 * Lens geometry as the stream reports it: the circle's centre and radius in units of 1/8192 of
 * the picture's width (centre X, radius) and height (centre Y); the width and height ratio are
 * the picture's proportions (its width and height in pixels). */
typedef void (*PLAY_FisheyeInfoCallback)(int32_t port, uint8_t correction_mode, uint16_t radius,
                                         uint16_t center_x, uint16_t center_y, int32_t width_ratio,
                                         int32_t height_ratio, uint8_t gain, uint8_t denoise_level,
                                         uint8_t installation_style, intptr_t user);
/* Called on the port's thread when the stream first reports its lens, and whenever it changes. */
PLAYSDK_API PLAY_BOOL PLAY_SetFisheyeInfoCallback(int32_t port, PLAY_FisheyeInfoCallback callback,
                                                  intptr_t user);
PLAYSDK_API PLAY_BOOL PLAY_StartFisheye(int32_t port);
PLAYSDK_API PLAY_BOOL PLAY_StopFisheye(int32_t port);

/* Mount modes and visualization modes of the fisheye parameter block. */
#define PLAY_FISHEYE_MOUNT_CEILING 1
#define PLAY_FISHEYE_MOUNT_WALL 2
#define PLAY_FISHEYE_MOUNT_FLOOR 3

#define PLAY_FISHEYE_VIEW_ORIGINAL 2         /* the circle as it is */
#define PLAY_FISHEYE_VIEW_PANORAMA 3         /* one panorama */
#define PLAY_FISHEYE_VIEW_PANORAMA_1EPTZ 4
#define PLAY_FISHEYE_VIEW_ORIGINAL_3EPTZ 7
#define PLAY_FISHEYE_VIEW_PANORAMA_3EPTZ 8
#define PLAY_FISHEYE_VIEW_ORIGINAL_2EPTZ 9
#define PLAY_FISHEYE_VIEW_ORIGINAL_4EPTZ 10
#define PLAY_FISHEYE_VIEW_PANORAMA_4EPTZ 11
#define PLAY_FISHEYE_VIEW_PANORAMA_6EPTZ 12
#define PLAY_FISHEYE_VIEW_ORIGINAL_8EPTZ 13
#define PLAY_FISHEYE_VIEW_PANORAMA_8EPTZ 14
#define PLAY_FISHEYE_VIEW_DOUBLE_PANORAMA 15 /* two half panoramas, one above the other */

#pragma pack(push, 4)

/* One view window of the layout (32 bytes), in the layout's own units. */
typedef struct PLAY_FISHEYE_WINDOW {
  int32_t kind;             /* +0: 0 original, 1 panorama, 2 electronic PTZ */
  int32_t reserved4;
  int32_t width;            /* +8 */
  int32_t height;           /* +12 */
  int16_t left;             /* +16 */
  int16_t top;              /* +18 */
  uint8_t reserved20[12];
} PLAY_FISHEYE_WINDOW;

#define PLAY_FISHEYE_MAX_WINDOWS 9

/* Display record (40 bytes), owned by the caller: the screen size it gives, and the work area
 * (288 bytes, PLAY_FISHEYE_MAX_WINDOWS windows) and window count that a get fills. The work-area
 * pointer takes bytes 24 to 31, so the window count sits at byte 32. */
typedef struct PLAY_FISHEYE_DISPLAY {
  int32_t screen_width;               /* 0 */
  int32_t screen_height;              /* 4 */
  uint8_t reserved8[16];
  PLAY_FISHEYE_WINDOW* windows;       /* 24: the 288-byte work area, or null */
  int32_t window_count;               /* 32: filled by a get */
  int32_t reserved36;
} PLAY_FISHEYE_DISPLAY;

/* Fisheye parameter block (372 bytes). */
typedef struct PLAY_FISHEYE_PARAMS {
  int32_t width_ratio;                /* 0 */
  int32_t height_ratio;               /* 4 */
  int32_t center_x;                   /* 8: 1/8192 of the width */
  int32_t center_y;                   /* 12: 1/8192 of the height */
  int32_t radius;                     /* 16: 1/8192 of the width */
  int32_t reserved20;
  int32_t mount_mode;                 /* 24: PLAY_FISHEYE_MOUNT_* */
  int32_t visualization;              /* 28: PLAY_FISHEYE_VIEW_* */
  uint8_t reserved32[304];
  PLAY_FISHEYE_DISPLAY* display;      /* 336: display record, or null */
  uint8_t reserved344[28];
} PLAY_FISHEYE_PARAMS;

/* Electronic-PTZ update (96 bytes). */
typedef struct PLAY_FISHEYE_EPTZ {
  int32_t operation;        /* 0: 32 move, 13 rotate, 1 zoom in, 2 zoom out, 9 stop */
  int32_t window;           /* 4: the layout window */
  int32_t value;            /* 8: 18 for a move, the step of a rotate, 4 for a zoom */
  int32_t horizontal_step;  /* 12 */
  int32_t vertical_step;    /* 16 */
  uint8_t reserved20[76];
} PLAY_FISHEYE_EPTZ;

#pragma pack(pop)

#define PLAY_FISHEYE_SET 0
#define PLAY_FISHEYE_GET 1
/* Operation PLAY_FISHEYE_SET takes lens geometry, mount mode and visualization from the block;
 * PLAY_FISHEYE_GET writes the port's values into it and, when the block has a display record
 * with a work area, fills the layout's windows and their count (the display pointer itself is
 * kept). */
PLAYSDK_API PLAY_BOOL PLAY_FisheyeParams(int32_t port, int32_t operation, PLAY_FISHEYE_PARAMS* params);
/* Moves, rotates or zooms a layout window; `reserved` is 0. */
PLAYSDK_API PLAY_BOOL PLAY_FisheyeEptzUpdate(int32_t port, PLAY_FISHEYE_EPTZ* update, int32_t reserved);

/* ---- Sound and snapshots of a port ----
 * One port at a time plays the sound in its stream (G.711 A-law blocks): PLAYER_PlaySound
 * switches it to a port (ending the sound of the one that played), PLAYER_StopSound ends it, a
 * port's stop or release ends its own. The sound goes to the host site
 * (platform/window/host_site.h) as 16-bit PCM, 8000 samples a second, mono, under the stream
 * number PLAY_SOUND_STREAM_BASE + port, on the port's thread. Volumes are percentages, 0 silent
 * to 100 (the start); values outside are brought to the nearer end. */
#define PLAY_SOUND_STREAM_BASE 0x40000000
PLAYSDK_API PLAY_BOOL PLAYER_PlaySound(int32_t port);
PLAYSDK_API PLAY_BOOL PLAYER_StopSound(void);
PLAYSDK_API PLAY_BOOL PLAYER_SetVolume(int32_t port, int32_t volume);
/* Writes the port's last decoded picture (as the stream carries it, before any dewarping) to
 * `path` as a 24-bit bottom-up BMP at the stream's size. Fails with PLAY_ORDER_ERROR before the
 * first picture (nothing written) and PLAY_OPEN_FILE_ERROR when the file cannot be written (it
 * is removed). */
PLAYSDK_API PLAY_BOOL PLAY_CapturePicture(int32_t port, const char* path);

#ifdef __cplusplus
}
#endif

#endif /* DEVSDK_PLAYSDK_H */
