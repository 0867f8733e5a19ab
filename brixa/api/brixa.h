/* brixa: the device-access library of the kavrel control.
 *
 * Conventions
 *  1. Results. Exports return integers: 0 is success (or, for handles, a non-null value);
 *     BRIXA_ERR_FAILED (-1) means the client handle is not registered or the operation failed;
 *     BRIXA_ERR_NOT_INITIALISED (-2) means brixa_init has not run (there is no client registry);
 *     BRIXA_ERR_NO_SESSION (-3) means the client is registered but has no logged-in session for
 *     that device. Further negative codes are listed at the export that returns them.
 *  2. Handles. A client handle comes from brixa_create and stays valid until brixa_release or
 *     brixa_uninit. Every export that takes one checks it against the client registry first; a
 *     null or unknown handle is refused without touching memory.
 *  3. Callbacks. Each client may attach one callback. Every asynchronous result is delivered to
 *     it on the library's one dispatcher thread, one message at a time, in posting order over
 *     all clients, with no library lock held, so the callback may call any export. It must not
 *     wait for another callback to be delivered.
 *  4. Payloads. The info pointer of a callback belongs to the library and is valid only until
 *     the callback returns; copy what you keep. When info_len is 0 there is no payload and info
 *     must not be read; otherwise info holds info_len bytes followed by a NUL.
 *  5. Texts are NUL-terminated 8-bit strings (UTF-8 on this platform); lengths count bytes.
 *     Device identifiers are compared byte for byte.
 *  6. Nothing is thrown across this interface, and nothing the library allocates is handed out
 *     except callback payloads.
 */
#ifndef BRIXA_API_BRIXA_H
#define BRIXA_API_BRIXA_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(BRIXA_BUILDING)
#define BRIXA_API __attribute__((visibility("default")))
#else
#define BRIXA_API
#endif

/* ---- Result codes shared by the exports ---- */
#define BRIXA_OK 0
#define BRIXA_ERR_FAILED (-1)          /* client not registered, or the operation failed */
#define BRIXA_ERR_NOT_INITIALISED (-2) /* no client registry: brixa_init has not run */
#define BRIXA_ERR_NO_SESSION (-3)      /* no (logged-in) session with that device identifier */

/* ---- Handles ---- */
typedef struct brixa_client* brixa_handle;         /* a client, from brixa_create */
typedef struct brixa_connector* brixa_connection;  /* a tunnel connection, from brixa_create_connect */

/* ---- Callback identifiers ---- */
#define BRIXA_CB_CALLBACK_SEARCH_DEVICE 1
#define BRIXA_CB_CALLBACK_P2P_MAPPED 255
#define CB_CALLBACK_P2P_CONNECTED 256 /* reserved for the control; never posted by the library */
#define BRIXA_CB_CALLBACK_GET_DEVINFO 257
#define BRIXA_CB_CALLBACK_GET_LIVE_ALERT 258
#define BRIXA_CB_CALLBACK_QUERY_RECORD 259
#define BRIXA_CB_CALLBACK_QUERY_RECORD_STATUS 260
#define BRIXA_CB_CALLBACK_BACKUP_PROGRESS 261
#define BRIXA_CB_CALLBACK_BACKUP_COMPLETED 262
#define BRIXA_CB_CALLBACK_BIZ_GET_LIST_SN 513
#define BRIXA_CB_CALLBACK_BIZ_GET_DEVLIST 514
#define BRIXA_CB_CALLBACK_BIZ_GET_CAMLIST 515
#define BRIXA_CB_CALLBACK_BIZ_SET_DEVLIST 516
#define BRIXA_CB_CALLBACK_BIZ_SET_CAMLIST 517

/* The client's callback. `user` is the value given to brixa_cli_attach_callback. param1 is
 * pointer-sized because some identifiers carry a handle in it (255: the connection handle).
 * The result is ignored. */
typedef int (*brixa_callback)(intptr_t user, brixa_handle client, int32_t id, intptr_t param1,
                              int32_t param2, const char* info, int32_t info_len);

/* ---- Library frame, clients and callbacks ---- */

