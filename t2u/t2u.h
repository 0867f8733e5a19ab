/* Our tunnel library: maps a local loopback TCP port onto a port of a device reached through
 * the tunnel service. */
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
  int32_t usingRelay;    /* byte 24: 1 when the stream goes through the relay */
  float relay_quality;   /* byte 28 */
  int32_t reserved32;
  int32_t remoteNATType; /* byte 36 */
  int32_t localNATType;  /* byte 40 */
  int32_t reserved44[10];
  int32_t remoteVersion; /* byte 84 */
} t2u_port_stats;

/* 1 ready; -1 not initialised; anything else: not ready yet. */
T2U_API int t2u_status(void);
T2U_API void t2u_init(const char* server, uint16_t port, const char* key);
T2U_API void t2u_exit(void);
T2U_API int t2u_set_port_range(uint16_t first_port, uint16_t last_port);
/* The mapped local port, or -1. */
T2U_API int t2u_add_port_v3(const char* device_id, const char* port_key, const char* address,
                            uint16_t peer_port, uint16_t local_port);
T2U_API void t2u_del_port(uint16_t mapped_port);
/* A tunnel status code: 0 reaching, 1 reachable, -1 unknown port, -2 failed, -3 cut,
 * -4 device not online, -5 wrong port key. */
T2U_API int t2u_port_status(uint16_t mapped_port, t2u_port_stats* stats);

#ifdef __cplusplus
}
#endif

#endif /* T2U_T2U_H */
