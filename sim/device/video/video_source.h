// The live video of one simulated device: its streams that somebody watches and the pacer that
// makes their pictures, 25 a second, on one thread for all of them.
//
// Nothing runs for a stream nobody watches: a stream exists from its first viewer to its last,
// and the pacer thread sleeps while there is none. Pictures come from loops encoded once
// (encoded_loop.h); a picture costs its live band and the copies to the viewers.
//
// Threads: connection threads attach and detach viewers; the pacer thread (started on the first
// attach, joined by stop()) produces. The stream table is guarded by lock_; a stream's own state
// by the stream.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "sim/device/video/live_stream.h"
#include "sim/device/video/ptz_follower.h"
#include "sim/device/video/ptz_head.h"
#include "sim/device/video/scene.h"

namespace sim::device::video {

// What a stream shows: the scene, its bit rate, the lens of a fisheye picture, the head of a
// PTZ camera (the scene's view follows it) and the pitch of its sound (0: silent).
struct StreamSpec {
  SceneSpec scene;
  int bit_rate = 1000000;
  std::optional<proto::LensInfo> lens;
  std::shared_ptr<PtzHead> ptz;
  int tone_hz = 0;
};

// Channel and real-play type of a live stream.
using StreamKey = std::pair<int32_t, uint32_t>;

class VideoSource {
 public:
  VideoSource() = default;
  ~VideoSource();
  VideoSource(const VideoSource&) = delete;
  VideoSource& operator=(const VideoSource&) = delete;

  // Adds a viewer to the stream of `key`, starting the stream (and encoding its loop, once per
  // process) when it is the first. False when the loop cannot be encoded.
  bool attach(const StreamKey& key, const StreamSpec& spec, const std::shared_ptr<StreamViewer>& viewer);
  // Removes the viewer; the stream ends with its last viewer.
  void detach(const StreamKey& key, const std::shared_ptr<StreamViewer>& viewer);
  // Closes every viewer of a login, as the device does when the login ends.
  void close_viewers(uint32_t token);
  // Ends every stream and joins the pacer.
  void stop();

  // For tests.
  size_t streams() const;
  size_t viewers(const StreamKey& key) const;
  uint64_t produced(const StreamKey& key) const;  // pictures made since the stream started
  uint64_t produced_total() const { return produced_total_.load(); }

 private:
  void pace();

  mutable std::mutex lock_;
  std::condition_variable wake_;
  std::map<StreamKey, std::shared_ptr<LiveStream>> streams_;  // guarded by lock_
  std::vector<std::pair<StreamKey, std::shared_ptr<StreamViewer>>> viewers_;  // guarded
  bool stopping_ = false;                                      // guarded
  std::thread pacer_;                                          // started under lock_
  std::atomic<uint64_t> produced_total_{0};
  PtzFollower ptz_;  // the views of PTZ streams
};

}  // namespace sim::device::video
