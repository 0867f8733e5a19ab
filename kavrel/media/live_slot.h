// The live slot of a pane: what live viewing keeps about the stream in one pane of the wall.
//
// Threads: the user-interface thread and the start thread of the camera started in the pane.
// The numbers and flags are atomics; the device identifier and the facts the start thread leaves
// for the user-interface thread (title, size, alarm output) are guarded by `lock`, held only to
// copy them in or out. `slotCamera` is the user-interface thread's alone.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace kavrel {

struct CamInfo;

// Size of the device identifier field of a slot (bytes, terminating zero included).
inline constexpr size_t kSlotDevIdField = 120;

// The alarm output a started stream found on its device.
enum class SlotAlarm { unknown, none, off, on };

struct LiveSlot {
  std::atomic<int32_t> slotChannel{0};
  std::atomic<bool> slotStreaming{false};
  std::atomic<bool> slotConnecting{false};
  std::atomic<int32_t> slotWidth{0};
  std::atomic<int32_t> slotHeight{0};
  // 1 while the pane's sound is open (user-interface thread; atomic for readers elsewhere).
  std::atomic<int32_t> slotAudioOn{0};
  std::shared_ptr<CamInfo> slotCamera;  // user-interface thread only

  mutable std::mutex lock;
  std::string slotDevId;  // guarded by lock
  // Left by the start thread, applied to the pane on the user-interface thread; guarded by lock.
  struct Pending {
    bool title_set = false;
    std::string title;
    bool size_set = false;
    int32_t width = 0;
    int32_t height = 0;
    SlotAlarm alarm = SlotAlarm::unknown;
  } pending;

  std::string dev_id() const {
    std::lock_guard<std::mutex> hold(lock);
    return slotDevId;
  }
};

}  // namespace kavrel
