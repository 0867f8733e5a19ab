#include "streamconv/dav_to_mp4.h"

#include <utility>

#include "streamconv/annex_b.h"

namespace streamconv {
namespace {

constexpr uint8_t kKindKeyFrame = 1;
constexpr uint8_t kKindFrame = 2;
constexpr uint8_t kCodecH264 = 1;
// A picture's duration when the stream has only one: 25 pictures a second.
constexpr int64_t kDefaultDurationMs = 40;
// Capture times further than this from the first picture are not a recording's: about 34 years.
constexpr uint64_t kMaxSpanMs = uint64_t{1} << 40;

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
        take(block_);
        if (state_ != State::converting) return;
        break;
    }
  }
}

void DavToMp4::close() {
  if (state_ == State::converting) end(false);
}

void DavToMp4::take(proto::MediaBlock& block) {
  if (block.kind != kKindKeyFrame && block.kind != kKindFrame) return;  // audio and lens
  if (block.codec != kCodecH264) return;
  if (!take_video(block)) {
    writer_.discard();
    state_ = State::failed;
  }
}

bool DavToMp4::take_video(proto::MediaBlock& block) {
  const bool key = block.kind == kKindKeyFrame;
  if (!writer_.started()) {
    if (!key) return true;  // not decodable without the key picture before it
    std::vector<uint8_t> parameter_sets = parameter_sets_of(block.data.data(), block.data.size());
    if (parameter_sets.empty() || block.width == 0 || block.height == 0) return true;
    if (!writer_.start_video(block.width, block.height, parameter_sets)) return false;
    first_ms_ = block.timestamp_ms;
  }
  if (block.data.empty()) return true;

  // Times count from the first picture and must rise. A picture whose capture time does not
  // (a clock set back on the device, a stray time) follows the one before after the last
  // interval, so the video keeps its pace.
  int64_t pts_ms = -1;
  if (block.timestamp_ms >= first_ms_ && block.timestamp_ms - first_ms_ < kMaxSpanMs) {
    pts_ms = static_cast<int64_t>(block.timestamp_ms - first_ms_);
  }
  if (pending_.present) {
    if (pts_ms <= pending_.pts_ms) pts_ms = pending_.pts_ms + pace_ms();
    if (!write_pending(pts_ms - pending_.pts_ms)) return false;
  }
  pending_.present = true;
  pending_.key = key;
  pending_.pts_ms = pts_ms;
  std::swap(pending_.data, block.data);
  return true;
}

bool DavToMp4::write_pending(int64_t duration_ms) {
  last_duration_ms_ = duration_ms;
  pending_.present = false;
  return writer_.write_video(pending_.pts_ms, duration_ms, pending_.key, pending_.data.data(),
                             pending_.data.size());
}

int64_t DavToMp4::pace_ms() const { return last_duration_ms_ > 0 ? last_duration_ms_ : kDefaultDurationMs; }

void DavToMp4::end(bool input_failed) {
  bool written = true;
  if (pending_.present) written = write_pending(pace_ms());
  if (written && writer_.started()) {
    written = writer_.finish();
  } else {
    writer_.discard();  // nothing to play, or a write failed
    written = false;
  }
  state_ = written && !input_failed ? State::finished : State::failed;
  pending_.data = {};
}

}  // namespace streamconv
