// Non-blocking TCP sockets with waits that end on a time-out or when a stop signal fires.
//
// Every socket made here is non-blocking, close-on-exec and has Nagle's delay off. A stop_fd of
// -1 means "no stop signal"; a timeout of -1 waits without limit (until the stop signal).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "t2u/wire/unique_fd.h"

namespace t2u::wire {

enum class Wait { ready, timeout, stopped };

// Waits until `fd` reports one of `events` (or an error/hang-up).
Wait wait_for(int fd, short events, int stop_fd, int timeout_ms);

// A listening socket on 127.0.0.1:port (0 lets the kernel choose). Invalid when the port cannot
// be bound; `bound_port` receives the port actually bound.
UniqueFd listen_loopback(uint16_t port, uint16_t* bound_port);
// One pending connection of a listener, or invalid when none is waiting.
UniqueFd accept_connection(int listener);

// Connects to host:port (a numeric address or a name). Invalid on failure, time-out or stop.
UniqueFd connect_to(const std::string& host, uint16_t port, int stop_fd, int timeout_ms);

bool send_all(int fd, std::string_view data, int stop_fd, int timeout_ms);

enum class LineRead { ok, closed, timeout, stopped, too_long, error };
// Reads one line (without its '\n') and nothing after it, so the socket can be handed on.
LineRead read_line(int fd, std::string* line, size_t max_bytes, int stop_fd, int timeout_ms);

// The local port of a bound socket, or 0.
uint16_t local_port_of(int fd);

}  // namespace t2u::wire
