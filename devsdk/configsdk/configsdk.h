/* ConfigSDK: parses the named configuration texts of the NetSDK (NET_GetNewDevConfig,
 * NET_QueryDevCaps) into fixed records. */
#ifndef DEVSDK_CONFIGSDK_H
#define DEVSDK_CONFIGSDK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define CONFIGSDK_API __attribute__((visibility("default")))

typedef int32_t CFG_BOOL;

#define CFG_CMD_ENCODE "Encode"
#define CFG_CAP_VIDEOINPUT "devVideoInput.getCaps"

/* Video format of one stream (40 bytes). */
typedef struct CFG_VIDEO_FORMAT {
  int32_t compression;      /* +0: 1 H.264 */
  int32_t bit_rate_control; /* +4: 0 constant, 1 variable */
  int32_t frame_rate;       /* +8 */
  int32_t quality;          /* +12 */
  int32_t width;            /* +16 */
  int32_t height;           /* +20 */
  int32_t bit_rate_kbps;    /* +24 */
  int32_t gop;              /* +28 */
  uint8_t reserved32[8];
} CFG_VIDEO_FORMAT;

/* One stream's settings (324 bytes). */
typedef struct CFG_STREAM_FORMAT {
  int32_t video_enable;     /* +0 */
  int32_t audio_enable;     /* +4 */
  CFG_VIDEO_FORMAT video;   /* +8 */
  uint8_t reserved48[276];
} CFG_STREAM_FORMAT;

/* The "Encode" record of one channel (1,968 bytes): main stream width and height at bytes 96
 * and 100, extra stream width and height at 420 and 424. */
typedef struct CFG_ENCODE_INFO {
  int32_t channel;              /* 0 */
  char name[64];                /* 4 */
  int32_t reserved68;
  CFG_STREAM_FORMAT main;       /* 72 */
  CFG_STREAM_FORMAT extra[3];   /* 396 */
  uint8_t reserved1368[600];
} CFG_ENCODE_INFO;

/* The "devVideoInput.getCaps" record (24 bytes). */
typedef struct CFG_VIDEOINPUT_CAPS {
  int32_t sensors;          /* 0: video inputs of the channel */
  int32_t fisheye;          /* 4: non-zero for a fisheye lens */
  int32_t max_width;        /* 8 */
  int32_t max_height;       /* 12 */
  int32_t electric_focus;   /* 16 */
  int32_t backlight;        /* 20 */
} CFG_VIDEOINPUT_CAPS;

/* Parses `text` of configuration `command` (CFG_CMD_ENCODE or CFG_CAP_VIDEOINPUT) into `out`, a
 * record of at least the command's size; the record is filled from zero. `reserved` is null.
 * Non-zero on success; 0 for an unknown command, a short record or a text that does not parse. */
CONFIGSDK_API CFG_BOOL CLIENT_ParseData(const char* command, const char* text, void* out, uint32_t out_size,
                                        void* reserved);

#ifdef __cplusplus
}
#endif

#endif /* DEVSDK_CONFIGSDK_H */
