#include "devsdk/render/sound_out.h"

#include <algorithm>
#include <vector>

#include "devsdk/proto/g711.h"
#include "platform/window/host_site.h"

namespace devsdk::render {

int32_t clamp_volume(int32_t volume) { return std::clamp(volume, 0, kMaxVolume); }

void play_alaw(int32_t stream, const uint8_t* codes, size_t count, int32_t volume) {
  if (codes == nullptr || count == 0) return;
  std::vector<int16_t> samples(count);
  proto::alaw_decode(codes, count, samples.data());
  const int32_t v = clamp_volume(volume);
  if (v != kMaxVolume)
    for (auto& s : samples) s = static_cast<int16_t>(s * v / kMaxVolume);
  platform::host_site()->play_audio(stream, samples.data(), samples.size(), proto::kG711SampleRate);
}

void end_sound(int32_t stream) { platform::host_site()->stop_audio(stream); }

}  // namespace devsdk::render
