// Keeps the picture of PTZ streams on where their camera's head points: each view is a loop of
// its own, encoded on demand on the follower's thread and kept in a small cache, and handed to
// the stream when it is ready. Until then the stream goes on showing the view it has, so the
// pacer never waits for an encoding.
//
// Threads: the pacer polls, connection threads track and untrack streams (under the video
// source's lock), the follower's thread encodes. The tracked streams and the work queue are
// guarded by lock_; the thread is started on the first job and joined by stop().
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "sim/device/video/live_stream.h"
#include "sim/device/video/ptz_head.h"
#include "sim/device/video/scene.h"

namespace sim::device::video {

// The loop of a PTZ view: from the cache of recent views, else encoded now. Thread-safe.
std::shared_ptr<const EncodedLoop> ptz_view_loop(const SceneSpec& scene, int bit_rate);

class PtzFollower {
 public:
  PtzFollower() = default;
  ~PtzFollower();
  PtzFollower(const PtzFollower&) = delete;
  PtzFollower& operator=(const PtzFollower&) = delete;

  // `scene` is what the stream shows now (its view included).
  void track(const LiveStream* key, const std::shared_ptr<LiveStream>& stream, std::shared_ptr<PtzHead> head,
             const SceneSpec& scene, int bit_rate);
  void untrack(const LiveStream* key);
  // Asks for the loop of every tracked stream whose head points elsewhere than its picture.
  void poll();
  // Ends the thread after the encoding in progress; a later poll starts it again.
  void stop();

 private:
  struct Tracked {
    std::weak_ptr<LiveStream> stream;
    std::shared_ptr<PtzHead> head;
    SceneSpec scene;  // view: the last one asked for
    int bit_rate = 0;
    bool queued = false;
  };
  void run();

  std::mutex lock_;
  std::condition_variable wake_;
  std::map<const LiveStream*, Tracked> tracked_;  // guarded by lock_
  bool stopping_ = false;                         // guarded
  std::thread thread_;                            // started under lock_
};

}  // namespace sim::device::video
