// The sound of a simulated channel: a steady tone whose pitch names the channel, G.711 A-law at
// 8000 samples a second, as a loop as long as the picture loop, so every picture carries the
// sound of its 40 ms.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace sim::device::video {

inline constexpr int kSoundSamplesPerPicture = 8000 / 25;  // 320: 40 ms

// The channel's tone: 400 Hz for channel 0, 100 Hz higher for each next channel, round after 16.
int channel_tone_hz(int channel);

// The A-law bytes of a 2-second loop of `tone_hz` (a whole number of periods, so it loops
// seamlessly), made once per tone and shared.
std::shared_ptr<const std::vector<uint8_t>> tone_loop(int tone_hz);

}  // namespace sim::device::video
