#include "brixa/live/channel_capture.h"

#include <chrono>
#include <cstring>
#include <map>
#include <thread>

#include "brixa/core/client_registry.h"
#include "platform/tick_count.h"
#include "trace/trace.h"

namespace brixa::live {
namespace {

// The capture registry: stream handle to capture. Process-wide for the life of the process.
struct Registry {
  std::mutex lock;
  std::map<int32_t, CapturePtr> by_stream;  // guarded by lock
};

Registry& registry() {
  static auto* r = new Registry();
  return *r;
}

std::atomic<TickSource> tick_source{nullptr};

}  // namespace

void set_tick_source(TickSource source) { tick_source.store(source); }

uint32_t now_tick() {
  TickSource source = tick_source.load();
  return source != nullptr ? source() : platform::tick_count_ms();
}

ChannelCapture::ChannelCapture(platform::HWND window_handle, int32_t stream, const char* id, int32_t chl,
                               int32_t playback, uint32_t now)
    : channel(chl),
      window(window_handle),
      stream_handle(stream),
      is_playback(playback),
      last_frame_tick(now),
      last_history_tick(now) {
  copy_text(dev_id, id);
  fisheye_display.windows = fisheye_windows;
  fisheye_params.display = &fisheye_display;
}

ChannelCapture::~ChannelCapture() { release_resources(); }

void ChannelCapture::release_resources() {
  wdr_enabled.store(0);
  history_mode.store(0);
  freeze_mode.store(0);
  frozen_captured.store(0);
  std::vector<uint8_t>().swap(frame_buffer);
  buffer_width = buffer_height = 0;
  filter.reset();
  for (Thumbnail& t : history) {
    if (t.bitmap != nullptr) platform::DeleteObject(t.bitmap);
    t = Thumbnail{};
  }
  if (frozen_bitmap != nullptr) platform::DeleteObject(frozen_bitmap);
  frozen_bitmap = nullptr;
}

CapturePtr AddChannelCaptures(platform::HWND window, int32_t stream_handle, const char* dev_id, int32_t channel,
                              int32_t is_playback) {
  try {
    auto capture = std::make_shared<ChannelCapture>(window, stream_handle, dev_id, channel, is_playback, now_tick());
    Registry& r = registry();
    CapturePtr replaced;
    {
      std::lock_guard<std::mutex> hold(r.lock);
      replaced = std::move(r.by_stream[stream_handle]);
      r.by_stream[stream_handle] = capture;
    }
    return capture;  // a replaced capture goes with its last user
  } catch (const std::exception& e) {
    trace::exception("AddChannelCaptures", e.what());
    return nullptr;
  }
}

void DeleteChannelCaptures(const CapturePtr& capture) {
  if (capture == nullptr) {
    trace::step("Null capture");
    return;
  }
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    auto it = r.by_stream.find(capture->stream_handle);
    if (it != r.by_stream.end() && it->second == capture) r.by_stream.erase(it);
  }
  // Try, sleeping 100 ms between tries, for at most 1000 ms since the first try.
  auto first_try = std::chrono::steady_clock::now();
  std::unique_lock<std::timed_mutex> hold(capture->lock, std::try_to_lock);
  while (!hold.owns_lock()) {
    if (std::chrono::steady_clock::now() - first_try >= std::chrono::milliseconds(1000)) {
      trace::error("DeleteChannelCaptures", 213, "Cannot get access to capture object (213)");
      return;  // the resources go with the object's last user
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    hold.try_lock();
  }
  capture->released = true;
  capture->release_resources();
}

CapturePtr find_capture_by_stream(int32_t stream_handle) {
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  auto it = r.by_stream.find(stream_handle);
  return it != r.by_stream.end() ? it->second : nullptr;
}

CapturePtr find_capture_by_channel(const char* dev_id, int32_t channel) {
  if (dev_id == nullptr) return nullptr;
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  for (auto& [key, capture] : r.by_stream)
    if (capture->channel == channel && strcmp(capture->dev_id, dev_id) == 0) return capture;
  return nullptr;
}

CapturePtr find_capture_by_window(platform::HWND window) {
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  for (auto& [key, capture] : r.by_stream)
    if (capture->window == window) return capture;
  return nullptr;
}

std::vector<CapturePtr> all_captures() {
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  std::vector<CapturePtr> out;
  out.reserve(r.by_stream.size());
  for (auto& [key, capture] : r.by_stream) out.push_back(capture);
  return out;
}

size_t capture_count() {
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  return r.by_stream.size();
}

bool size_capture_buffer(ChannelCapture& capture, int width, int height) {
  if (width <= 0 || height <= 0) return false;
  if (width == capture.buffer_width && height == capture.buffer_height && capture.filter != nullptr) return true;
  trace::step("Changing resolution");
  trace::value("BufferWidth", width);
  trace::value("BufferHeight", height);
  std::vector<uint8_t>().swap(capture.frame_buffer);
  capture.buffer_width = capture.buffer_height = 0;
  capture.filter.reset();
  try {
    capture.frame_buffer.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  } catch (const std::bad_alloc&) {
    return false;
  }
  capture.buffer_width = width;
  capture.buffer_height = height;
  capture.filter = create_altalux_filter(width, height);
  if (capture.filter == nullptr) return false;
  trace::step("Changed resolution");
  return true;
}

}  // namespace brixa::live