/* Starts the library: sockets, the tunnel library (when not yet started) with the tunnel
 * service's address, port and key, the Device SDK, the client registry, the callback queue, the
 * tunnel check thread and the stuck-connection monitor. Call once; a second call without
 * brixa_uninit leaves the running library as it is. */
BRIXA_API void brixa_init(const char* svraddr, uint16_t svrport, const char* svrkey);
/* Stops every library thread, releases every client still registered, shuts the Device SDK and
 * the tunnel library down. */
BRIXA_API void brixa_uninit(void);
/* Bounds the local ports the tunnel library may map; the tunnel library's result. */
BRIXA_API int32_t brixa_set_port_range(int32_t first_port, int32_t last_port);
/* A new client, or null when it cannot be allocated. Works before brixa_init. */
BRIXA_API brixa_handle brixa_create(void);
/* Stops the client's streams, logs its sessions out, frees its tunnels and the client. Detach
 * its callback first. */
BRIXA_API void brixa_release(brixa_handle client);
/* Registers the client's one callback (replacing an older one) and starts the dispatcher. */
BRIXA_API int32_t brixa_cli_attach_callback(brixa_handle client, brixa_callback fn, intptr_t user);
/* Removes the client's callback. When it returns, no callback for that client is running on
 * the dispatcher thread (unless it is called from inside that very callback). */
BRIXA_API int32_t brixa_cli_detach_callback(brixa_handle client);
/* Traces the NetSDK's last error with its name: "Error: <name> <line> (<message> <error name>)". */
BRIXA_API void brixa_error(const char* name, int32_t line, const char* message);
/* Traces the PlaySDK's last error of `port` with its text. */
BRIXA_API void brixa_play_error(const char* name, int32_t line, const char* message, int32_t port);

/* ---- Tunnel connectors ---- */

/* A tunnel connection maps TCP port `dev_port` of the device `dev_id` onto a port of
 * 127.0.0.1 through the tunnel library, and creates the device session that brixa_login then
 * uses. `local_port` asks for that very local port (0: the tunnel library chooses, within the
 * range of brixa_set_port_range). The tunnel may still be coming up when this returns; every
 * later change of its status arrives as BRIXA_CB_CALLBACK_P2P_MAPPED with param1 = the
 * connection handle, param2 = the status (0 trying, 1 connected, -1 port not found, -2 failed,
 * -3 interrupted, -4 device not online, -5 port key refused) and info = the device identifier.
 * When a tunnel is lost the device's session is logged out.
 * The connection handle, or null: library not initialised, client not registered, identifier
 * longer than 63 bytes, tunnel library not ready within about 5 s, or the port not mapped.
 * Waits up to about 5 s; call it from a worker thread. */
BRIXA_API brixa_connection brixa_create_connect(brixa_handle client, const char* dev_id, uint16_t dev_port,
                                                uint16_t local_port);
/* The local port of the connection; -1 when the client or the connection is not known (also
 * after its release); -2 when the library is not initialised. (The name has three n.) */
BRIXA_API int32_t brixa_connnect_get_mapped_port(brixa_handle client, brixa_connection connection);
/* Marks the connection suspended. */
BRIXA_API void brixa_suspend_connect(brixa_handle client, brixa_connection connection);
/* Logs the connection's session out, closes its tunnel and frees the session and connection.
 * -2 when the library is not initialised, otherwise -1 whether or not anything was released. */
BRIXA_API int32_t brixa_release_connect(brixa_handle client, brixa_connection connection);


/* ---- Device sessions and alarm outputs ----
 * A device session is created with its tunnel connection (brixa_create_connect) and logged in
 * through "127.0.0.1" and the tunnel's mapped local port. The exports find a session of the
 * client by device identifier, newest first: the first one that is logged in, except
 * brixa_logout, brixa_reset and (after checking that some session of the identifier is logged
 * in) brixa_start_get_device_info and brixa_stop_get_device_info, which take the first one
 * whether logged in or not. -3 (BRIXA_ERR_NO_SESSION) when there is none. */

