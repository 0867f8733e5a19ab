#include "sim/device/video/sound_loop.h"

#include <cmath>
#include <map>
#include <mutex>

#include "devsdk/proto/g711.h"
#include "sim/device/video/encoded_loop.h"

namespace sim::device::video {
namespace {

constexpr double kTau = 6.283185307179586;
constexpr double kAmplitude = 8000.0;  // about a quarter of full scale

std::mutex loops_lock;
std::map<int, std::shared_ptr<const std::vector<uint8_t>>>& loops() {  // guarded by loops_lock
  static auto* made = new std::map<int, std::shared_ptr<const std::vector<uint8_t>>>;
  return *made;
}

}  // namespace

int channel_tone_hz(int channel) { return 400 + 100 * (((channel % 16) + 16) % 16); }

std::shared_ptr<const std::vector<uint8_t>> tone_loop(int tone_hz) {
  std::lock_guard<std::mutex> hold(loops_lock);
  auto& made = loops()[tone_hz];
  if (made == nullptr) {
    auto bytes = std::make_shared<std::vector<uint8_t>>(static_cast<size_t>(kLoopFrames) * kSoundSamplesPerPicture);
    for (size_t i = 0; i < bytes->size(); ++i) {
      double s = kAmplitude * std::sin(kTau * tone_hz * static_cast<double>(i) / proto::kG711SampleRate);
      (*bytes)[i] = proto::alaw_encode(static_cast<int16_t>(std::lround(s)));
    }
    made = bytes;
  }
  return made;
}

}  // namespace sim::device::video
