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
/* Called after each frame drawn into a window by NET_RealPlayEx, on the stream's SDK thread;
 * `dc` is a device context on the window's surface, valid during the call only. */
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

/* ---- Login sessions ----
 * A login opens a control session on one TCP connection to the device. The disconnect callback
 * given to NET_Init is called (on an SDK thread) when that connection drops without NET_Logout
 * having been asked; the login handle then stays known until NET_Logout frees it, and requests
 * on it fail with NET_ERR_NETWORK_ERROR. A device that sends a malformed or oversized message
 * has its connection closed the same way. */

/* Login mode of a plain TCP login, the one the brixa library uses. */
#define NET_LOGIN_MODE_TCP 19

/* Device information filled by NET_Login (64 bytes). */
typedef struct NET_DEVICEINFO {
  char serial[48];        /* bytes 0-47: serial number text, NUL-terminated */
  uint8_t alarm_inputs;   /* byte 48 */
  uint8_t alarm_outputs;  /* byte 49 */
  uint8_t disks;          /* byte 50 */
  uint8_t device_type;    /* byte 51 */
  uint8_t channels;       /* byte 52: video channels */
  uint8_t reserved[11];
} NET_DEVICEINFO;

/* Login error codes (the error out-value of NET_Login when it returns 0). */
#define NET_LOGIN_WRONG_PASSWORD 1
#define NET_LOGIN_NO_SUCH_USER 2
#define NET_LOGIN_TIMEOUT 3
#define NET_LOGIN_ALREADY_LOGGED_IN 4
#define NET_LOGIN_LOCKED 5
#define NET_LOGIN_BLACKLISTED 6
#define NET_LOGIN_BUSY 7
#define NET_LOGIN_SUB_CONNECTION_FAILED 8
#define NET_LOGIN_MAIN_CONNECTION_FAILED 9
#define NET_LOGIN_TOO_MANY_CONNECTIONS 10

/* Logs in to the device at ip:port (IPv4). Returns the login handle (above 0), or 0 with
 * *error set to a login error code 1-10: the device's refusal, 3 when no reply came within the
 * network parameters' wait time, 9 when no connection could be made or it broke. `reserved`
 * must be null. `info` (may be null) is filled on success. */
NETSDK_API int32_t NET_Login(const char* ip, uint16_t port, const char* user, const char* password,
                             int32_t login_mode, void* reserved, NET_DEVICEINFO* info, int32_t* error);

/* Closes a login's session with its device. 0 (NET_ERR_INVALID_HANDLE) for an unknown handle. */
NETSDK_API NET_BOOL NET_Logout(int32_t login_id);

/* ---- Configuration ----
 * NET_GetDevConfig fills `buffer` with the block of `command`; `returned` receives the block's
 * size. A buffer smaller than the block fails with NET_ERR_INSUFFICIENT_BUFFER. wait_ms bounds
 * the whole request (0 or less: the network parameters' wait time). */
#define NET_DEV_DEVICECFG 1  /* NET_DEVICE_CONFIG */
#define NET_DEV_NETCFG 2     /* NET_NETWORK_CONFIG */

typedef struct NET_DEVICE_CONFIG { /* 212 bytes */
  uint32_t size;               /* 0: the block's size */
  char serial[48];             /* 4 */
  uint8_t device_type;         /* 52 */
  uint8_t channels;            /* 53 */
  uint8_t alarm_inputs;        /* 54 */
  uint8_t alarm_outputs;       /* 55 */
  uint8_t disks;               /* 56 */
  uint8_t reserved57[3];
  char software_version[32];   /* 60 */
  char reserved92[16];
  char model[32];              /* 108 */
  char reserved140[9];
  char name[32];               /* 149: the device's name text */
  uint8_t multi_preview;       /* 181: split count of the multi-channel preview (1, 4, 8, 16, 32) */
  uint8_t reserved182[22];
  uint8_t video_standard;      /* 204: 0 PAL, non-zero NTSC */
  uint8_t reserved205[7];
} NET_DEVICE_CONFIG;

typedef struct NET_ETHERNET { /* 96 bytes */
  char address[16];
  char netmask[16];
  char gateway[16];
  char mac[40];
  uint8_t reserved[8];
} NET_ETHERNET;