/* Logs the session of dev_id whose tunnel maps dev_port in with the user and password. A session
 * already logged in there is shared: its login count goes up and 0 is returned at once. Results:
 * 0 logged in; a login error code 1-10 (1 wrong password, 2 no such user, 3 time-out, 4 account
 * logged in, 5 locked, 6 black-listed, 7 busy, 8 sub connection failed, 9 main connection
 * failed, 10 too many connections); -1 client not registered, texts too long for their fields
 * (an identifier of 128 bytes or more, a user of 64 or more, a password of 32 or more) or no
 * session with that identifier and port (the new login is then closed); -2. */
BRIXA_API int32_t brixa_login(brixa_handle client, const char* dev_id, uint16_t dev_port, const char* dev_user,
                              const char* dev_pass);
/* Takes one login back; the last one logs the device out (the session and its tunnel stay).
 * 0, also when there is nothing to log out; -2. */
BRIXA_API int32_t brixa_logout(brixa_handle client, const char* dev_id);
/* Logs the session out and deletes it with its tunnel connection, whatever its login count.
 * Its live streams, playback and alert listening are not stopped. 0; -1; -2; -3. */
BRIXA_API int32_t brixa_reset(brixa_handle client, const char* dev_id);
/* The login handle (above 0); -1; -2; -3. */
BRIXA_API int32_t brixa_get_login_id(brixa_handle client, const char* dev_id);
/* The channel count the device reported at login; -1; -2; -3. */
BRIXA_API int32_t brixa_get_dev_channel_count(brixa_handle client, const char* dev_id);
/* Starts the device-information thread, which posts BRIXA_CB_CALLBACK_GET_DEVINFO with param1 0
 * and param2 0 and the JSON description, or param2 -1 and the identifier on failure. Results:
 * 0 started; -3 not logged in; -4 no channels (nothing is posted); -5 a thread was recorded
 * already (it is joined and a new one is started all the same); -6 the thread could not start;
 * -1; -2. */
BRIXA_API int32_t brixa_start_get_device_info(brixa_handle client, const char* dev_id);
/* Tells the device-information thread to give up and waits for it. 0; -1; -2; -3. */
BRIXA_API int32_t brixa_stop_get_device_info(brixa_handle client, const char* dev_id);
/* The device's HTTP, HTTPS and TCP service ports from its network configuration; -3 also when
 * the configuration cannot be read; -1; -2. */
BRIXA_API int32_t brixa_get_HTTP_port(brixa_handle client, const char* dev_id);
BRIXA_API int32_t brixa_get_HTTPS_port(brixa_handle client, const char* dev_id);
BRIXA_API int32_t brixa_get_TCP_port(brixa_handle client, const char* dev_id);
/* The number of alarm outputs the device reported at login; -1; -2; -3. */
BRIXA_API int32_t brixa_get_output_count(brixa_handle client, const char* dev_id);
/* 1 when the output is closed, 0 when open; -1 the device did not answer; -3 also when the
 * device's output count is not 1 to 16 or the index is not 0 to count - 1 (no query is made);
 * -2. */
BRIXA_API int32_t brixa_get_output(brixa_handle client, const char* dev_id, int32_t output_index);
/* Closes (closed non-zero) or opens one output, writing the others back as the device reported
 * them a moment before. 0; -1 query or control refused; -3 as brixa_get_output; -2. */
BRIXA_API int32_t brixa_set_output(brixa_handle client, const char* dev_id, int32_t output_index, int32_t closed);
BRIXA_API int32_t brixa_open_output(brixa_handle client, const char* dev_id, int32_t output_index);
BRIXA_API int32_t brixa_close_output(brixa_handle client, const char* dev_id, int32_t output_index);


/* ---- Cloud account ---- */

/* The cloud account service is reached with one signed HTTP/1.1 POST per request; every list
 * operation below blocks the calling thread for its exchanges and reports its outcome twice: as
 * its result and as a callback with the same identifier family (513 to 517), whose param1 is 0
 * and whose param2 is 0 on success (HTTP status 200) or the outcome otherwise.
 *
 * Outcomes: the reply's HTTP status (200 is success); one of the transport codes below; or
 * BRIXA_ERR_FAILED when the request was not sent: the client has no cloud session (biz_create
 * was given a URL without "http://"), a set list is not JSON, or a secret member of it cannot
 * be encrypted (not a text, or longer than 53 bytes). Exchanges on one client are serialised;
 * several threads may call these exports at once. */
