#include "devsdk/netsdk/stream_extras.h"

#include "devsdk/proto/media_block.h"

namespace netsdk {
namespace {

std::mutex sound_lock;                 // taken by sound changes and by a stream playing its sound
std::atomic<int32_t> sound_stream{0};  // written under sound_lock

}  // namespace

StreamExtras::~StreamExtras() {
  if (record_ != nullptr) std::fclose(record_);
}

bool StreamExtras::start_recording(std::FILE* file) {
  std::lock_guard<std::mutex> hold(record_lock_);
  if (record_ != nullptr) return false;
  record_ = file;
  waiting_for_key_ = true;
  return true;
}

std::FILE* StreamExtras::stop_recording() {
  std::lock_guard<std::mutex> hold(record_lock_);
  std::FILE* file = record_;
  record_ = nullptr;
  return file;
}

void StreamExtras::on_frame(int32_t handle, const proto::MediaFrameView& frame) {
  if (frame.kind == proto::kFrameAudio && frame.codec == proto::kCodecG711A && sound_is_open(handle))
    play_stream_sound(handle, frame, volume.load());
  std::lock_guard<std::mutex> hold(record_lock_);
  if (record_ == nullptr) return;
  if (waiting_for_key_) {
    // A recording starts where a decoder can: at a key frame, or at the lens that announces one.
    if (frame.kind != proto::kFrameVideoKey && frame.kind != proto::kFrameLens) return;
    waiting_for_key_ = false;
  }
  block_.clear();
  proto::append_media_block(block_, frame.kind, frame.codec, frame.timestamp_ms, frame.width, frame.height,
                            frame.data, frame.size);
  if (std::fwrite(block_.data(), 1, block_.size(), record_) != block_.size()) {
    // A full disk ends the recording with what it holds; the stop then reports nothing running.
    std::fclose(record_);
    record_ = nullptr;
  }
}

bool sound_is_open(int32_t handle) { return handle != 0 && sound_stream.load() == handle; }

void play_stream_sound(int32_t handle, const proto::MediaFrameView& frame, int32_t volume) {
  std::lock_guard<std::mutex> hold(sound_lock);
  if (sound_stream.load() != handle) return;
  devsdk::render::play_alaw(handle, frame.data, frame.size, volume);
}

void stream_sound_ended(int32_t handle) {
  std::lock_guard<std::mutex> hold(sound_lock);
  if (handle == 0 || sound_stream.load() != handle) return;
  sound_stream.store(0);
  devsdk::render::end_sound(handle);
}

// Opens the sound of `handle` (closing another stream's first); 0 closes whatever plays.
void switch_sound(int32_t handle) {
  std::lock_guard<std::mutex> hold(sound_lock);
  int32_t previous = sound_stream.exchange(handle);
  if (previous != 0 && previous != handle) devsdk::render::end_sound(previous);
}

}  // namespace netsdk