typedef struct NET_NETWORK_CONFIG { /* 1852 bytes */
  uint32_t size;               /* 0: the block's size */
  char host_name[16];          /* 4 */
  uint16_t max_connections;    /* 20 */
  uint16_t tcp_port;           /* 22 */
  uint16_t udp_port;           /* 24 */
  uint16_t http_port;          /* 26 */
  uint16_t https_port;         /* 28 */
  uint8_t ethernet_count;      /* 30 */
  uint8_t reserved31;
  NET_ETHERNET ethernet[4];    /* 32 */
  uint8_t reserved416[1436];
} NET_NETWORK_CONFIG;

NETSDK_API NET_BOOL NET_GetDevConfig(int32_t login_id, uint32_t command, int32_t channel, void* buffer,
                                     uint32_t size, uint32_t* returned, int32_t wait_ms);

/* Channel configuration (command NET_DEV_CHANNELCFG, per channel): the stream settings of one
 * channel. Resolution codes: 0 D1 (704 x 576/480), 1 HD1, 2 BCIF, 3 CIF (352 x 288/240), 4 QCIF,
 * 5 VGA, 6 QVGA, ... 17 720p (1280 x 720), 18 1080p; the line counts of codes 0 to 4 follow the
 * device's video standard (NET_DEVICE_CONFIG.video_standard). */
#define NET_DEV_CHANNELCFG 3 /* NET_CHANNEL_CONFIG */

typedef struct NET_STREAM_FORMAT { /* 24 bytes */
  uint8_t video_enable;       /* +0 */
  uint8_t audio_enable;       /* +1 */
  uint8_t bit_rate_control;   /* +2: 0 constant, 1 variable */
  uint8_t reserved3;
  uint8_t resolution;         /* +4: resolution code */
  uint8_t frame_rate;         /* +5: frames per second */
  uint8_t compression;        /* +6: 1 H.264 */
  uint8_t quality;            /* +7: 1-6 */
  uint16_t bit_rate_kbps;     /* +8 */
  uint16_t gop;               /* +10: frames between key frames */
  uint8_t reserved12[12];
} NET_STREAM_FORMAT;

typedef struct NET_CHANNEL_CONFIG { /* 340 bytes */
  uint16_t size;                   /* 0: the block's size, 340 */
  uint16_t reserved2;
  char name[32];                   /* 4: the channel's name text */
  NET_STREAM_FORMAT main[3];       /* 36: main stream formats; main[0].resolution is byte 40 */
  NET_STREAM_FORMAT extra[3];      /* 108: extra stream formats; extra[0].resolution is byte 112 */
  uint8_t reserved180[160];
} NET_CHANNEL_CONFIG;

/* ---- Named configuration texts ----
 * NET_GetNewDevConfig fills `buffer` with the device's text of the named configuration (for
 * example "Encode") of `channel`, NUL-terminated; NET_QueryDevCaps does the same for a named
 * capability (for example "devVideoInput.getCaps"). The texts are parsed with CLIENT_ParseData
 * (configsdk.h). On failure `error` (may be null) receives a NET_CFG_ERR_* code and the last
 * error is set; a text that does not fit in `size` fails with NET_ERR_INSUFFICIENT_BUFFER. */
#define NET_CFG_ERR_FAILED 1          /* the request failed */
#define NET_CFG_ERR_ILLEGAL_DATA 2    /* the device's answer is not a configuration text */
#define NET_CFG_ERR_NOT_AVAILABLE 3   /* temporarily not available */
#define NET_CFG_ERR_NOT_AUTHORIZED 4  /* not authorised */

NETSDK_API NET_BOOL NET_GetNewDevConfig(int32_t login_id, const char* name, int32_t channel, char* buffer,
                                        uint32_t size, int32_t* error, int32_t wait_ms);
NETSDK_API NET_BOOL NET_QueryDevCaps(int32_t login_id, const char* name, int32_t channel, char* buffer,
                                     uint32_t size, int32_t* error, int32_t wait_ms);

