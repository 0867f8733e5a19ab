// A tunnel library with no tunnels yet: it only keeps its initialised state.
#include <atomic>

#include "t2u/t2u.h"

static_assert(sizeof(t2u_port_stats) == 88, "the port status record is 88 bytes");

namespace {
std::atomic<int> status{-1};  // read and written by any caller
}  // namespace

extern "C" {

int t2u_status(void) { return status.load(); }
void t2u_init(const char*, uint16_t, const char*) { status.store(1); }
void t2u_exit(void) { status.store(-1); }
int t2u_set_port_range(uint16_t first_port, uint16_t last_port) { return first_port <= last_port ? 0 : -1; }
int t2u_add_port_v3(const char*, const char*, const char*, uint16_t, uint16_t) { return -1; }
void t2u_del_port(uint16_t) {}
int t2u_port_status(uint16_t, t2u_port_stats*) { return -1; }

}  // extern "C"
