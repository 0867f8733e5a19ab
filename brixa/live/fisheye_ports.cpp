#include "brixa/live/fisheye_ports.h"

#include <map>

#include "brixa/live/draw_hook.h"
#include "brixa/sdk/sdk.h"
#include "platform/gdi/user.h"

namespace brixa::live {
namespace {

// Play port to its record: written by the start and the stop (under a client's device list
// lock), read by the port's callbacks on SDK threads; guarded by `lock`.
struct PortRegistry {
  std::mutex lock;
  std::map<int32_t, std::shared_ptr<FisheyePort>> ports;
};

PortRegistry& ports() {
  static auto* r = new PortRegistry();
  return *r;
}

}  // namespace

void register_fisheye_port(const std::shared_ptr<FisheyePort>& port) {
  std::lock_guard<std::mutex> hold(ports().lock);
  ports().ports[port->port] = port;
}

void unregister_fisheye_port(int32_t port) {
  std::shared_ptr<FisheyePort> gone;
  std::lock_guard<std::mutex> hold(ports().lock);
  auto it = ports().ports.find(port);
  if (it == ports().ports.end()) return;
  gone = std::move(it->second);
  ports().ports.erase(it);
}

std::shared_ptr<FisheyePort> find_fisheye_port(int32_t port) {
  std::lock_guard<std::mutex> hold(ports().lock);
  auto it = ports().ports.find(port);
  return it != ports().ports.end() ? it->second : nullptr;
}

void fill_fisheye_params(FisheyePort& port) {
  port.params = PLAY_FISHEYE_PARAMS{};
  port.params.width_ratio = 3000;
  port.params.height_ratio = 4000;
  port.params.center_x = 4096;
  port.params.center_y = 4096;
  port.params.radius = 4096;
  port.params.mount_mode = 1;
  port.params.visualization = 2;
  port.display = PLAY_FISHEYE_DISPLAY{};
  port.display.screen_width = platform::GetSystemMetrics(platform::SM_CXSCREEN);
  port.display.screen_height = platform::GetSystemMetrics(platform::SM_CYSCREEN);
  for (auto& w : port.windows) w = PLAY_FISHEYE_WINDOW{};
  port.display.windows = port.windows;
  port.params.display = &port.display;
}

void fisheye_draw_callback(int32_t port, void* dc, intptr_t) {
  std::shared_ptr<FisheyePort> record = find_fisheye_port(port);
  if (record == nullptr) return;
  ChannelDrawInfo(record->stream_handle.load(), static_cast<platform::HDC>(dc));
}

void fisheye_info_callback(int32_t port, uint8_t, uint16_t radius, uint16_t center_x, uint16_t center_y,
                           int32_t width_ratio, int32_t height_ratio, uint8_t, uint8_t, uint8_t, intptr_t user) {
  if (user == 0 || radius == 0 || center_x == 0 || center_y == 0) return;
  std::shared_ptr<FisheyePort> record = find_fisheye_port(port);
  if (record == nullptr) return;
  {
    std::lock_guard<std::mutex> hold(record->params_lock);
    record->params.width_ratio = width_ratio;
    record->params.height_ratio = height_ratio;
    record->params.center_x = center_x;
    record->params.center_y = center_y;
    record->params.radius = radius;
  }
  record->info_received.store(1);
}

void fisheye_real_data_callback(int32_t, uint32_t data_type, const uint8_t* data, uint32_t size, int32_t,
                                intptr_t user) {
  if (data_type != NET_DATA_RAW) return;
  PLAY_InputData(static_cast<int32_t>(user), data, size);
}

}  // namespace brixa::live