/* ---- Live streams ----
 * NET_RealPlayEx opens a live stream of `channel` and returns its stream handle (0: failure).
 * With a window (an HWND of the platform's window system) the SDK decodes the stream and draws
 * each frame into the window's surface, scaled to its client area, then calls the drawing
 * callback of NET_RegisterDrawFun on its own thread. Without a window (null) the stream is only
 * delivered to the real-data callback. A login handle that is no longer valid fails with
 * NET_ERR_INVALID_HANDLE (last error 0x80000004). */
#define NET_RTYPE_MAIN 2          /* main stream of the channel */
#define NET_RTYPE_EXTRA 3         /* extra stream of the channel */
#define NET_RTYPE_MULTIPLAY_1 6   /* multi-channel preview, one channel (the channel given) */
#define NET_RTYPE_MULTIPLAY_4 7   /* multi-channel previews split 4, 8, 9, 16, 6, 12, 25, 32 */
#define NET_RTYPE_MULTIPLAY_8 8
#define NET_RTYPE_MULTIPLAY_9 9
#define NET_RTYPE_MULTIPLAY_16 10
#define NET_RTYPE_MULTIPLAY_6 11
#define NET_RTYPE_MULTIPLAY_12 12
#define NET_RTYPE_MULTIPLAY_25 13
#define NET_RTYPE_MULTIPLAY_32 14

NETSDK_API int32_t NET_RealPlayEx(int32_t login_id, int32_t channel, void* window, int32_t realplay_type);
/* Stops the stream and waits until no callback of it runs any more. */
NETSDK_API NET_BOOL NET_StopRealPlay(int32_t stream_handle);

/* Data types of the real-data callback, and the flag bit that asks for each. */
#define NET_DATA_RAW 0            /* the raw stream: media blocks as PLAY_InputData takes them */
#define NET_DATA_FLAG_RAW 0x01u
#define NET_DATA_FLAG_ALL 0x1Fu   /* every type (31); this version delivers only NET_DATA_RAW */

/* Called on the stream's SDK thread for each block of the stream; the data is valid during the
 * call only. `param` is 0 for raw blocks. */
typedef void (*NET_RealDataCallBackEx)(int32_t stream_handle, uint32_t data_type, const uint8_t* data,
                                       uint32_t size, int32_t param, intptr_t user);
/* Registers (or, with a null callback, removes) the stream's real-data callback. Returns after
 * a removal only once no call of the old callback runs any more. */
NETSDK_API NET_BOOL NET_SetRealDataCallBackEx(int32_t stream_handle, NET_RealDataCallBackEx callback,
                                              intptr_t user, uint32_t flags);

/* ---- Sound, pan-tilt-zoom, snapshots and local recordings of live streams ----
 * Sound: one stream at a time plays its sound. NET_OpenSound switches it to a stream (ending the
 * sound of the one that played); NET_CloseSound ends it (also when none plays); a stream's stop
 * ends its own. The sound (G.711 A-law in the stream) is decoded to 16-bit PCM, 8000 samples a
 * second, mono, the stream's volume applied, and handed to the host site
 * (platform/window/host_site.h: play_audio with the stream handle, then stop_audio at its end)
 * on the stream's SDK thread. Volumes are percentages: 0 silent to 100 as the stream carries it
 * (the start); values outside are brought to the nearer end. */
NETSDK_API NET_BOOL NET_OpenSound(int32_t stream_handle);
NETSDK_API NET_BOOL NET_CloseSound(void);
NETSDK_API NET_BOOL NET_SetVolume(int32_t stream_handle, int32_t volume);

/* Pan-tilt-zoom commands of NET_PTZControlEx. A move or zoom runs at the speed in param2 (1
 * slowest to 8 fastest) until a call with `stop` non-zero, which ends any motion whatever the
 * command and parameters; repeating the running command keeps its speed. Presets 1 to 255 are
 * in param2; going to a preset that was never set fails with NET_ERR_NO_RECORD_FOUND. param1 and
 * param3 are passed on and unused. A channel without PTZ or an unknown command fails with
 * NET_ERR_NOT_SUPPORTED; a channel out of range or preset 0 or above 255 with
 * NET_ERR_ILLEGAL_PARAM. */
