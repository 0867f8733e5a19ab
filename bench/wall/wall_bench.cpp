// The video wall's cost on one core.
//
// 1. Busy wall: sixteen panes of a 1920 x 1080 wall each get a new video frame (written into the
//    pane's surface as the player does), then the compositor builds the wall's picture. Timed per
//    frame is the composition only; the peer is one plain copy of a whole 1920 x 1080 picture,
//    the least any compositor must move when everything changed. Target: under 4 ms per frame.
// 2. Idle wall: the user-interface thread's message loop runs for a while over a wall where
//    nothing changes. Reported are the thread's CPU time, the paints served and what the
//    compositor found changed; all should be zero.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "kavrel/ui/ui_messages.h"
#include "kavrel/ui/video_wnd_manager.h"
#include "platform/window/surface.h"
#include "platform/window/window.h"

namespace {

using Clock = std::chrono::steady_clock;
using kavrel::ui::CVideoWndManger;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr uintptr_t kStopTimer = 77;

int paints_served = 0;

// The control window stand-in: counts paints and ends the loop on its timer.
platform::LRESULT root_proc(platform::HWND window, platform::UINT message, platform::WPARAM wparam,
                            platform::LPARAM lparam) {
  if (message == platform::WM_PAINT) ++paints_served;
  if (message == platform::WM_TIMER && wparam == kStopTimer) {
    platform::kill_timer(window, kStopTimer);
    platform::post_quit_message(0);
    return 0;
  }
  return platform::default_window_proc(window, message, wparam, lparam);
}

void pump_pending() {
  platform::Msg msg;
  while (platform::peek_message(&msg)) platform::dispatch_message(msg);
}

double thread_cpu_ms() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// A new frame in a pane's render window: every pixel written, as a decoder's scaler does.
void render_frame(platform::HWND panel, uint32_t seed) {
  {
    platform::SurfaceAccess access(panel);
    if (!access.valid()) return;
    const platform::SurfacePixels& px = access.pixels();
    for (int y = 0; y < px.height; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(px.data + static_cast<size_t>(y) * px.stride);
      uint32_t value = 0xFF000000u | ((seed * 2654435761u + static_cast<uint32_t>(y) * 40503u) & 0x00FFFFFFu);
      std::fill(row, row + px.width, value);
    }
  }
  platform::mark_surface_changed(panel, nullptr);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main() {
  platform::WindowSpec spec;
  spec.rect = platform::Rect{0, 0, kWidth, kHeight};
  spec.style = platform::WS_VISIBLE;
  spec.name = "ControlWindow";
  spec.proc = &root_proc;
  platform::HWND root = platform::create_window(spec);
  auto wall = std::make_unique<CVideoWndManger>(root);
  wall->Create(root, "VideoManager", kavrel::ui::kWallStyle);
  wall->Move(0, 0, kWidth, kHeight);
  wall->SetLayout(16);
  for (int i = 0; i < 16; ++i) {
    wall->pane(i)->OptimizeView(1920, 1080);
    wall->pane(i)->SetVideoInfo(u"Câmera - Principal ");
  }
  pump_pending();

  platform::Compositor compositor(root);
  platform::Compositor::Frame frame;
  compositor.compose(&frame);

  // ---- busy wall ----
  constexpr int kFrames = 300;
  std::vector<double> compose_ms;
  std::vector<double> copy_ms;
  std::vector<uint8_t> peer_src(static_cast<size_t>(kWidth) * kHeight * 4, 0x5A);
  std::vector<uint8_t> peer_dst(peer_src.size());
  for (int f = 0; f < kFrames; ++f) {
    for (int i = 0; i < 16; ++i) render_frame(wall->pane(i)->render_window(), static_cast<uint32_t>(f * 16 + i));
    auto t0 = Clock::now();
    platform::Rect changed = compositor.compose(&frame);
    auto t1 = Clock::now();
    if (platform::rect_is_empty(changed)) {
      std::fprintf(stderr, "frame %d: the compositor saw no change\n", f);
      return 1;
    }
    peer_src[static_cast<size_t>(f)] ^= 1;
    auto t2 = Clock::now();
    std::memcpy(peer_dst.data(), peer_src.data(), peer_src.size());
    auto t3 = Clock::now();
    compose_ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    copy_ms.push_back(std::chrono::duration<double, std::milli>(t3 - t2).count());
  }
  double compose = median(compose_ms);
  double copy = median(copy_ms);
  std::printf("busy wall, 16 panes, 1920x1080, every pane changed: compose %.3f ms/frame (median of %d), "
              "peer full-frame copy %.3f ms, ratio %.2f, target < 4 ms: %s\n",
              compose, kFrames, copy, compose / copy, compose < 4.0 ? "met" : "MISSED");

  // ---- idle wall ----
  pump_pending();
  compositor.compose(&frame);
  paints_served = 0;
  constexpr uint32_t kIdleMs = 2000;
  double cpu0 = thread_cpu_ms();
  auto w0 = Clock::now();
  platform::set_timer(root, kStopTimer, kIdleMs);
  platform::run_message_loop();
  double wall_ms = std::chrono::duration<double, std::milli>(Clock::now() - w0).count();
  double cpu = thread_cpu_ms() - cpu0;
  platform::Rect idle_changed = compositor.compose(&frame);
  std::printf("idle wall: %.0f ms of message loop used %.2f ms of CPU (%.3f%%), %d paints, compositor change %s\n",
              wall_ms, cpu, 100.0 * cpu / wall_ms, paints_served, platform::rect_is_empty(idle_changed) ? "none" : "SEEN");

  wall.reset();
  platform::destroy_window(root);
  return 0;
}
