// Channel captures: the per-stream state that the frame-drawing hook needs (overlay flags,
// picture modes, their buffers and pictures), one per stream that the library renders into a
// window, and the process-wide registry that finds them.
//
// Threads and locks
//  - The registry map is guarded by the registry lock, held only for one map operation; it is
//    taken by the stream exports (add, delete, lookups), the mode setters, the drawing hook (one
//    lookup per frame) and the stuck-connection monitor. It is never taken while a capture's
//    lock is held.
//  - A capture's drawing state (everything marked "drawing state" below) is guarded by the
//    capture's own lock: the drawing hook on the Device SDK's rendering threads, the deletion
//    and the fisheye setters take it.
//  - Fields written without that lock (the mode setters, the alert listener, the monitor) are
//    atomics, each read once per frame.
//  - Captures are shared: the registry and every lookup hold a reference, so a capture deleted
//    while a drawing call still uses it is freed only when that call lets go of it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "brixa/live/altalux_filter.h"
#include "devsdk/playsdk/playsdk.h"
#include "platform/gdi/gdi.h"

namespace brixa::live {

inline constexpr int kHistorySize = 10;
inline constexpr uint32_t kDefaultHistoryIntervalMs = 1500;

struct Thumbnail {
  int width = 0;
  int height = 0;
  platform::HBITMAP bitmap = nullptr;
};

struct ChannelCapture {
  ChannelCapture(platform::HWND window, int32_t stream_handle, const char* dev_id, int32_t channel,
                 int32_t is_playback, uint32_t now);
  ~ChannelCapture();  // frees whatever a failed deletion left behind
  ChannelCapture(const ChannelCapture&) = delete;
  ChannelCapture& operator=(const ChannelCapture&) = delete;

  // Immutable after creation.
  char dev_id[256] = {};
  const int32_t channel;
  const platform::HWND window;
  const int32_t stream_handle;
  const int32_t is_playback;

  // Written by the drawing hook, read by the monitor; `stuck` the other way round.
  std::atomic<uint32_t> last_frame_tick;
  std::atomic<uint8_t> stuck{0};

  // Modes and flags, written by the setters and the alert listener without the lock.
  std::atomic<uint8_t> history_mode{0};
  std::atomic<uint32_t> history_interval{kDefaultHistoryIntervalMs};
  std::atomic<uint8_t> wdr_enabled{0};
  std::atomic<int32_t> wdr_intensity{kDefaultIntensity};
  std::atomic<uint8_t> freeze_mode{0};
  std::atomic<uint8_t> frozen_captured{0};  // cleared by the freeze setter, set by the hook
  std::atomic<int32_t> freeze_corner{1};
  std::atomic<uint8_t> motion_alarm{0};
  std::atomic<uint8_t> video_loss_alarm{0};
  std::atomic<uint8_t> masking_alarm{0};
  std::atomic<uint8_t> audio_alarm{0};
  std::atomic<int32_t> visualization_mode{0};
  std::atomic<int32_t> eptz_window{0};

  // Drawing state, guarded by `lock`.
  std::timed_mutex lock;
  bool released = false;  // set by the deletion: nothing is drawn or kept any more
  uint32_t last_history_tick;
  int32_t history_index = -1;
  Thumbnail history[kHistorySize];
  std::vector<uint8_t> frame_buffer;
  int buffer_width = 0;
  int buffer_height = 0;
  std::unique_ptr<CBaseAltaLuxFilter> filter;
  platform::HBITMAP frozen_bitmap = nullptr;
  // The fisheye parameters read back from the play port, with their own display record and
  // work area, which the electronic-PTZ outline reads.
  PLAY_FISHEYE_PARAMS fisheye_params{};
  PLAY_FISHEYE_DISPLAY fisheye_display{};
  PLAY_FISHEYE_WINDOW fisheye_windows[PLAY_FISHEYE_MAX_WINDOWS]{};

  // Frees buffers, filter and pictures; the lock is held by the caller.
  void release_resources();
};

using CapturePtr = std::shared_ptr<ChannelCapture>;

// The clock the captures and the monitor read; tests install their own.
using TickSource = uint32_t (*)();
void set_tick_source(TickSource source);  // null: the platform's tick count
uint32_t now_tick();

// Creates a capture with the initial values and enters it under its stream handle, replacing
// any capture with that key. Returns it (null when it cannot be made).
CapturePtr AddChannelCaptures(platform::HWND window, int32_t stream_handle, const char* dev_id, int32_t channel,
                              int32_t is_playback);
// Removes the capture from the registry, then releases its resources under its lock, waiting
// at most 1000 ms for the lock. The object itself goes when its last user lets go.
void DeleteChannelCaptures(const CapturePtr& capture);

CapturePtr find_capture_by_stream(int32_t stream_handle);
CapturePtr find_capture_by_channel(const char* dev_id, int32_t channel);
CapturePtr find_capture_by_window(platform::HWND window);
// Every capture, in stream-handle order (for the monitor and for tests).
std::vector<CapturePtr> all_captures();
size_t capture_count();

// Keeps the capture's buffer and filter sized to width x height; false when either cannot be
// made. The capture's lock is held by the caller.
bool size_capture_buffer(ChannelCapture& capture, int width, int height);

}  // namespace brixa::live
