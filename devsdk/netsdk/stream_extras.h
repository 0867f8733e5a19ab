// What a live stream offers beside its picture: its sound, a snapshot of its last picture and a
// local recording of its raw stream. One per stream session, fed by the stream's reader thread.
//
// Threads: the reader thread calls on_frame and keeps pictures; application threads open and
// close the sound, set the volume, take snapshots and start and stop recordings. The volume is
// atomic; the picture is guarded by the keeper's lock; the recording by record_lock_, which
// the reader holds while it writes a block (disk I/O on the reader thread, never on a lock the
// other streams need).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <vector>

#include "devsdk/proto/messages.h"
#include "devsdk/render/picture_keeper.h"
#include "devsdk/render/sound_out.h"

namespace netsdk {

class StreamExtras {
 public:
  StreamExtras() = default;
  ~StreamExtras();
  StreamExtras(const StreamExtras&) = delete;
  StreamExtras& operator=(const StreamExtras&) = delete;

  // Reader thread: each frame of the stream `handle`, before it is decoded.
  void on_frame(int32_t handle, const proto::MediaFrameView& frame);

  std::atomic<int32_t> volume{devsdk::render::kMaxVolume};
  devsdk::render::PictureKeeper picture;

  // The raw stream into `file` (opened by the caller) from the next key frame on; false when a
  // recording runs already (the file is then the caller's to close).
  bool start_recording(std::FILE* file);
  // The running recording's file, taken from the stream (null when none); the caller closes it.
  std::FILE* stop_recording();

 private:
  std::mutex record_lock_;
  std::FILE* record_ = nullptr;      // guarded by record_lock_
  bool waiting_for_key_ = false;     // guarded
  std::vector<uint8_t> block_;       // guarded
};

// The stream whose sound plays, process-wide (0: none). NET_OpenSound, NET_CloseSound and the
// stop of a stream change it under the sound lock; the reader threads test it without the lock
// and play under it, so no sound of a stream reaches the host after its end was told.
bool sound_is_open(int32_t handle);
void play_stream_sound(int32_t handle, const proto::MediaFrameView& frame, int32_t volume);
// NET_OpenSound (a handle) and NET_CloseSound (0): the stream whose sound plays from now on; the
// host is told that the previous one's sound ended.
void switch_sound(int32_t handle);
// NET_StopRealPlay: ends the sound of a stream that stopped.
void stream_sound_ended(int32_t handle);

}  // namespace netsdk