#define NET_PTZ_UP 0
#define NET_PTZ_DOWN 1
#define NET_PTZ_LEFT 2
#define NET_PTZ_RIGHT 3
#define NET_PTZ_ZOOM_IN 4
#define NET_PTZ_ZOOM_OUT 5
#define NET_PTZ_GOTO_PRESET 10
#define NET_PTZ_SET_PRESET 11
#define NET_PTZ_CLEAR_PRESET 12
NETSDK_API NET_BOOL NET_PTZControlEx(int32_t login_id, int32_t channel, uint32_t command, int32_t param1,
                                     int32_t param2, int32_t param3, NET_BOOL stop);

/* Writes the stream's last decoded picture to `path` as a 24-bit bottom-up BMP at the stream's
 * size. Only streams played into a window decode their pictures. Before the first picture it
 * fails with NET_ERR_RETURN_DATA_ERROR and writes nothing; a file that cannot be written fails
 * with NET_ERR_SYSTEM_ERROR and is removed. */
NETSDK_API NET_BOOL NET_CapturePicture(int32_t stream_handle, const char* path);
/* Records the stream into `path` (created, or emptied) as a DAV file: the raw stream, media
 * blocks (devsdk/proto/media_block.h), from the next key frame (or the fisheye lens block before
 * it) on, sound included, until NET_StopSaveRealData or the stream's stop. A recording of the
 * stream that runs already fails with NET_ERR_ILLEGAL_PARAM. NET_StopSaveRealData fails with
 * NET_ERR_ILLEGAL_PARAM when nothing is being recorded (also after a full disk ended it). */
NETSDK_API NET_BOOL NET_SaveRealData(int32_t stream_handle, const char* path);
NETSDK_API NET_BOOL NET_StopSaveRealData(int32_t stream_handle);

/* ---- Alarm inputs and outputs ----
 * The state buffer holds one 4-byte entry per input or output: two unsigned 16-bit fields, the
 * number (from 0) and the state (non-zero: closed). */
#define NET_IO_ALARM_INPUT 1  /* query only */
#define NET_IO_ALARM_OUTPUT 2

typedef struct NET_IO_STATE {
  uint16_t number;
  uint16_t state;
} NET_IO_STATE;

/* Fills one entry per input or output, as many as fit in `size`; `returned` receives the bytes
 * filled. */
NETSDK_API NET_BOOL NET_QueryIOControlState(int32_t login_id, int32_t io_type, void* buffer, uint32_t size,
                                            uint32_t* returned, int32_t wait_ms);
/* Sets output i to entry i's state for every entry in the buffer (io_type NET_IO_ALARM_OUTPUT). */
NETSDK_API NET_BOOL NET_IOControl(int32_t login_id, int32_t io_type, const void* buffer, uint32_t size);

/* ---- Alarm messages ----
 * A login listens for its device's alarms between NET_StartListenEx and NET_StopListen (or its
 * logout). Each alarm the device raises or clears reaches the message callback as the state of
 * that alarm kind on every channel: `buffer` holds one byte per channel (per alarm input for
 * NET_ALARM_INPUT), in channel order, 1 while the alarm is on. The device reports every alarm
 * that is on when listening starts. The callback runs on the SDK's one alarm thread, never on a
 * connection's reader, so it may call any NetSDK operation; its result is ignored. */
#define NET_ALARM_INPUT 0x2101       /* an alarm input closed */
#define NET_ALARM_MOTION 0x2102      /* motion detected */
#define NET_ALARM_VIDEO_LOSS 0x2103  /* video lost */
#define NET_ALARM_MASKING 0x2104     /* camera covered */
#define NET_ALARM_AUDIO 0x2105       /* sound detected */
#define NET_ALARM_DISK_FULL 0x2106   /* a disk full (one byte per disk) */
#define NET_ALARM_DISK_ERROR 0x2107  /* a disk failed (one byte per disk) */

typedef NET_BOOL (*NET_MessageCallback)(int32_t command, int32_t login_id, const char* buffer, uint32_t length,
                                        const char* device_ip, int32_t device_port, intptr_t user);