#define BRIXA_ERR_CLOUD_TRANSPORT (-4612) /* socket, name resolution, connect, send or header read failed */
#define BRIXA_ERR_CLOUD_NO_HEADER (-4613) /* no reply header arrived in time */
#define BRIXA_ERR_CLOUD_STATUS (-4616)    /* the reply's status line could not be read */
#define BRIXA_ERR_CLOUD_BODY (-4617)      /* the reply body could not be read */

/* Gives the client a cloud session: service URL "http://host[:port][/path]", application key
 * and pass (at most 127 bytes each), account user and password (at most 63 bytes each; used
 * only when both are non-empty), and use_sess, passed through in every request. Replaces an
 * older session. Returns 0 even when the URL is unusable; the client then has no session. */
BRIXA_API int32_t biz_create(brixa_handle client, const char* app_key, const char* app_pass,
                             const char* url, const char* user, const char* pass, int32_t use_sess);
/* Drops the client's cloud session. Returns 0. */
BRIXA_API int32_t biz_release(brixa_handle client);
/* The serial numbers of the account's lists: callback 513 carries the reply
 * {"devs_sn": n, "cams_sn": n} on success, no payload otherwise. */
BRIXA_API int32_t biz_get_list_sn(brixa_handle client);
/* The account's device list: callback 514 carries it with the device identifiers and logins
 * decrypted, as formatted JSON; param2 is -1 (result still 200) when the reply is not JSON. */
BRIXA_API int32_t biz_get_device_list(brixa_handle client);
/* The account's camera list, groups at every depth: callback 515, as for 514. */
BRIXA_API int32_t biz_get_cam_list(brixa_handle client);
/* biz_get_list_sn, biz_get_device_list and biz_get_cam_list in this order, each with its own
 * callback whatever the earlier ones gave; returns the outcome of the last. */
BRIXA_API int32_t biz_get_list(brixa_handle client);
/* Writes the account's device list {"devs": [...]}; update_sn is passed to the service.
 * Callback 516 carries the reply (with the new serial "sn") on success. */
BRIXA_API int32_t biz_set_device_list(brixa_handle client, int32_t update_sn, const char* list);
/* Writes the account's camera list {"cams": [...]}; members "sn" are not sent. Callback 517
 * carries the reply on success. */
BRIXA_API int32_t biz_set_cam_list(brixa_handle client, const char* list);
/* Decrypts a base64 AES-256-ECB cipher text made under `pass_phrase` into `out`, which must
 * hold at least 112 bytes; zero it first (plus one byte) and read the result as text. Writes
 * nothing for an empty or over-long cipher text. Needs no client or brixa_init. Returns 0. */
BRIXA_API int32_t brixa_aes_decrypt(const char* cipher, char* out, const char* pass_phrase);


/* ---- Live streams ----
 * A live stream is one channel (0 to 63) of a logged-in device, decoded and drawn into a window
 * the caller owns (`hwnd`, a window handle of the platform's window system). Each stream gets
 * a capture: the overlays (alarm texts, the disconnection notice after 30 s without frames)
 * and the picture modes below act on it by its window. A one-channel fisheye camera is drawn
 * through a fisheye play port instead; its mount mode and visualization can then be changed.
 * These exports wait on the device; call them from a worker thread. */

/* Stream identifiers. */
#define BRIXA_STREAM_MAIN 0
#define BRIXA_STREAM_EXTRA 1
#define BRIXA_STREAM_MULTI 2 /* multi-channel preview (channel 0 on an ordinary device) */

/* Starts the stream. 0 started (also when a fisheye play port could not be set up: the pane
 * stays black and a stop still releases everything); -1; -2; -3 not logged in; -4 the channel
 * is streaming already or is not 0 to 63; -5 the device refused the stream (an invalid login
 * then resets the device session). */
BRIXA_API int32_t brixa_start_realplay(brixa_handle handle, void* hwnd, const char* dev_id, int32_t chl_id,
                                       int32_t stream_id);
