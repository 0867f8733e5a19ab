// A live stream of a simulated channel and its viewers.
//
// One LiveStream exists per channel and stream kind while anybody watches it. Each tick of the
// device's pacer it makes one picture: the next picture of the encoded loop with a live band
// (clock and time code of the capture time), wrapped once as a media_frame message and handed,
// as the same bytes, to every viewer. A viewer that joins gets the pictures since the last key
// picture at once, so its decoder can start; a viewer that falls behind drops pictures up to the
// next key picture.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "devsdk/proto/messages.h"
#include "sim/device/video/band_painter.h"
#include "sim/device/video/encoded_loop.h"

namespace sim::device::video {

using FrameBytes = std::shared_ptr<const std::vector<uint8_t>>;  // one whole media_frame message

// The media_frame message of one frame whose data is `a` followed by `b`.
FrameBytes media_frame_message(uint8_t kind, uint8_t codec, uint64_t capture_ms, int width, int height,
                               const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
FrameBytes media_frame_message(uint8_t kind, uint8_t codec, uint64_t capture_ms, int width, int height,
                               const uint8_t* a, size_t a_size, const std::vector<uint8_t>& b);

// The sending end of one stream connection. Threads: the pacer offers, the connection's thread
// takes; the queue and flags are guarded by lock_.
class StreamViewer {
 public:
  explicit StreamViewer(uint32_t token) : token_(token) {}
  uint32_t token() const { return token_; }

  // Queues a picture (or its sound). Beyond kMaxQueued messages the queue is dropped and the
  // viewer skips to the next key picture.
  void offer(const FrameBytes& frame, bool key);
  // Waits up to wait_ms for pictures and moves them to `out`; false once closed.
  bool take(std::vector<FrameBytes>& out, int wait_ms);
  // Ends the viewer: take() returns false from now on. Any thread.
  void close();
  bool closed() const;

  static constexpr size_t kMaxQueued = 100;  // two seconds of pictures and their sound

 private:
  const uint32_t token_;
  mutable std::mutex lock_;
  std::condition_variable ready_;
  std::deque<FrameBytes> queue_;
  bool closed_ = false;
  bool need_key_ = false;
};

class LiveStream {
 public:
  // `lens`: sent before every key picture of a fisheye stream. `sound`: A-law bytes of a loop
  // (sound_loop.h) sent after every picture, 40 ms of it each; null for a silent stream.
  LiveStream(std::shared_ptr<const EncodedLoop> loop, std::optional<proto::LensInfo> lens,
             std::shared_ptr<const std::vector<uint8_t>> sound = nullptr);

  // Shows `loop` (same size) from the next picture on, starting at one of its key pictures: a
  // PTZ camera's new view. Any thread.
  void replace_loop(std::shared_ptr<const EncodedLoop> loop);

  // Threads: add and remove run on connection threads, produce on the pacer.
  void add(const std::shared_ptr<StreamViewer>& viewer);
  // True when the stream has no viewer left.
  bool remove(const std::shared_ptr<StreamViewer>& viewer);
  size_t viewers() const;
  // Makes the next picture, captured now (`capture_ms`, milliseconds since the epoch), and
  // offers it to every viewer. Does nothing without viewers (false).
  bool produce(uint64_t capture_ms);
  uint64_t produced() const;

 private:
  static FrameBytes frame_message(uint8_t kind, uint8_t codec, uint64_t capture_ms, int width, int height,
                                  const uint8_t* a, size_t a_size, const std::vector<uint8_t>& b);

  const std::optional<proto::LensInfo> lens_;
  const std::shared_ptr<const std::vector<uint8_t>> sound_;
  // Pacer only.
  BandPainter painter_;
  std::vector<uint8_t> band_slice_;

  mutable std::mutex lock_;
  std::shared_ptr<const EncodedLoop> loop_;              // guarded by lock_
  std::shared_ptr<const EncodedLoop> next_loop_;         // guarded: replaces loop_ at the next picture
  std::vector<std::shared_ptr<StreamViewer>> viewers_;  // guarded
  std::vector<std::pair<FrameBytes, bool>> since_key_;  // guarded: messages since the last key
  size_t next_picture_ = 0;                             // guarded
  uint64_t produced_ = 0;                               // guarded
};

}  // namespace sim::device::video
