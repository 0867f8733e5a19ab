// What a simulated device's channels offer, worked out from its settings: the stream settings of
// the legacy channel configuration, the named "Encode" configuration and "devVideoInput.getCaps"
// capability texts as the device sends them, and the scene each live stream shows.
//
// Streams: main 1280 x 720 (resolution code 17, 2 Mbit/s); extra 704 x 576 (code 0) or, with
// extra_cif, 352 x 288 (code 3), 480 and 240 lines under NTSC; multi-channel preview 704 x 576, a
// mosaic of the first channels (real-play types 7 to 14) or one channel (type 6). The streams of
// one channel carry its tone (sound_loop.h); a PTZ channel's street is the view of its head.
#pragma once

#include <cstdint>
#include <string>

#include "devsdk/proto/messages.h"
#include "sim/device/settings.h"
#include "sim/device/video/video_source.h"

namespace sim::device::video {

// Real-play types of a bind's `stream`.
inline constexpr uint32_t kRealPlayMain = 2;
inline constexpr uint32_t kRealPlayExtra = 3;
inline constexpr uint32_t kRealPlayMultiFirst = 6;
inline constexpr uint32_t kRealPlayMultiLast = 14;

// The name drawn into a channel's picture.
std::string channel_title(const Settings& settings, int channel);

// True for a channel with a pan-tilt-zoom head.
bool is_ptz_channel(const Settings& settings, int channel);

// For a channel below settings.channels.
proto::ChannelConfig channel_config(const Settings& settings, int channel);

// A reply status: not_supported for an unknown name, invalid_parameter for a channel out of
// range.
int32_t named_config(const Settings& settings, const std::string& name, int32_t channel, std::string& text);

// A reply status: not_supported for an unknown type, invalid_parameter for a channel out of
// range. Fills the stream's key (streams with one key share one encoding and its pictures).
int32_t stream_spec(const Settings& settings, int32_t channel, uint32_t real_play_type, StreamKey& key,
                    StreamSpec& spec);

}  // namespace sim::device::video
