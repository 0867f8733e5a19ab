// The sound of play ports: one port at a time plays the sound in its stream, handed to the host
// site as stream kPlaySoundStreamBase + port (so it never names a NetSDK stream).
//
// Threads: application threads switch the sound; each port's thread plays its blocks. The
// playing port is atomic, changed under the sound lock; a port's thread tests it without the
// lock and plays under it, so no sound reaches the host after its end was told.
#pragma once

#include <cstddef>
#include <cstdint>

#include "devsdk/playsdk/playsdk.h"

namespace playsdk {

inline constexpr int32_t kPlaySoundStreamBase = PLAY_SOUND_STREAM_BASE;

// The port whose sound plays from now on (0: none); the host hears the end of the previous one.
void switch_port_sound(int32_t port);
// A port that stops or goes away ends its sound.
void port_sound_ended(int32_t port);
// The port's thread: plays A-law bytes when the port's sound is on.
void play_port_sound(int32_t port, const uint8_t* codes, size_t count, int32_t volume);

}  // namespace playsdk
