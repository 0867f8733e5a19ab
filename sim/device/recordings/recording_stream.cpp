#include "sim/device/recordings/recording_stream.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>

#include "devsdk/proto/media_block.h"
#include "platform/net/socket_io.h"
#include "sim/device/video/band_slice.h"
#include "sim/device/video/live_stream.h"
#include "sim/device/video/time_code.h"

namespace sim::device::recordings {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSendWaitMs = 5000;
constexpr auto kCheckEvery = std::chrono::milliseconds(100);
// A playback that fell this far behind its pace (a slow reader) starts afresh instead of bursting.
constexpr auto kMaxLag = std::chrono::milliseconds(200);

bool send_message(int fd, const std::vector<uint8_t>& bytes) {
  return platform::net::send_all(fd, bytes.data(), bytes.size(), -1, kSendWaitMs);
}

}  // namespace

std::vector<Segment> span_segments(const std::vector<RecordSpan>& spans, int64_t start, int64_t end,
                                   uint32_t record_type) {
  std::vector<Segment> segments;
  for (const auto& f : spans) {
    if (record_type != 0 && f.record_type != record_type) continue;
    int64_t a = std::max(f.start, start) * 1000;
    int64_t b = std::min(f.end, end) * 1000;
    if (b <= a) continue;
    if (!segments.empty() && segments.back().end_ms >= a) {
      segments.back().end_ms = std::max(segments.back().end_ms, b);
    } else {
      segments.push_back({a, b});
    }
  }
  return segments;
}

uint32_t frame_count(const std::vector<Segment>& segments) {
  uint64_t n = 0;
  for (const auto& s : segments) n += static_cast<uint64_t>((s.end_ms - s.start_ms + kFrameMs - 1) / kFrameMs);
  return static_cast<uint32_t>(std::min<uint64_t>(n, UINT32_MAX));
}

RecordingStream::RecordingStream(std::shared_ptr<const video::EncodedLoop> loop, std::optional<proto::LensInfo> lens,
                                 std::vector<Segment> segments)
    : loop_(std::move(loop)), lens_(lens), segments_(std::move(segments)), painter_(loop_->width, loop_->height) {}

proto::RecordStreamInfo RecordingStream::info() const {
  // Every frame carries a whole band of raw samples (384 bytes a macroblock) and its scene.
  uint64_t scene = 0;
  for (const auto& p : loop_->pictures) scene += p.bytes.size();
  scene /= std::max<size_t>(loop_->pictures.size(), 1);
  uint64_t band = static_cast<uint64_t>(loop_->width / 16) * (video::kBandLines / 16) * 384;
  uint64_t per_frame = proto::kMediaBlockHeaderBytes + scene + band;
  proto::RecordStreamInfo info;
  info.frames = frame_count(segments_);
  info.total_kib = static_cast<uint32_t>(std::min<uint64_t>(per_frame * info.frames / 1024, UINT32_MAX - 1));
  return info;
}

void RecordingStream::append_frame(std::vector<uint8_t>& out, int64_t capture_ms, bool restart) {
  if (restart) next_picture_ = 0;
  const video::LoopPicture& picture = loop_->pictures[next_picture_];
  next_picture_ = (next_picture_ + 1) % loop_->pictures.size();
  auto ms = static_cast<uint64_t>(capture_ms);
  band_slice_.clear();
  video::BandSamples band{painter_.paint(ms), loop_->width, static_cast<uint32_t>(loop_->width / 16),
                          static_cast<uint32_t>(video::kBandLines / 16)};
  video::append_band_slice(band_slice_, picture.facts, loop_->sps, loop_->pps, loop_->band_first_mb, band);
  if (picture.key && lens_) {
    auto lens = video::media_frame_message(proto::kFrameLens, 0, ms, loop_->width, loop_->height, proto::encode(*lens_), {});
    out.insert(out.end(), lens->begin(), lens->end());
  }
  auto frame = video::media_frame_message(picture.key ? proto::kFrameVideoKey : proto::kFrameVideoDelta,
                                          proto::kCodecH264, ms, loop_->width, loop_->height, picture.bytes, band_slice_);
  out.insert(out.end(), frame->begin(), frame->end());
}

