// The table of play ports and the PlaySDK's exported operations on them.
#include <map>
#include <memory>
#include <mutex>

#include "devsdk/playsdk/play_port.h"
#include "devsdk/playsdk/playsdk.h"
#include "devsdk/playsdk/port_sound.h"

namespace playsdk {
namespace {

constexpr int32_t kMaxPorts = 1024;

// Touched by every application thread; guarded by table_lock, held only to find, add or remove.
std::mutex table_lock;
std::map<int32_t, std::shared_ptr<PlayPort>>& table() {
  static auto* ports = new std::map<int32_t, std::shared_ptr<PlayPort>>;
  return *ports;
}

std::shared_ptr<PlayPort> find(int32_t port) {
  std::lock_guard<std::mutex> hold(table_lock);
  auto it = table().find(port);
  return it == table().end() ? nullptr : it->second;
}

// The result of an operation: success, or failure with the port's last error set.
PLAY_BOOL result(int32_t port, uint32_t code) {
  PLAY_TestSetLastError(port, code);
  return code == PLAY_NOERROR ? 1 : 0;
}

template <class Operation>
PLAY_BOOL on_port(int32_t port, Operation operation) {
  auto p = find(port);
  if (p == nullptr) return result(port, PLAY_PARA_OVER);
  return result(port, operation(*p));
}

}  // namespace
}  // namespace playsdk

using playsdk::on_port;
using playsdk::PlayPort;

extern "C" {

int32_t PLAY_OpenStreamPort(uint32_t buffer_size) {
  playsdk::join_reaped();
  if (buffer_size == 0 || buffer_size > 64u * 1024 * 1024) return 0;
  std::lock_guard<std::mutex> hold(playsdk::table_lock);
  auto& ports = playsdk::table();
  for (int32_t n = 1; n <= playsdk::kMaxPorts; ++n) {
    if (ports.count(n) != 0) continue;
    ports[n] = std::make_shared<PlayPort>(n, buffer_size);
    PLAY_TestSetLastError(n, PLAY_NOERROR);
    return n;
  }
  return 0;
}

PLAY_BOOL PLAY_Play(int32_t port, void* window) {
  return on_port(port, [window](PlayPort& p) { return p.play(static_cast<platform::HWND>(window)); });
}

PLAY_BOOL PLAY_InputData(int32_t port, const uint8_t* data, uint32_t size) {
  return on_port(port, [data, size](PlayPort& p) { return p.input(data, size); });
}

PLAY_BOOL PLAY_Stop(int32_t port) {
  return on_port(port, [port](PlayPort& p) {
    uint32_t code = p.stop();
    playsdk::port_sound_ended(port);  // its thread has ended: no sound follows
    return code;
  });
}

PLAY_BOOL PLAY_CloseStream(int32_t port) {
  return on_port(port, [](PlayPort& p) { return p.close_stream(); });
}

PLAY_BOOL PLAY_ReleasePort(int32_t port) {
  std::shared_ptr<PlayPort> p;
  {
    std::lock_guard<std::mutex> hold(playsdk::table_lock);
    auto it = playsdk::table().find(port);
    if (it == playsdk::table().end()) return playsdk::result(port, PLAY_PARA_OVER);
    p = it->second;
    playsdk::table().erase(it);
  }
  p->stop();
  playsdk::port_sound_ended(port);
  p.reset();
  playsdk::join_reaped();
  return playsdk::result(port, PLAY_NOERROR);
}

PLAY_BOOL PLAY_SetDrawCallback(int32_t port, int32_t region, PLAY_DrawCallback callback, intptr_t user) {
  if (region != 0) return playsdk::result(port, PLAY_PARA_OVER);
  return on_port(port, [callback, user](PlayPort& p) { return p.set_draw_callback(callback, user); });
}

PLAY_BOOL PLAY_SetFisheyeInfoCallback(int32_t port, PLAY_FisheyeInfoCallback callback, intptr_t user) {
  return on_port(port, [callback, user](PlayPort& p) { return p.set_fisheye_info_callback(callback, user); });
}

PLAY_BOOL PLAY_StartFisheye(int32_t port) {
  return on_port(port, [](PlayPort& p) { return p.start_fisheye(); });
}

PLAY_BOOL PLAY_StopFisheye(int32_t port) {
  return on_port(port, [](PlayPort& p) { return p.stop_fisheye(); });
}

PLAY_BOOL PLAY_FisheyeParams(int32_t port, int32_t operation, PLAY_FISHEYE_PARAMS* params) {
  return on_port(port, [operation, params](PlayPort& p) { return p.fisheye_params(operation, params); });
}

PLAY_BOOL PLAY_FisheyeEptzUpdate(int32_t port, PLAY_FISHEYE_EPTZ* update, int32_t reserved) {
  if (update == nullptr || reserved != 0) return playsdk::result(port, PLAY_PARA_OVER);
  return on_port(port, [update](PlayPort& p) { return p.eptz_update(*update); });
}

PLAY_BOOL PLAYER_PlaySound(int32_t port) {
  return on_port(port, [port](PlayPort&) {
    playsdk::switch_port_sound(port);
    return static_cast<uint32_t>(PLAY_NOERROR);
  });
}

PLAY_BOOL PLAYER_StopSound(void) {
  playsdk::switch_port_sound(0);
  return 1;
}

PLAY_BOOL PLAYER_SetVolume(int32_t port, int32_t volume) {
  return on_port(port, [volume](PlayPort& p) {
    p.set_volume(volume);
    return static_cast<uint32_t>(PLAY_NOERROR);
  });
}

PLAY_BOOL PLAY_CapturePicture(int32_t port, const char* path) {
  return on_port(port, [path](PlayPort& p) { return p.capture_picture(path); });
}

}  // extern "C"