/* Stops the stream and deletes the channel's capture. 0; -1; -2; -3 no session, or not logged in
 * (a stream still running is stopped all the same); -4 the channel was not streaming (its
 * capture is still deleted) or is not 0 to 63. */
BRIXA_API int32_t brixa_stop_realplay(brixa_handle handle, const char* dev_id, int32_t chl_id);
/* The channel's width and height in pixels (0 when unknown) for the main stream or, with
 * stream_id 1, the extra stream. 0; -1; -2; -3 null output or not logged in; -4 channel not 0-63. */
BRIXA_API int32_t brixa_get_channel_resolution(brixa_handle handle, const char* dev_id, int32_t chl_id,
                                               int32_t stream_id, int32_t* width, int32_t* height);
/* The facts of the tunnel that carries the device: relay (1) or direct (0), the local and remote
 * NAT types and the remote tunnel version. 0; -1; -2; -3 any output null (nothing is written)
 * or no logged-in session with a tunnel. */
BRIXA_API int32_t brixa_get_connection_type(brixa_handle handle, const char* dev_id, int32_t* usingRelay,
                                            int32_t* localNATType, int32_t* remoteNATType, int32_t* remoteVersion);
/* Fisheye mount mode (1 ceiling, 2 wall, 3 floor) and visualization of a streaming fisheye
 * channel; nothing happens before the lens geometry has arrived. */
BRIXA_API void brixa_set_fisheye_mount_mode(brixa_handle handle, const char* dev_id, int32_t chl_id,
                                            int32_t mount_mode);
BRIXA_API void brixa_set_fisheye_visualization(brixa_handle handle, const char* dev_id, int32_t chl_id,
                                               int32_t visualization_mode);

/* ---- Picture modes of a streaming window ----
 * Each finds the stream by its window and does nothing when the window shows no stream. Modes
 * are off when a stream starts. */

/* History view: the picture shrunk to two thirds with thumbnails of the recent past around it;
 * a thumbnail is taken every `milliseconds` (1500 at first). */
BRIXA_API void brixa_set_history_mode(void* window, int32_t mode);
BRIXA_API void brixa_set_history_interval(void* window, int32_t milliseconds);
/* Wide dynamic range (backlight compensation): local-contrast equalisation of every frame with
 * an intensity of 0 to 100 (25 at first; other values are ignored). */
BRIXA_API void brixa_set_wdr_mode(void* window, int32_t mode);
BRIXA_API void brixa_set_wdr_intensity(void* window, int32_t intensity);
/* Freeze: holds the next picture and shows the live stream in an inset in `corner` (0 top left,
 * 1 top right, 2 bottom left, 3 bottom right; other values keep the corner). Mode 0 lets go of
 * the held picture. */
BRIXA_API void brixa_set_freeze_mode(void* window, int32_t mode, int32_t corner);

/* ---- Sound and pan-tilt-zoom of a streaming channel ----
 * Each finds the client's logged-in session of dev_id and needs the channel to be streaming:
 * -1 client not registered; -2; -3 no logged-in session; -4 the channel is not streaming (or not
 * 0 to 63), nothing is sent then. A fisheye channel plays its sound through its play port, and
 * its PTZ commands act on the electronic-PTZ windows of its dewarped view instead of the camera. */

/* One stream plays sound at a time: opening it stops whatever played. The sound reaches the host
 * site as 16-bit PCM (platform/window/host_site.h). 0; -1 the Device SDK refused; -3 also when
 * the play port of a fisheye channel refused. */
BRIXA_API int32_t brixa_open_sound(brixa_handle handle, const char* dev_id, int32_t chl_id);
/* Stops the sound, whichever stream plays it. 0; -1 the Device SDK refused. */
BRIXA_API int32_t brixa_close_sound(brixa_handle handle, const char* dev_id, int32_t chl_id);
/* Volume of the channel's sound in percent, 0 silent to 100 (the start), passed on unchanged.
 * 0 also when the Device SDK refused (traced). */
BRIXA_API int32_t brixa_setvolume(brixa_handle handle, const char* dev_id, int32_t chl_id, int32_t volume);

