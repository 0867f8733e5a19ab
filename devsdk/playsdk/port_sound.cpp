#include "devsdk/playsdk/port_sound.h"

#include <atomic>
#include <mutex>

#include "devsdk/render/sound_out.h"

namespace playsdk {
namespace {

std::mutex sound_lock;
std::atomic<int32_t> sound_port{0};  // written under sound_lock

}  // namespace

void switch_port_sound(int32_t port) {
  std::lock_guard<std::mutex> hold(sound_lock);
  int32_t previous = sound_port.exchange(port);
  if (previous != 0 && previous != port) devsdk::render::end_sound(kPlaySoundStreamBase + previous);
}

void port_sound_ended(int32_t port) {
  std::lock_guard<std::mutex> hold(sound_lock);
  if (port == 0 || sound_port.load() != port) return;
  sound_port.store(0);
  devsdk::render::end_sound(kPlaySoundStreamBase + port);
}

void play_port_sound(int32_t port, const uint8_t* codes, size_t count, int32_t volume) {
  if (port == 0 || sound_port.load() != port) return;
  std::lock_guard<std::mutex> hold(sound_lock);
  if (sound_port.load() != port) return;
  devsdk::render::play_alaw(kPlaySoundStreamBase + port, codes, count, volume);
}

}  // namespace playsdk
