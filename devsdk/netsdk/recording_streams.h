// Playbacks and downloads: stream connections bound to a span of a channel's recordings.
//
// Threads: the stream connection's reader thread handles every frame (decoding, drawing, the
// file, the application's callbacks); application threads open, control and stop. Each table
// is guarded by its own mutex, held only to find, add or remove. NET_Stop* removes the entry and
// joins the reader, so no callback runs once it returns.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "devsdk/netsdk/connection.h"
#include "devsdk/netsdk/logins.h"
#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/stream_extras.h"
#include "devsdk/render/decoder.h"
#include "devsdk/render/surface_writer.h"
#include "platform/window/window.h"

namespace netsdk {

// Connects a stream connection for `purpose` (proto::kBindPlayback or kBindDownload) and binds
// it to start..end of the channel's recordings. `on_push` is the connection's push handler. On
// failure returns null with the last error set: NET_ERR_NO_RECORD_FOUND when nothing was
// recorded in the span, NET_ERR_INVALID_HANDLE when the login ended, NET_ERR_NETWORK_ERROR when
// the device cannot be reached, NET_ERR_OPEN_CHANNEL_ERROR when it did not open the stream.
std::shared_ptr<Connection> open_recording(const LoginSession& login, uint32_t purpose, int32_t channel,
                                           int32_t record_type, const proto::Time& start, const proto::Time& end,
                                           std::function<void(const proto::Message&)> on_push,
                                           proto::RecordStreamInfo& info);

// What playbacks and downloads share: their handle, the announced size and the stream
// connection, whose reader thread hands each pushed message to on_push.
struct RecordingSession {
  virtual ~RecordingSession() = default;
  virtual void on_push(const proto::Message& message) = 0;

  // Set before the connection starts; then read only.
  int32_t handle = 0;
  std::atomic<uint32_t> total_kib{0};  // set once the bind is answered
  std::shared_ptr<Connection> connection;
};

// Opens the stream of a new playback or download: gives `session` a handle, connects and binds
// it as open_recording does (its reader holds the session only weakly: the caller's table owns
// it) and sets the announced size. The caller fills the session's other fields first. On failure
// returns false with the handle released and the last error set as open_recording sets it.
bool open_recording_session(const std::shared_ptr<RecordingSession>& session, const LoginSession& login,
                            uint32_t purpose, int32_t channel, int32_t record_type, const proto::Time& start,
                            const proto::Time& end);

struct PlaybackSession final : RecordingSession {
  // Set before the connection starts; then read only.
  int32_t login_id = 0;
  platform::HWND window = nullptr;
  NET_PlayPosCallback position = nullptr;
  intptr_t position_user = 0;
  NET_PlayDataCallback data = nullptr;
  intptr_t data_user = 0;
  NET_TIME start{};
  NET_TIME end{};

  std::atomic<uint64_t> osd_ms{0};  // capture time of the picture on screen; 0 before the first

  // Snapshot and local recording of the playback (their own locks: stream_extras.h).
  StreamExtras extras;

  // Application threads: the speed step (-3..3) and the order of control messages.
  std::mutex control_lock;
  int speed_step = 0;  // guarded by control_lock

  // Reader thread only.
  devsdk::render::Decoder decoder;
  devsdk::render::SurfaceWriter writer;
  std::vector<uint8_t> block;
  uint64_t played_bytes = 0;

  void on_push(const proto::Message& message) override;
};

struct DownloadSession final : RecordingSession {
  // Set before the connection starts; then read only.
  NET_TimeDownloadPosCallback position = nullptr;
  intptr_t user = 0;

  // The reader thread; after the reader has been joined, the stopper.
  FILE* file = nullptr;
  std::vector<uint8_t> block;
  uint64_t written = 0;
  uint32_t reported_kib = 0;
  int64_t reported_at_ms = 0;
  bool failed = false;

  ~DownloadSession() override { close_file(); }
  void on_push(const proto::Message& message) override;
  void close_file();
};

// The playback of a handle, or null (last error NET_ERR_INVALID_HANDLE set).
std::shared_ptr<PlaybackSession> find_playback(int32_t handle);

// NET_Cleanup: stops every playback, and every download (closing its file).
void close_all_playbacks();
void close_all_downloads();

}  // namespace netsdk
