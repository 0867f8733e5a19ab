// The texts live viewing shows: the name of a stream in a pane title, and the title itself with
// the device name, channel, stream, resolution and the facts of the tunnel that carries it.
#pragma once

#include <cstdint>
#include <string>

namespace kavrel {

// "Principal ", "Extra ", "Multicanais ", or empty for any other stream.
const char* live_stream_name(int32_t stream);

struct LiveConnectionFacts {
  int32_t using_relay = 0;
  int32_t local_nat = 0;
  int32_t remote_nat = 0;
  int32_t remote_version = 0;
};

// "<device> : <channel + 1> (<stream> <w> x <h> NAT [Relay ]L:<l> R:<r> V:<v>)".
std::string live_title(const std::string& device_name, int32_t channel, int32_t stream, int32_t width,
                       int32_t height, const LiveConnectionFacts& facts);

}  // namespace kavrel
