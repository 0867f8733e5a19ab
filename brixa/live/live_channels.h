// The live-stream part of a device session: per-channel stream handles and play ports, the
// fisheye capability and pipeline, and the channel resolution cache. Embedded in every device
// session and guarded, like the rest of it, by the client's device list lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "devsdk/playsdk/playsdk.h"

namespace brixa::live {

inline constexpr int kLiveChannels = 64;

inline bool valid_channel(int32_t channel) { return channel >= 0 && channel < kLiveChannels; }

// A fisheye stream's play port and what its callbacks share with the exports. The port's
// callbacks run on PlaySDK and NetSDK threads and reach this record through the fisheye port
// registry (never through the device session, which may be deleted while they run).
//  - `params`, `display` and `windows` are guarded by `params_lock` (the information callback
//    writes the lens geometry; the start and the setters write the block to the port).
//  - `info_received` is written last by the information callback and polled by the start.
struct FisheyePort {
  int32_t port = 0;
  std::atomic<int32_t> stream_handle{0};
  std::atomic<uint8_t> info_received{0};
  std::mutex params_lock;
  PLAY_FISHEYE_PARAMS params{};
  PLAY_FISHEYE_DISPLAY display{};
  PLAY_FISHEYE_WINDOW windows[PLAY_FISHEYE_MAX_WINDOWS]{};
};

struct LiveChannels {
  int32_t real_play_handle[kLiveChannels] = {};  // 0: not streaming
  int32_t play_port[kLiveChannels] = {};         // set when a fisheye port is opened, never cleared
  uint8_t fisheye_active[kLiveChannels] = {};    // started through the fisheye pipeline
  uint8_t fisheye_checked = 0;                   // the capability was asked once
  uint8_t fisheye_camera = 0;                    // its answer
  int32_t eptz_window = 0;
  int32_t channel_width[kLiveChannels] = {};
  int32_t channel_height[kLiveChannels] = {};
  uint8_t prefer_named_encode_config = 0;
  std::shared_ptr<FisheyePort> fisheye;  // the running fisheye pipeline, if any
};

}  // namespace brixa::live
