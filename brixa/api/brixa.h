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


/* ---- Device sessions and alarm outputs ---- */


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


/* ---- Live streams ---- */


/* ---- Playback, backup, record queries, alerts, device search ---- */


#ifdef __cplusplus
}
#endif

#endif /* BRIXA_API_BRIXA_H */