/* Registers the message callback for every login (null: none). A call already running when it
 * is replaced may still finish. */
NETSDK_API void NET_SetMessageCallback(NET_MessageCallback callback, intptr_t user);
/* Asks the device to report its alarms on this login. Fails with NET_ERR_INVALID_HANDLE for an
 * unknown login, NET_ERR_NOT_SUPPORTED when the device refuses, NET_ERR_NETWORK_ERROR without an
 * answer. Listening twice is harmless. */
NETSDK_API NET_BOOL NET_StartListenEx(int32_t login_id);
/* Ends the login's listening; alarms already on their way may still be delivered. Succeeds also
 * when the login was not listening. */
NETSDK_API NET_BOOL NET_StopListen(int32_t login_id);

/* ---- LAN device search ----
 * A search sends a request to the loopback broadcast address 127.255.255.255 on the discovery
 * port at once and every second after, and hands every answer to its callback as a device
 * search record, on the search's own thread, until NET_StopSearchDevices or NET_Cleanup. A
 * device answering several requests is reported each time. The discovery port is the one given
 * to NET_SetSearchPort; before that (or after NET_SetSearchPort(0)) the number in the
 * environment variable KAVREL_DISCOVERY_PORT, else 37810. */
typedef struct NET_DEVICE_SEARCH_INFO { /* 1052 bytes */
  uint32_t size;             /* 0: the record's size, 1052 */
  char ip[64];               /* 4: service address, NUL-terminated */
  int32_t port;              /* 68: TCP service port */
  char netmask[64];          /* 72 */
  char gateway[64];          /* 136 */
  char mac[40];              /* 200 */
  uint8_t reserved240[124];
  char serial[48];           /* 364: serial number, NUL-terminated; empty when unknown */
  uint8_t reserved412[128];
  char detail_type[64];      /* 540: model */
  uint8_t reserved604[96];
  char name[64];             /* 700: device name */
  uint8_t reserved764[32];
  uint16_t http_port;        /* 796 */
  uint8_t reserved798[254];
} NET_DEVICE_SEARCH_INFO;

typedef void (*NET_SearchDevicesCallback)(const NET_DEVICE_SEARCH_INFO* info, intptr_t user);
/* Starts a search. `local_ip` names the address to search from: null or a 127.x.y.z address
 * (anything else fails with NET_ERR_ILLEGAL_PARAM). Returns the search handle, or 0. */
NETSDK_API int32_t NET_StartSearchDevices(NET_SearchDevicesCallback callback, intptr_t user, const char* local_ip);
/* Stops the search and waits until its callback no longer runs (unless called from it). */
NETSDK_API NET_BOOL NET_StopSearchDevices(int32_t search_handle);
/* The discovery port of searches started from now on (0: the environment's, else 37810). */
NETSDK_API void NET_SetSearchPort(uint16_t port);

/* ---- Recordings ----
 * A device keeps recordings per channel as files on a schedule. Times are the device's local
 * wall-clock time. Sizes in the position notifications count KiB of the stream. */
typedef struct NET_TIME { /* 24 bytes */
  uint32_t year;   /* four digits */
  uint32_t month;  /* 1-12 */
  uint32_t day;
  uint32_t hour;
  uint32_t minute;
  uint32_t second;
} NET_TIME;

/* One recorded file (196 bytes). */
typedef struct NET_RECORDFILE_INFO {
  uint32_t channel;          /* 0 */
  char file_name[124];       /* 4: NUL-terminated */
  uint32_t frame_count;      /* 128 */
  uint32_t size;             /* 132: the file's size in KiB */
  NET_TIME start;            /* 136 */
  NET_TIME end;              /* 160 */
  uint32_t disk;             /* 184 */
  uint32_t start_cluster;    /* 188 */
  uint8_t record_type;       /* 192: 0 regular, 1 alarm, 2 motion, 3 card */
  uint8_t reserved193[3];
} NET_RECORDFILE_INFO;

/* Which days of a month hold recordings (96 bytes): day_flags[i] is non-zero for day i + 1. */
typedef struct NET_RECORD_STATUS {
  uint8_t day_flags[32];
  uint8_t reserved[64];
} NET_RECORD_STATUS;

