/* Our tunnel library: maps a local loopback TCP port onto a TCP port of a device reached
 * through the tunnel service. README.md beside this file describes the service protocol.
 *
 * Conventions
 *  1. Every function may be called from any thread at any time, also before t2u_init and after
 *     t2u_exit (when they report -1 or do nothing).
 *  2. Between t2u_init and t2u_exit the library keeps one control connection to the tunnel
 *     service, reconnecting by itself, and relays each connection accepted on a mapped port
 *     through the service to the device on a thread of its own. t2u_exit stops and joins every
 *     one of its threads before it returns.
 *  3. Mapped ports listen on 127.0.0.1 only. Texts are NUL-terminated; identifiers and keys
 *     longer than 255 bytes are refused.
 */
#ifndef T2U_T2U_H
#define T2U_T2U_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define T2U_API __attribute__((visibility("default")))

/* Port status record, 88 bytes; filled by t2u_port_status when the status is 1. */
typedef struct t2u_port_stats {
  int32_t reserved0[6];
  int32_t usingRelay;    /* byte 24: 1 when the stream goes through the relay (always, here) */
  float relay_quality;   /* byte 28 */
  int32_t reserved32;
  int32_t remoteNATType; /* byte 36: the device's NAT type as its agent reports it */
  int32_t localNATType;  /* byte 40: this host's NAT type as the service sees it */
  int32_t reserved44[10];
  int32_t remoteVersion; /* byte 84: the device agent's version */
} t2u_port_stats;

/* Tunnel status codes of t2u_port_status. */
#define T2U_PORT_TRYING 0          /* the device is being reached */
#define T2U_PORT_CONNECTED 1       /* the device is reachable */
#define T2U_PORT_UNKNOWN (-1)      /* no such mapped port */
#define T2U_PORT_FAILED (-2)       /* the service refuses to reach the device */
#define T2U_PORT_INTERRUPTED (-3)  /* an established tunnel was cut */
#define T2U_PORT_OFFLINE (-4)      /* the device is not online */
#define T2U_PORT_BAD_KEY (-5)      /* the port key was refused */

/* 1 while the tunnel service has accepted this client; -1 before t2u_init and after t2u_exit;
 * 0 in between (connecting, refused, or the service connection was lost). */
T2U_API int t2u_status(void);
/* Starts the library against the tunnel service at server:port, presenting `key`. Returns at
 * once; t2u_status becomes 1 when the service accepts. A second call before t2u_exit does
 * nothing. */
T2U_API void t2u_init(const char* server, uint16_t port, const char* key);
/* Closes every mapped port and its streams and the service connection; joins every thread. */
T2U_API void t2u_exit(void);
/* Bounds the local ports t2u_add_port_v3 chooses when asked for none; (0, 0) lifts the bound.
 * Kept across t2u_init and t2u_exit. 0, or -1 for an empty or reversed range. */
T2U_API int t2u_set_port_range(int first_port, int last_port);
/* Listens on 127.0.0.1:local_port (0: a free port of the range, or any free port without a
 * range) and relays every connection to peer_port of the device `device_id`, presenting
 * `port_key`. `address` names the device-side host (the device agent only ever connects to its
 * own host). The mapped local port, or -1: not initialised, bad arguments, or the requested
 * port (or every port of the range) cannot be bound. */
T2U_API int t2u_add_port_v3(const char* device_id, const char* port_key, const char* address,
                            uint16_t peer_port, uint16_t local_port);
/* Closes the mapped port's listener and its streams; unknown ports are ignored. */
T2U_API void t2u_del_port(uint16_t mapped_port);
/* A status code above. `stats` may be null; it is filled only when the status is 1. */
T2U_API int t2u_port_status(uint16_t mapped_port, t2u_port_stats* stats);

#ifdef __cplusplus
}
#endif

#endif /* T2U_T2U_H */
