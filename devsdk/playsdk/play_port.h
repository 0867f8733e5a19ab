// One play port: a stream buffer fed by PLAY_InputData, a thread that cuts it into media blocks,
// decodes the pictures and draws them into the port's window (dewarped when fisheye processing
// runs), and the port's callbacks.
//
// Threads: the application's threads call the operations; the port's thread (started by play(),
// joined by stop()) decodes, draws and calls the drawing and fisheye information callbacks. The
// buffer and states are guarded by lock_, the callbacks by callback_lock_ (recursive, so a
// callback may change them), the fisheye parameters by fisheye_lock_. The port's thread holds
// callback_lock_ while a callback runs, so removing a callback waits for a running call. The
// thread holds the port alive, so a port may be stopped and released from its own callback.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "devsdk/playsdk/fisheye_layout.h"
#include "devsdk/playsdk/fisheye_view.h"
#include "devsdk/playsdk/playsdk.h"
#include "devsdk/proto/media_block.h"
#include "devsdk/proto/messages.h"
#include "devsdk/render/decoder.h"
#include "devsdk/render/picture_keeper.h"
#include "devsdk/render/sound_out.h"
#include "devsdk/render/surface_writer.h"
#include "platform/window/window.h"

namespace playsdk {

// Threads of ports stopped from their own thread; joined by later table operations.
void reap(std::thread thread);
void join_reaped();

class PlayPort : public std::enable_shared_from_this<PlayPort> {
 public:
  PlayPort(int32_t number, uint32_t buffer_size);
  ~PlayPort();
  PlayPort(const PlayPort&) = delete;
  PlayPort& operator=(const PlayPort&) = delete;

  // Each returns a last-error code: PLAY_NOERROR on success.
  uint32_t play(platform::HWND window);
  uint32_t input(const uint8_t* data, uint32_t size);
  uint32_t stop();
  uint32_t close_stream();
  uint32_t set_draw_callback(PLAY_DrawCallback callback, intptr_t user);
  uint32_t set_fisheye_info_callback(PLAY_FisheyeInfoCallback callback, intptr_t user);
  uint32_t start_fisheye();
  uint32_t stop_fisheye();
  uint32_t fisheye_params(int32_t operation, PLAY_FISHEYE_PARAMS* params);
  uint32_t eptz_update(const PLAY_FISHEYE_EPTZ& update);
  void set_volume(int32_t volume);
  uint32_t capture_picture(const char* path);

 private:
  void run();
  void on_block(const proto::MediaBlock& block);
  void draw_picture(const AVFrame* picture);

  const int32_t number_;
  const uint32_t buffer_size_;

  std::mutex lock_;
  std::condition_variable fed_;
  std::vector<uint8_t> buffer_;      // guarded by lock_: bytes not yet taken by the thread
  bool open_ = true;                 // guarded: the stream is open
  bool stopping_ = false;            // guarded
  platform::HWND window_ = nullptr;  // guarded; read by the thread
  std::thread thread_;               // started by play(), joined by stop()

  std::recursive_mutex callback_lock_;
  PLAY_DrawCallback draw_ = nullptr;  // guarded by callback_lock_
  intptr_t draw_user_ = 0;
  PLAY_FisheyeInfoCallback info_ = nullptr;
  intptr_t info_user_ = 0;

  std::mutex fisheye_lock_;
  bool fisheye_on_ = false;                  // guarded by fisheye_lock_
  std::optional<proto::LensInfo> lens_;      // guarded: as the stream reported it
  bool params_set_ = false;                  // guarded: the application gave the geometry
  PLAY_FISHEYE_PARAMS params_{};             // guarded: display pointer unused
  std::vector<ViewWindow> layout_;           // guarded

  std::atomic<int32_t> volume_{devsdk::render::kMaxVolume};  // of its sound (port_sound.h)
  devsdk::render::PictureKeeper picture_;                     // the last decoded picture

  // The port's thread only.
  proto::MediaBlockReader reader_;
  devsdk::render::Decoder decoder_;
  devsdk::render::SurfaceWriter writer_;
  FisheyeRenderer fisheye_;
};

}  // namespace playsdk
