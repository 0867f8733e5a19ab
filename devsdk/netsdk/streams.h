// The NetSDK's live streams: stream handle -> the stream connection to the device, the
// application's real-data callback and, for a stream played into a window, its decoder.
//
// Threads: the stream connection's reader thread delivers every frame (real-data callback,
// decoding, drawing, drawing callback); application threads open, stop and register. The table
// is guarded by its own mutex, held only to find, add or remove; the real-data callback by the
// stream's callback lock, held while the callback runs, so a removal waits for a running call.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "devsdk/netsdk/connection.h"
#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/stream_extras.h"
#include "devsdk/render/decoder.h"
#include "devsdk/render/surface_writer.h"
#include "platform/window/window.h"

namespace netsdk {

struct StreamSession {
  int32_t handle = 0;
  int32_t login_id = 0;
  platform::HWND window = nullptr;  // null: no drawing
  std::shared_ptr<Connection> connection;

  // The application's real-data callback; recursive, so the callback may change it itself.
  std::recursive_mutex callback_lock;
  NET_RealDataCallBackEx data_callback = nullptr;  // guarded by callback_lock
  intptr_t data_user = 0;                          // guarded
  uint32_t data_flags = 0;                         // guarded

  // Sound, snapshot and local recording (their own threads and locks: stream_extras.h).
  StreamExtras extras;

  // Reader thread only.
  devsdk::render::Decoder decoder;
  devsdk::render::SurfaceWriter writer;
  std::vector<uint8_t> block;

  // Handles one pushed message of the stream connection.
  void on_push(const proto::Message& message);
};

// Decodes a video frame, keeps the picture for snapshots in `extras` (may be null) and, with a
// window, draws it there scaled to the client area, then calls the application's drawing
// callback. True when a picture was drawn. Stream thread only.
bool render_frame(const proto::MediaFrameView& frame, platform::HWND window, devsdk::render::Decoder& decoder,
                  devsdk::render::SurfaceWriter& writer, int32_t login_id, int32_t handle, StreamExtras* extras);
// The sound, snapshot and recording state of a live stream or a playback, or null (last error
// NET_ERR_INVALID_HANDLE set). The pointer keeps its session alive.
std::shared_ptr<StreamExtras> find_extras(int32_t handle);

// Handles of live streams, playbacks and downloads come from one space, so a drawing callback's
// stream handle names one of them. A handle stays taken until released.
int32_t allocate_handle();
void release_handle(int32_t handle);

// The stream of a handle, or null (last error NET_ERR_INVALID_HANDLE set).
std::shared_ptr<StreamSession> find_stream(int32_t handle);
// NET_Cleanup: closes every stream.
void close_all_streams();

}  // namespace netsdk
