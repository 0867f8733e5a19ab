// A host site for tests that keeps the sound the Device SDK hands it: the samples of each stream
// and the streams whose end it was told, in order. SDK threads write, the test reads; guarded
// by lock_.
#pragma once

#include <cmath>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "platform/window/host_site.h"

namespace devsdk::testing {

class SoundSite : public platform::HeadlessSite {
 public:
  void play_audio(int32_t stream, const int16_t* samples, size_t count, int32_t sample_rate) override {
    std::lock_guard<std::mutex> hold(lock_);
    auto& s = samples_[stream];
    s.insert(s.end(), samples, samples + count);
    rates_[stream] = sample_rate;
  }
  void stop_audio(int32_t stream) override {
    std::lock_guard<std::mutex> hold(lock_);
    stopped_.push_back(stream);
  }
  std::vector<int16_t> samples(int32_t stream) {
    std::lock_guard<std::mutex> hold(lock_);
    return samples_[stream];
  }
  size_t count(int32_t stream) {
    std::lock_guard<std::mutex> hold(lock_);
    return samples_[stream].size();
  }
  int32_t rate(int32_t stream) {
    std::lock_guard<std::mutex> hold(lock_);
    return rates_[stream];
  }
  std::vector<int32_t> stopped() {
    std::lock_guard<std::mutex> hold(lock_);
    return stopped_;
  }
  void clear(int32_t stream) {
    std::lock_guard<std::mutex> hold(lock_);
    samples_[stream].clear();
  }

 private:
  std::mutex lock_;
  std::map<int32_t, std::vector<int16_t>> samples_;
  std::map<int32_t, int32_t> rates_;
  std::vector<int32_t> stopped_;
};

// Power of the samples at `hz` (Goertzel), per sample, for sound at `rate` samples a second.
inline double tone_power(const std::vector<int16_t>& samples, double hz, double rate) {
  const double w = 2.0 * 3.141592653589793 * hz / rate, c = 2.0 * std::cos(w);
  double s1 = 0, s2 = 0;
  for (int16_t x : samples) {
    double s0 = x + c * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  double power = s1 * s1 + s2 * s2 - c * s1 * s2;
  return samples.empty() ? 0 : power / static_cast<double>(samples.size());
}

inline int peak(const std::vector<int16_t>& samples) {
  int p = 0;
  for (int16_t x : samples) p = std::max(p, std::abs(static_cast<int>(x)));
  return p;
}

}  // namespace devsdk::testing
