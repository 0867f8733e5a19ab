// A playback or download of a simulated device: the frames of the recordings in a span, sent on
// one stream connection from its connection thread.
//
// The frames are real pictures: the channel's encoded loop restarted at a key picture at every
// stretch of recording, with a live band (clock text and time code) of each frame's recording
// time. Frames follow each other at 25 a second of recording time; gaps between recordings are
// skipped. A playback is paced at its speed (1/8 to 8) and may be paused through stream_control;
// a download is sent as fast as the client reads it. Both end with stream_end.
//
// Threads: one, the connection's; nothing is shared.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "devsdk/proto/messages.h"
#include "devsdk/proto/wire.h"
#include "sim/device/recordings/schedule.h"
#include "sim/device/video/band_painter.h"
#include "sim/device/video/encoded_loop.h"

namespace sim::device::recordings {

inline constexpr int64_t kFrameMs = 1000 / video::kFramesPerSecond;

// A stretch of recording without a gap, in milliseconds since the epoch: frames at start,
// start + kFrameMs, ... before end.
struct Segment {
  int64_t start_ms = 0;
  int64_t end_ms = 0;
};

// The recordings of the type (0: every type) clipped to start..end (seconds), spans that touch
// joined into one segment.
std::vector<Segment> span_segments(const std::vector<RecordSpan>& spans, int64_t start, int64_t end,
                                   uint32_t record_type);
uint32_t frame_count(const std::vector<Segment>& segments);

class RecordingStream {
 public:
  RecordingStream(std::shared_ptr<const video::EncodedLoop> loop, std::optional<proto::LensInfo> lens,
                  std::vector<Segment> segments);

  // Total size and frame count, for the bind's reply.
  proto::RecordStreamInfo info() const;

  // Sends the frames on `fd` until the last (then stream_end), the client closes the connection
  // or breaks the protocol, or `keep_going` turns false (checked at least every 100 ms).
  // `frames` holds what the client sent after its bind. `paced`: a playback.
  void serve(int fd, proto::FrameReader& frames, bool paced, const std::function<bool()>& keep_going);

 private:
  // The next frame's message(s): a lens frame before a key picture of a fisheye stream.
  void append_frame(std::vector<uint8_t>& out, int64_t capture_ms, bool restart);

  const std::shared_ptr<const video::EncodedLoop> loop_;
  const std::optional<proto::LensInfo> lens_;
  const std::vector<Segment> segments_;
  video::BandPainter painter_;
  std::vector<uint8_t> band_slice_;
  size_t next_picture_ = 0;
};

}  // namespace sim::device::recordings