/* Fills `buffer` (`size` bytes) with the files of `channel` that overlap start..end, in time
 * order, as many as fit; `count` receives how many. `record_type` 0 asks for all; `card` must be
 * null; `by_time` must be non-zero. No file at all is a success with count 0. */
NETSDK_API NET_BOOL NET_QueryRecordFile(int32_t login_id, int32_t channel, int32_t record_type,
                                        const NET_TIME* start, const NET_TIME* end, const char* card,
                                        NET_RECORDFILE_INFO* buffer, int32_t size, int32_t* count, int32_t wait_ms,
                                        NET_BOOL by_time);
/* The day flags of the month of `month` (year and month read, the rest ignored). */
NETSDK_API NET_BOOL NET_QueryRecordStatus(int32_t login_id, int32_t channel, int32_t record_type,
                                          const NET_TIME* month, const char* card, NET_RECORD_STATUS* status,
                                          int32_t wait_ms);

/* Playback position: total and played KiB of the playback's span; called on an SDK thread. */
typedef void (*NET_PlayPosCallback)(int32_t play_handle, uint32_t total_size, uint32_t download_size,
                                    intptr_t user);
/* The playback's raw stream (NET_DATA_RAW media blocks); the result is ignored. */
typedef int32_t (*NET_PlayDataCallback)(int32_t play_handle, uint32_t data_type, const uint8_t* data,
                                        uint32_t size, intptr_t user);

/* Plays the channel's recordings from start to end into `window` (decoded and drawn as live
 * streams are, the drawing callback included) at normal speed. Returns the playback handle, or 0
 * (NET_ERR_OPEN_CHANNEL_ERROR when the device could not open the playback). When the span ends
 * the picture stays on its last frame. */
NETSDK_API int32_t NET_PlayBackByTimeEx(int32_t login_id, int32_t channel, const NET_TIME* start, const NET_TIME* end,
                                        void* window, NET_PlayPosCallback position, intptr_t position_user,
                                        NET_PlayDataCallback data, intptr_t data_user);
/* Stops the playback and waits until no callback of it runs any more. */
NETSDK_API NET_BOOL NET_StopPlayBack(int32_t play_handle);
NETSDK_API NET_BOOL NET_PausePlayBack(int32_t play_handle, NET_BOOL pause);
/* Speeds: 1/8, 1/4, 1/2, 1, 2, 4, 8; fast and slow move one step, normal returns to 1. */
NETSDK_API NET_BOOL NET_FastPlayBack(int32_t play_handle);
NETSDK_API NET_BOOL NET_SlowPlayBack(int32_t play_handle);
NETSDK_API NET_BOOL NET_NormalPlayBack(int32_t play_handle);
/* The time of the picture on screen, and the playback's span. Fails before the first picture. */
NETSDK_API NET_BOOL NET_GetPlayBackOsdTime(int32_t play_handle, NET_TIME* osd_time, NET_TIME* start_time,
                                           NET_TIME* end_time);

/* Download progress: total and downloaded KiB; downloaded is 0xFFFFFFFF once the file is
 * complete (the last call). `index` and `info` name the recorded file being read (info may be
 * null). Called on an SDK thread. */
typedef void (*NET_TimeDownloadPosCallback)(int32_t download_handle, uint32_t total_size, uint32_t download_size,
                                            int32_t index, const NET_RECORDFILE_INFO* info, intptr_t user);
/* Downloads start..end of the channel's recordings into `file_name` as a DAV file: the raw
 * stream, a sequence of media blocks (devsdk/proto/media_block.h) and nothing else. Returns the
 * download handle, or 0. */
NETSDK_API int32_t NET_DownloadByTime(int32_t login_id, int32_t channel, int32_t record_type, const NET_TIME* start,
                                      const NET_TIME* end, const char* file_name,
                                      NET_TimeDownloadPosCallback position, intptr_t user);
/* Stops the download (the file keeps what was written) and waits until no callback of it runs. */
NETSDK_API NET_BOOL NET_StopDownload(int32_t download_handle);

#ifdef __cplusplus
}
#endif

#endif /* DEVSDK_NETSDK_H */
