#include "sim/device/video/live_stream.h"

#include <algorithm>
#include <chrono>

#include "sim/device/video/band_slice.h"
#include "sim/device/video/sound_loop.h"

namespace sim::device::video {

void StreamViewer::offer(const FrameBytes& frame, bool key) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (closed_) return;
    if (need_key_ && !key) return;
    need_key_ = false;
    if (queue_.size() >= kMaxQueued) {
      queue_.clear();
      if (!key) {
        need_key_ = true;
        return;
      }
    }
    queue_.push_back(frame);
  }
  ready_.notify_one();
}

bool StreamViewer::take(std::vector<FrameBytes>& out, int wait_ms) {
  std::unique_lock<std::mutex> hold(lock_);
  ready_.wait_for(hold, std::chrono::milliseconds(wait_ms), [this] { return closed_ || !queue_.empty(); });
  if (closed_) return false;
  out.insert(out.end(), queue_.begin(), queue_.end());
  queue_.clear();
  return true;
}

void StreamViewer::close() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
    queue_.clear();
  }
  ready_.notify_all();
}

bool StreamViewer::closed() const {
  std::lock_guard<std::mutex> hold(lock_);
  return closed_;
}

LiveStream::LiveStream(std::shared_ptr<const EncodedLoop> loop, std::optional<proto::LensInfo> lens,
                       std::shared_ptr<const std::vector<uint8_t>> sound)
    : lens_(lens), sound_(std::move(sound)), painter_(loop->width, loop->height), loop_(std::move(loop)) {}

void LiveStream::replace_loop(std::shared_ptr<const EncodedLoop> loop) {
  std::lock_guard<std::mutex> hold(lock_);
  if (loop != nullptr && loop->width == loop_->width && loop->height == loop_->height) next_loop_ = std::move(loop);
}

void LiveStream::add(const std::shared_ptr<StreamViewer>& viewer) {
  std::lock_guard<std::mutex> hold(lock_);
  for (const auto& [frame, key] : since_key_) viewer->offer(frame, key);
  viewers_.push_back(viewer);
}

bool LiveStream::remove(const std::shared_ptr<StreamViewer>& viewer) {
  std::lock_guard<std::mutex> hold(lock_);
  viewers_.erase(std::remove(viewers_.begin(), viewers_.end(), viewer), viewers_.end());
  if (viewers_.empty()) {
    // Nobody watches: the next viewer starts at a key picture with fresh capture times.
    since_key_.clear();
    next_picture_ = (next_picture_ + kKeyInterval - 1) / kKeyInterval * kKeyInterval % loop_->pictures.size();
  }
  return viewers_.empty();
}

size_t LiveStream::viewers() const {
  std::lock_guard<std::mutex> hold(lock_);
  return viewers_.size();
}

uint64_t LiveStream::produced() const {
  std::lock_guard<std::mutex> hold(lock_);
  return produced_;
}

FrameBytes media_frame_message(uint8_t kind, uint8_t codec, uint64_t capture_ms, int width, int height,
                               const uint8_t* a, size_t a_size, const std::vector<uint8_t>& b) {
  proto::Writer fields;
  fields.u64(capture_ms).u8(kind).u8(codec).u16(static_cast<uint16_t>(width)).u16(static_cast<uint16_t>(height));
  proto::Header header;
  header.flags = proto::kFlagPush;
  header.type = static_cast<uint16_t>(proto::Type::media_frame);
  header.length = static_cast<uint32_t>(fields.data().size() + a_size + b.size());
  auto message = std::make_shared<std::vector<uint8_t>>();
  message->reserve(proto::kHeaderBytes + header.length);
  proto::append_header(*message, header);
  message->insert(message->end(), fields.data().begin(), fields.data().end());
  message->insert(message->end(), a, a + a_size);
  message->insert(message->end(), b.begin(), b.end());
  return message;
}

FrameBytes media_frame_message(uint8_t kind, uint8_t codec, uint64_t capture_ms, int width, int height,
                               const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  return media_frame_message(kind, codec, capture_ms, width, height, a.data(), a.size(), b);
}

FrameBytes LiveStream::frame_message(uint8_t kind, uint8_t codec, uint64_t capture_ms, int width, int height,
                                     const uint8_t* a, size_t a_size, const std::vector<uint8_t>& b) {
  return media_frame_message(kind, codec, capture_ms, width, height, a, a_size, b);
}

bool LiveStream::produce(uint64_t capture_ms) {
  size_t index;
  std::shared_ptr<const EncodedLoop> loop;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (viewers_.empty()) return false;
    if (next_loop_ != nullptr) {
      // A new view begins at a key picture of its loop, keeping the motion's place roughly.
      loop_ = std::move(next_loop_);
      next_loop_ = nullptr;
      next_picture_ = (next_picture_ + kKeyInterval - 1) / kKeyInterval * kKeyInterval % loop_->pictures.size();
    }
    loop = loop_;
    index = next_picture_;
    next_picture_ = (next_picture_ + 1) % loop->pictures.size();
  }
  const LoopPicture& picture = loop->pictures[index];
  band_slice_.clear();
  BandSamples band{painter_.paint(capture_ms), loop->width, static_cast<uint32_t>(loop->width / 16),
                   static_cast<uint32_t>(kBandLines / 16)};
  append_band_slice(band_slice_, picture.facts, loop->sps, loop->pps, loop->band_first_mb, band);
  FrameBytes lens;
  if (picture.key && lens_) {
    auto info = proto::encode(*lens_);
    lens = frame_message(proto::kFrameLens, 0, capture_ms, loop->width, loop->height, info.data(), info.size(), {});
  }
  FrameBytes frame = frame_message(picture.key ? proto::kFrameVideoKey : proto::kFrameVideoDelta, proto::kCodecH264,
                                   capture_ms, loop->width, loop->height, picture.bytes.data(), picture.bytes.size(),
                                   band_slice_);
  FrameBytes sound;
  if (sound_ != nullptr && !sound_->empty()) {
    size_t from = index * kSoundSamplesPerPicture % sound_->size();
    size_t count = std::min<size_t>(kSoundSamplesPerPicture, sound_->size() - from);
    sound = frame_message(proto::kFrameAudio, proto::kCodecG711A, capture_ms, 0, 0, sound_->data() + from, count, {});
  }

  std::lock_guard<std::mutex> hold(lock_);
  if (viewers_.empty()) return false;  // the last viewer left meanwhile
  ++produced_;
  if (picture.key) since_key_.clear();
  if (lens) since_key_.emplace_back(lens, true);
  since_key_.emplace_back(frame, picture.key);
  for (const auto& viewer : viewers_) {
    if (lens) viewer->offer(lens, true);
    viewer->offer(frame, picture.key);
    if (sound) viewer->offer(sound, false);
  }
  return true;
}

}  // namespace sim::device::video
