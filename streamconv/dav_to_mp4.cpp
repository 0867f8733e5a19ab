#include "streamconv/dav_to_mp4.h"

#include <utility>

#include "streamconv/annex_b.h"

extern "C" {
#include <libavcodec/packet.h>
}

namespace streamconv {
namespace {

constexpr uint8_t kKindKeyFrame = 1;
constexpr uint8_t kKindFrame = 2;
constexpr uint8_t kKindAudio = 3;
constexpr uint8_t kCodecH264 = 1;
constexpr uint8_t kCodecG711A = 2;
// A picture's duration when the stream has only one: 25 pictures a second.
constexpr int64_t kDefaultDurationMs = 40;
// Capture times further than this from the first picture are not a recording's: about 34 years.
constexpr uint64_t kMaxSpanMs = uint64_t{1} << 40;
// The longest pause between two pictures of one recording that is taken as it stands.
constexpr int64_t kMaxGapMs = 24 * 3600 * 1000;
// How long the file waits for audio before its header is written without an audio track.
constexpr int64_t kAudioWaitMs = 1000;
constexpr size_t kMaxHeldPictures = 100;

}  // namespace

bool DavToMp4::open(const std::string& path) {
  if (!writer_.create(path)) return false;
  state_ = State::converting;
  return true;
}

void DavToMp4::input(const uint8_t* data, size_t size) {
  if (state_ != State::converting || data == nullptr || size == 0) return;
  reader_.feed(data, size);
  for (;;) {
    switch (reader_.next(block_)) {
      case proto::MediaBlockReader::Result::need_more:
        return;
      case proto::MediaBlockReader::Result::malformed:
        end(true);
        return;
      case proto::MediaBlockReader::Result::block:
        if (!take(block_)) {
          writer_.discard();
          state_ = State::failed;
          return;
        }
        break;
    }
  }
}

void DavToMp4::close() {
  if (state_ == State::converting) end(false);
}

bool DavToMp4::take(proto::MediaBlock& block) {
  if ((block.kind == kKindKeyFrame || block.kind == kKindFrame) && block.codec == kCodecH264) return take_video(block);
  if (block.kind == kKindAudio && block.codec == kCodecG711A) return take_audio(block);
  return true;  // lens blocks, and kinds or codecs this file cannot carry
}

bool DavToMp4::take_video(proto::MediaBlock& block) {
  const bool key = block.kind == kKindKeyFrame;
  if (!video_found_) {
    if (!key) return true;  // not decodable without the key picture before it
    parameter_sets_ = parameter_sets_of(block.data.data(), block.data.size());
    if (parameter_sets_.empty() || block.width == 0 || block.height == 0) return true;
    video_found_ = true;
    first_ms_ = block.timestamp_ms;
    width_ = block.width;
    height_ = block.height;
  }
  if (block.data.empty()) return true;

  // Times count from the first picture and must rise. A picture whose capture time does not, or
  // leaps more than a day ahead (a device clock set back or forward, a stray time), follows the
  // one before after the last interval, so the video keeps its pace.
  int64_t pts_ms = -1;
  if (block.timestamp_ms >= first_ms_ && block.timestamp_ms - first_ms_ < kMaxSpanMs) {
    pts_ms = static_cast<int64_t>(block.timestamp_ms - first_ms_);
  }
  if (pending_present_) {
    if (pts_ms <= pending_.pts_ms || pts_ms - pending_.pts_ms > kMaxGapMs) pts_ms = pending_.pts_ms + pace_ms();
    pending_.duration_ms = pts_ms - pending_.pts_ms;
    last_duration_ms_ = pending_.duration_ms;
    pending_present_ = false;
    if (!write(pending_)) return false;
  }
  pending_present_ = true;
  pending_.key = key;
  pending_.pts_ms = pts_ms < 0 ? 0 : pts_ms;
  std::swap(pending_.data, block.data);
  if (!writer_.started() && (pending_.pts_ms >= kAudioWaitMs || held_.size() >= kMaxHeldPictures)) {
    return start_file(false);
  }
  return true;
}

bool DavToMp4::take_audio(const proto::MediaBlock& block) {
  if (!video_found_ || block.timestamp_ms < first_ms_ || block.timestamp_ms - first_ms_ >= kMaxSpanMs) return true;
  if (!writer_.started() && !start_file(true)) return false;
  if (audio_ == nullptr) return true;
  return audio_->add(static_cast<int64_t>(block.timestamp_ms - first_ms_), block.data.data(), block.data.size(),
                     [this](AVPacket* packet) { return writer_.write_audio(packet); });
}

bool DavToMp4::write(Picture& picture) {
  if (!writer_.started()) {
    held_.push_back(std::move(picture));
    picture = Picture{};
    return true;
  }
  return writer_.write_video(picture.pts_ms, picture.duration_ms, picture.key, picture.data.data(),
                             picture.data.size());
}

bool DavToMp4::start_file(bool with_audio) {
  if (with_audio) {
    audio_ = std::make_unique<G711ToAac>();
    if (!audio_->open()) audio_.reset();  // no encoder: the video alone
  }
  if (!writer_.start(width_, height_, parameter_sets_, audio_ != nullptr ? audio_->encoder() : nullptr)) {
    return false;
  }
  for (Picture& picture : held_) {
    if (!write(picture)) return false;
  }
  held_ = {};
  return true;
}

int64_t DavToMp4::pace_ms() const { return last_duration_ms_ > 0 ? last_duration_ms_ : kDefaultDurationMs; }

void DavToMp4::end(bool input_failed) {
  bool written = true;
  if (pending_present_) {
    pending_.duration_ms = pace_ms();
    pending_present_ = false;
    written = write(pending_);
  }
  if (written && video_found_ && !writer_.started()) written = start_file(false);
  if (written && audio_ != nullptr) {
    written = audio_->finish([this](AVPacket* packet) { return writer_.write_audio(packet); });
  }
  if (written && writer_.started()) {
    written = writer_.finish();
  } else {
    writer_.discard();  // nothing to play, or a write failed
    written = false;
  }
  state_ = written && !input_failed ? State::finished : State::failed;
  pending_ = Picture{};
  held_ = {};
  audio_.reset();
}

}  // namespace streamconv
