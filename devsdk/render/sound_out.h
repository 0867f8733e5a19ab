// Live sound of the SDK's streams, handed to the host site (platform/window/host_site.h): A-law
// bytes decoded to 16-bit PCM at 8000 samples a second, the stream's volume applied.
#pragma once

#include <cstddef>
#include <cstdint>

namespace devsdk::render {

// Volumes are percentages: 0 silent to 100 as the stream carries it.
inline constexpr int32_t kMaxVolume = 100;
int32_t clamp_volume(int32_t volume);

// Plays `count` A-law bytes as the sound of `stream`, on the calling (stream) thread.
void play_alaw(int32_t stream, const uint8_t* codes, size_t count, int32_t volume);
// Tells the host that `stream`'s sound has ended.
void end_sound(int32_t stream);

}  // namespace devsdk::render