/* PTZ commands: moves and zooms run at speed `parameter` (1 to 8) until a call with `stop`
 * non-zero, which ends any motion whatever its command; presets 1 to 255 are in `parameter`.
 * Only the low byte of `parameter` is sent. On a fisheye channel, 0 to 5 move (or, in the
 * original-plus-EPTZ views on the original, rotate) and zoom the selected window, 10 selects
 * window `parameter` - 1 (0 selects none), and any command with `stop` sends the stop. */
#define BRIXA_PTZ_UP 0
#define BRIXA_PTZ_DOWN 1
#define BRIXA_PTZ_LEFT 2
#define BRIXA_PTZ_RIGHT 3
#define BRIXA_PTZ_ZOOM_IN 4
#define BRIXA_PTZ_ZOOM_OUT 5
#define BRIXA_PTZ_GOTO_PRESET 10
#define BRIXA_PTZ_SET_PRESET 11
#define BRIXA_PTZ_CLEAR_PRESET 12
/* 0 (also when the Device SDK refused; traced). */
BRIXA_API int32_t brixa_ptz_command(brixa_handle handle, const char* dev_id, int32_t chl_id, int32_t command,
                                    int32_t parameter, int32_t stop);

/* ---- Snapshots and local recordings ----
 * The Device SDK writes the files: a snapshot is the stream's last picture as a 24-bit BMP at
 * the stream's size, a recording the raw stream as DAV from its next key frame on. The playback
 * variants act on the device's running playback. Results: 0; -1 client not registered or the
 * Device SDK refused (traced with its error); -2; -3 no logged-in session (brixa_save_picture
 * also: the channel has no capture, or its stream has stalled and is shown as disconnected); -4
 * no live stream on the channel (or no playback; a channel not 0 to 63). */
BRIXA_API int32_t brixa_save_picture(brixa_handle handle, const char* dev_id, int32_t chl_id, const char* file_path);
BRIXA_API int32_t brixa_save_play_picture(brixa_handle handle, const char* dev_id, const char* file_path);
/* A recording that runs already is refused (-1); stopping when none runs is refused too (-1). */
BRIXA_API int32_t brixa_start_recording(brixa_handle handle, const char* dev_id, int32_t chl_id,
                                        const char* file_path);
BRIXA_API int32_t brixa_stop_recording(brixa_handle handle, const char* dev_id, int32_t chl_id);
BRIXA_API int32_t brixa_start_play_recording(brixa_handle handle, const char* dev_id, const char* file_path);
BRIXA_API int32_t brixa_stop_play_recording(brixa_handle handle, const char* dev_id);


/* ---- Playback, backup, record queries, alerts, device search ---- */

/* Times are local wall-clock texts of 14 digits, "YYYYMMDDhhmmss" (missing trailing fields read
 * as 0); months are 6 digits, "YYYYMM". */

/* Playback control commands of brixa_control_playback. */
#define BRIXA_PLAYBACK_NORMAL 0
#define BRIXA_PLAYBACK_PAUSE 1
#define BRIXA_PLAYBACK_FAST 2
#define BRIXA_PLAYBACK_SLOW 3
#define BRIXA_PLAYBACK_SKIP_BACK 4    /* 10 seconds back, under a new playback handle */
#define BRIXA_PLAYBACK_SKIP_FORWARD 5 /* 10 seconds forward, under a new playback handle */

/* Plays the channel's recordings from `start_time` for one hour into `hwnd`. One playback and
 * one backup per process, excluding each other: a running backup is stopped, and a playback of
 * the same device is replaced. The playback handle (above 0); -2; -1; -3 not logged in; -4 the
 * device refused (after one retry 500 ms later when it could not open the channel). */
BRIXA_API int32_t brixa_start_playback(brixa_handle handle, void* hwnd, const char* dev_id, int32_t chl_id,
                                       const char* start_time);
/* 0; -1 the device SDK could not stop it. */
BRIXA_API int32_t brixa_stop_playback(int32_t playback_id);
/* Commands 0-3: 0 or -1. Commands 4-5 act on the current playback whatever `playback_id` is and
 * return its new handle, or 0 (no playback, no on-screen time yet, or the restart failed).
 * Other values: 0. */
