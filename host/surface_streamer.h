// Shows a window tree in the page: composes the root window's picture when something changed,
// compresses the changed rectangle to JPEG and hands it out as one binary frame message.
//
// Flow control: at most `max_unacked` frames are out without the page's acknowledgement; while
// that many are out nothing is composed, so when the page is slower the next frame simply shows
// the newest picture (never a growing queue). Frames are sent only when the composition listener
// reported a change, no more often than `max_fps`.
//
// Frame message (little-endian): "KVF1", u32 seq, u16 surface width, u16 surface height, u16 x,
// u16 y, u16 w, u16 h, u32 flags (bit 0: last rectangle of the frame), then the JPEG.
//
// Threads: one frame thread owned by the streamer composes and encodes; every public member may
// be called from any thread and takes `lock_`. The sink runs on the frame thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/window/surface.h"
#include "platform/window/window.h"

namespace host {

inline constexpr size_t kFrameHeaderSize = 24;

class SurfaceStreamer {
 public:
  struct Options {
    int quality = 80;
    int max_fps = 30;      // 0: as fast as the page acknowledges
    uint32_t max_unacked = 2;
  };
  using Sink = std::function<void(std::shared_ptr<const std::vector<uint8_t>> frame)>;

  struct Stats {
    uint64_t frames = 0;
    uint64_t bytes = 0;
    std::chrono::nanoseconds compose_time{0};
    std::chrono::nanoseconds encode_time{0};
  };

  explicit SurfaceStreamer(Options options);
  ~SurfaceStreamer();
  SurfaceStreamer(const SurfaceStreamer&) = delete;
  SurfaceStreamer& operator=(const SurfaceStreamer&) = delete;

  void start();
  void stop();

  // The window whose tree is shown (null: nothing). A new root starts with a whole picture.
  void set_root(platform::HWND root);
  // Asked on the frame thread before each frame which window to show instead of the root (null:
  // the root itself), so a window the control lifts out of its tree (full screen) is followed;
  // `changed` hears of each switch, on the frame thread. Set before start().
  void set_root_chooser(std::function<platform::HWND()> chooser, std::function<void(platform::HWND shown)> changed);
  // The window shown now.
  platform::HWND root() const;
  // A page to send frames to: its first frame is whole, earlier frames count as acknowledged.
  void attach(Sink sink);
  void detach();
  // The page has painted frame `seq` (and every one before it).
  void acknowledge(uint32_t seq);
  // The next frame is whole.
  void request_full();
  // Something a composition would show changed (the composition listener).
  void changed();

  Stats stats() const;

 private:
  void run();
  bool ready_locked() const;

  const Options options_;
  mutable std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;           // guarded by lock_
  bool dirty_ = false;              // guarded by lock_
  bool full_ = true;                // guarded by lock_
  platform::HWND root_ = nullptr;   // guarded by lock_
  platform::HWND shown_ = nullptr;  // the root or the chooser's pick; guarded by lock_
  std::function<platform::HWND()> chooser_;        // set before start()
  std::function<void(platform::HWND)> on_switch_;  // set before start()
  Sink sink_;                       // guarded by lock_
  uint64_t generation_ = 0;         // counts attach/detach; guarded by lock_
  uint32_t sent_ = 0;               // guarded by lock_
  uint32_t acked_ = 0;              // guarded by lock_
  Stats stats_;                     // guarded by lock_
  std::thread thread_;
};

}  // namespace host
