#include "sim/device/video/video_source.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "sim/device/video/sound_loop.h"

namespace sim::device::video {
namespace {

uint64_t wall_ms() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace

VideoSource::~VideoSource() { stop(); }

bool VideoSource::attach(const StreamKey& key, const StreamSpec& spec, const std::shared_ptr<StreamViewer>& viewer) {
  // Encoding a loop takes a while the first time: never under the lock.
  auto loop = spec.ptz != nullptr ? ptz_view_loop(spec.scene, spec.bit_rate) : encoded_loop(spec.scene, spec.bit_rate);
  if (loop == nullptr) return false;
  std::lock_guard<std::mutex> hold(lock_);
  if (stopping_) return false;
  auto& stream = streams_[key];
  if (stream == nullptr) {
    stream = std::make_shared<LiveStream>(loop, spec.lens, spec.tone_hz > 0 ? tone_loop(spec.tone_hz) : nullptr);
    if (spec.ptz != nullptr) ptz_.track(stream.get(), stream, spec.ptz, spec.scene, spec.bit_rate);
  }
  stream->add(viewer);
  viewers_.emplace_back(key, viewer);
  if (!pacer_.joinable()) pacer_ = std::thread([this] { pace(); });
  wake_.notify_all();
  return true;
}

void VideoSource::detach(const StreamKey& key, const std::shared_ptr<StreamViewer>& viewer) {
  std::lock_guard<std::mutex> hold(lock_);
  viewers_.erase(std::remove(viewers_.begin(), viewers_.end(), std::make_pair(key, viewer)), viewers_.end());
  auto it = streams_.find(key);
  if (it != streams_.end() && it->second->remove(viewer)) {
    ptz_.untrack(it->second.get());
    streams_.erase(it);
  }
}

void VideoSource::close_viewers(uint32_t token) {
  std::lock_guard<std::mutex> hold(lock_);
  for (auto& [key, viewer] : viewers_)
    if (viewer->token() == token) viewer->close();
}

void VideoSource::stop() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
    for (auto& [key, viewer] : viewers_) viewer->close();
  }
  wake_.notify_all();
  if (pacer_.joinable()) pacer_.join();
  ptz_.stop();
  // The viewers' connections detach on their own threads; a later attach starts a new pacer.
  std::lock_guard<std::mutex> hold(lock_);
  stopping_ = false;
}

size_t VideoSource::streams() const {
  std::lock_guard<std::mutex> hold(lock_);
  return streams_.size();
}

size_t VideoSource::viewers(const StreamKey& key) const {
  std::lock_guard<std::mutex> hold(lock_);
  auto it = streams_.find(key);
  return it == streams_.end() ? 0 : it->second->viewers();
}

uint64_t VideoSource::produced(const StreamKey& key) const {
  std::lock_guard<std::mutex> hold(lock_);
  auto it = streams_.find(key);
  return it == streams_.end() ? 0 : it->second->produced();
}

void VideoSource::pace() {
  using Clock = std::chrono::steady_clock;
  constexpr auto kTick = std::chrono::microseconds(1000000 / kFramesPerSecond);
  auto next = Clock::now();
  std::vector<std::shared_ptr<LiveStream>> active;
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(lock_);
      if (streams_.empty()) {
        wake_.wait(hold, [this] { return stopping_ || !streams_.empty(); });
        next = Clock::now();
      } else {
        wake_.wait_until(hold, next, [this] { return stopping_; });
      }
      if (stopping_) return;
      if (Clock::now() < next) continue;
      active.clear();
      for (auto& [key, stream] : streams_) active.push_back(stream);
    }
    uint64_t now = wall_ms();
    for (auto& stream : active)
      if (stream->produce(now)) produced_total_.fetch_add(1);
    active.clear();
    ptz_.poll();
    next += kTick;
    // A pacer that fell far behind (a stalled machine) starts afresh instead of bursting.
    if (Clock::now() - next > std::chrono::milliseconds(200)) next = Clock::now() + kTick;
  }
}

}  // namespace sim::device::video