BRIXA_API int32_t brixa_control_playback(int32_t playback_id, uint32_t ctrl_cmd);
/* Downloads `backup_len_secs` seconds from `start_time` (null or empty: 15 seconds before the
 * running playback's last on-screen time) into `file_name` as DAV, stopping a running playback
 * or backup first. Progress arrives as callback 261 (tag1 total, tag2 downloaded; -1 when
 * finished), then 262. The backup handle (above 0); -11 no start time and nothing to take it
 * from; -2; -1; -3; -4 as brixa_start_playback. */
BRIXA_API int32_t brixa_start_backup(brixa_handle handle, int32_t reserved, const char* dev_id, int32_t chl_id,
                                     const char* start_time, int32_t backup_len_secs, const char* file_name);
/* 0; -1 no backup active; -2 no current device; -3 the device SDK could not stop it. */
BRIXA_API int32_t brixa_stop_backup(void);

/* Lists the channel's recorded files between two times on a thread of its own, in pages of up to
 * 100 as callback 259 (tag1 page from 1, tag2 files in the page or -1, info JSON). A new query
 * replaces a running one. 0 started; -2; -1; -3 not logged in; -5 out of memory. */
BRIXA_API int32_t brixa_query_record_files(brixa_handle handle, const char* dev_id, int32_t chl_id,
                                           const char* start_time, const char* end_time);
/* Which days of `month` hold recordings, as callback 260 (tag2 0 with "flag", or -1). Results as
 * brixa_query_record_files. */
BRIXA_API int32_t brixa_query_record_status(brixa_handle handle, const char* dev_id, int32_t chl_id,
                                            const char* month);


/* ---- Alerts ----
 * A device reports its alarms (alarm inputs, motion, video loss, masking, sound, disks) while
 * any of its channels listens. Each alarm that comes on reaches the client's callback as
 * BRIXA_CB_CALLBACK_GET_LIVE_ALERT with param1 = the alarm kind, param2 = the channel and info
 * = the device identifier; an alarm that stays on is not reported again, one that goes off is
 * not reported but clears its overlay indicator. Kinds: 0 alarm input (channel: input number),
 * 1 motion, 2 video loss, 3 masking (1-3 only for listening channels), 4 sound, 5 disk full,
 * 6 disk error (channel: disk number). Kinds 1-4 drive the alarm texts of the channel's live
 * overlay. The device listens from the first listening channel to the last one stopped. These
 * exports wait on the device; call them from a worker thread. */

/* Starts listening on channel chl_id (0 to the device's channel count - 1, at most 63) or, with
 * -1, on all its channels. 0; -1 client not registered; -2 library not initialised or null
 * handle; -3 no logged-in session; -4 the device refused; -5 channel out of range. */
BRIXA_API int32_t brixa_start_listen_alert(brixa_handle handle, const char* dev_id, int32_t chl_id);
/* Stops listening on the channel (the last one stops the device's listening) or, with -1, on
 * every channel, and clears the channel's overlay alarm texts. Results as above (-2 only when
 * the library is not initialised). */
BRIXA_API int32_t brixa_stop_listen_alert(brixa_handle handle, const char* dev_id, int32_t chl_id);

/* ---- LAN device search ----
 * Devices on this machine's loopback network answer a search on the discovery port (see
 * devsdk/netsdk/netsdk.h: NET_SetSearchPort, KAVREL_DISCOVERY_PORT, else 37810). A search
 * collects answers for about 1.1 s, then posts BRIXA_CB_CALLBACK_SEARCH_DEVICE (param1 0,
 * param2 0) to `handle` with {"devices":[{"id","ip","name","port","http_port","model"},...]},
 * newest first, each serial number once, every device found since the previous report (devices
 * without a serial number are left out). One search at a time per process; it needs no login.
 * brixa_uninit ends a running search without a report. */

/* 0 started; -1 a search is still recorded (stop it first, also when it has finished); -2 the
 * thread could not be created. */
BRIXA_API int32_t brixa_start_search_devices(brixa_handle handle);
/* Cancels a search still collecting (no report) and forgets it. 0; -1 no search recorded. */
BRIXA_API int32_t brixa_stop_search_devices(void);


#ifdef __cplusplus
}
#endif

#endif /* BRIXA_API_BRIXA_H */