void RecordingStream::serve(int fd, proto::FrameReader& frames, bool paced, const std::function<bool()>& keep_going) {
  size_t segment = 0;
  int64_t media_ms = segments_.empty() ? 0 : segments_[0].start_ms;
  bool restart = true;
  bool paused = false;
  int speed_step = 0;
  // Pace: the frame of media time base_media is due at base_real; others at their distance
  // scaled by the speed.
  auto base_real = Clock::now();
  int64_t base_media = media_ms;
  auto rebase = [&] {
    base_real = Clock::now();
    base_media = media_ms;
  };
  // A change of speed keeps the next frame's due time, so a client that repeats the current
  // speed (or pauses and resumes at once) never makes the stream burst ahead.
  auto rebase_keeping_pace = [&](auto due_now) {
    base_real = std::max(due_now, Clock::now());
    base_media = media_ms;
  };
  auto paused_at = Clock::now();
  auto due = [&] {
    double scale = std::ldexp(1.0, -speed_step);
    return base_real + std::chrono::microseconds(static_cast<int64_t>(
                           static_cast<double>(media_ms - base_media) * 1000.0 * scale));
  };
  auto last_check = Clock::now();
  std::vector<uint8_t> buffer(4096);
  std::vector<uint8_t> out;

  // Handles what the client sent: false when the stream must end.
  auto take_requests = [&]() -> bool {
    proto::Message m;
    for (;;) {
      auto r = frames.next(m);
      if (r == proto::FrameReader::Result::need_more) return true;
      if (r != proto::FrameReader::Result::message || m.is_reply() || m.is_push() ||
          m.header.type != static_cast<uint16_t>(proto::Type::stream_control)) {
        return false;
      }
      proto::StreamControl control;
      int32_t status = proto::status::ok;
      if (!proto::decode(m.payload, control)) {
        status = proto::status::bad_request;
      } else if (!paced) {
        status = proto::status::not_supported;  // a download runs at full speed
      } else if (control.operation == proto::kStreamPause) {
        if (!paused && control.value != 0) paused_at = Clock::now();
        // The pause moves the schedule on by its length.
        if (paused && control.value == 0) base_real += Clock::now() - paused_at;
        paused = control.value != 0;
      } else if (control.operation == proto::kStreamSpeed && control.value >= proto::kMinSpeedStep &&
                 control.value <= proto::kMaxSpeedStep) {
        rebase_keeping_pace(due());
        speed_step = control.value;
      } else {
        status = proto::status::invalid_parameter;
      }
      auto reply = proto::reply_bytes(proto::Type::stream_control, m.header.request_id, status, {});
      if (!send_message(fd, reply) || status == proto::status::bad_request) return false;
    }
  };

  if (!take_requests()) return;
  for (;;) {
    auto now = Clock::now();
    if (now - last_check >= kCheckEvery) {
      if (!keep_going()) return;
      last_check = now;
    }
    if (segment >= segments_.size()) {
      send_message(fd, proto::push_bytes(proto::Type::stream_end, proto::encode(proto::StreamEnd{0})));
      return;
    }
    int wait_ms = 0;
    if (paused) {
      wait_ms = 100;
    } else if (paced) {
      auto when = due();
      if (now - when > kMaxLag) {
        rebase();
      } else if (when > now) {
        wait_ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(when - now).count()) + 1;
        wait_ms = std::min(wait_ms, 100);
      }
    }
    pollfd p{fd, POLLIN, 0};
    int ready = ::poll(&p, 1, wait_ms);
    if (ready > 0) {
      long n = platform::net::receive_some(fd, buffer.data(), buffer.size());
      if (n <= 0) return;  // the client closed the stream
      frames.feed(buffer.data(), static_cast<size_t>(n));
      if (!take_requests()) return;
      continue;
    }
    if (ready < 0 && errno != EINTR) return;
    if (paused || (paced && Clock::now() < due())) continue;

    out.clear();
    append_frame(out, media_ms, restart);
    restart = false;
    if (!send_message(fd, out)) return;
    media_ms += kFrameMs;
    if (media_ms >= segments_[segment].end_ms) {
      // A gap: the next stretch follows at once, from a key picture.
      ++segment;
      if (segment < segments_.size()) {
        media_ms = segments_[segment].start_ms;
        restart = true;
        rebase();
      }
    }
  }
}

}  // namespace sim::device::recordings
