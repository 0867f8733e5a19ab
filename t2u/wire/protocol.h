// The tunnel service protocol, shared by the tunnel library (t2u), the tunnel service
// (sim/tunnel) and the device agent (sim/tunnel/agent). t2u/README.md describes the exchange.
//
// Every connection starts with one text line: the protocol tag, a verb and words separated by
// single spaces. Texts chosen by users (device identifiers, keys) travel percent-encoded, so a
// word never holds a space, a control byte or a '%' of its own, and an empty text is "%".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace t2u::wire {

inline constexpr std::string_view kTag = "T2U1";
inline constexpr size_t kMaxLine = 2048;
inline constexpr size_t kMaxText = 255;  // longest identifier or key accepted

// Opening lines (first word kTag):
//   CLIENT <key>                                        -> OK <session> <nat_type> | ERR <reason>
//   AGENT <device_id> <port_key> <version> <nat_type>   -> OK <agent_token>        | ERR <reason>
//   OPEN <session> <tag> <device_id> <port_key> <peer_host> <peer_port>
//                                                       -> OK, then the relayed bytes | ERR <status>
//   ATTACH <device_id> <stream_id> <agent_token>        -> (no answer) the relayed bytes
// Lines on a client's control connection after OK:
//   client -> service: WATCH <tag> <device_id> <port_key> <peer_port>
//                      UNWATCH <tag>
//   service -> client: STATUS <tag> <status> <remote_nat_type> <remote_version>
// Lines on an agent's control connection after OK:
//   service -> agent:  CONNECT <stream_id> <peer_port>
//   agent -> service:  FAILED <stream_id>

std::string encode_text(std::string_view text);
// Empty when the word is not a well-formed encoding (a malformed escape, an escaped zero, or a
// raw byte the encoding always escapes).
std::optional<std::string> decode_text(std::string_view word);

std::vector<std::string_view> split_words(std::string_view line);

std::optional<uint64_t> parse_unsigned(std::string_view word, uint64_t max);
std::optional<int64_t> parse_signed(std::string_view word);

}  // namespace t2u::wire
