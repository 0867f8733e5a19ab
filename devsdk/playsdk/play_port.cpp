#include "devsdk/playsdk/play_port.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <cstring>

#include "devsdk/playsdk/port_sound.h"
#include "platform/gdi/gdi.h"
#include "platform/window/surface.h"

namespace playsdk {
namespace {

std::mutex reaper_lock;
std::vector<std::thread>& reaped() {
  static auto* threads = new std::vector<std::thread>;  // guarded by reaper_lock
  return *threads;
}

constexpr int kDefaultMount = PLAY_FISHEYE_MOUNT_CEILING;
constexpr int kDefaultVisualization = PLAY_FISHEYE_VIEW_ORIGINAL;

}  // namespace

void reap(std::thread thread) {
  std::lock_guard<std::mutex> hold(reaper_lock);
  reaped().push_back(std::move(thread));
}

void join_reaped() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> hold(reaper_lock);
    threads.swap(reaped());
  }
  for (auto& t : threads) {
    if (t.get_id() == std::this_thread::get_id()) {
      reap(std::move(t));
    } else if (t.joinable()) {
      t.join();
    }
  }
}

PlayPort::PlayPort(int32_t number, uint32_t buffer_size) : number_(number), buffer_size_(buffer_size) {
  params_.mount_mode = kDefaultMount;
  params_.visualization = kDefaultVisualization;
  layout_ = fisheye_layout(kDefaultVisualization, kDefaultMount);
}

PlayPort::~PlayPort() { stop(); }

uint32_t PlayPort::play(platform::HWND window) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!open_) return PLAY_ORDER_ERROR;
  if (thread_.joinable()) return PLAY_ORDER_ERROR;  // playing already
  if (window == nullptr || !platform::is_window(window)) return PLAY_PARA_OVER;
  window_ = window;
  stopping_ = false;
  thread_ = std::thread([self = shared_from_this()] { self->run(); });
  return PLAY_NOERROR;
}

uint32_t PlayPort::input(const uint8_t* data, uint32_t size) {
  if (data == nullptr && size != 0) return PLAY_PARA_OVER;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!open_) return PLAY_ORDER_ERROR;
    if (buffer_.size() + size > buffer_size_) return PLAY_BUF_OVER;
    buffer_.insert(buffer_.end(), data, data + size);
  }
  fed_.notify_one();
  return PLAY_NOERROR;
}

uint32_t PlayPort::stop() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
    thread.swap(thread_);
  }
  fed_.notify_all();
  if (thread.joinable()) {
    if (thread.get_id() == std::this_thread::get_id()) {
      reap(std::move(thread));  // stopped from its own callback: it ends when the callback returns
    } else {
      thread.join();
    }
  }
  return PLAY_NOERROR;
}

uint32_t PlayPort::close_stream() {
  stop();
  std::lock_guard<std::mutex> hold(lock_);
  if (!open_) return PLAY_ORDER_ERROR;
  open_ = false;
  buffer_.clear();
  return PLAY_NOERROR;
}

uint32_t PlayPort::set_draw_callback(PLAY_DrawCallback callback, intptr_t user) {
  std::lock_guard<std::recursive_mutex> hold(callback_lock_);
  draw_ = callback;
  draw_user_ = user;
  return PLAY_NOERROR;
}

uint32_t PlayPort::set_fisheye_info_callback(PLAY_FisheyeInfoCallback callback, intptr_t user) {
  std::lock_guard<std::recursive_mutex> hold(callback_lock_);
  info_ = callback;
  info_user_ = user;
  return PLAY_NOERROR;
}

uint32_t PlayPort::start_fisheye() {
  std::lock_guard<std::mutex> hold(fisheye_lock_);
  fisheye_on_ = true;
  return PLAY_NOERROR;
}

uint32_t PlayPort::stop_fisheye() {
  std::lock_guard<std::mutex> hold(fisheye_lock_);
  if (!fisheye_on_) return PLAY_ORDER_ERROR;
  fisheye_on_ = false;
  return PLAY_NOERROR;
}

uint32_t PlayPort::fisheye_params(int32_t operation, PLAY_FISHEYE_PARAMS* params) {
  if (params == nullptr) return PLAY_PARA_OVER;
  std::lock_guard<std::mutex> hold(fisheye_lock_);
  if (operation == PLAY_FISHEYE_SET) {
    if (params->radius <= 0 || params->center_x <= 0 || params->center_y <= 0 || params->mount_mode < 1 ||
        params->mount_mode > 3) {
      return PLAY_PARA_OVER;
    }
    bool layout_changed = params->mount_mode != params_.mount_mode || params->visualization != params_.visualization;
    params_ = *params;
    params_.display = nullptr;
    params_set_ = true;
    // A new mount or visualization starts its views afresh.
    if (layout_changed) layout_ = fisheye_layout(params_.visualization, params_.mount_mode);
    return PLAY_NOERROR;
  }
  if (operation != PLAY_FISHEYE_GET) return PLAY_PARA_OVER;
  PLAY_FISHEYE_DISPLAY* display = params->display;
  PLAY_FISHEYE_PARAMS out = params_;
  if (!params_set_ && lens_) {
    out.width_ratio = lens_->width_ratio;
    out.height_ratio = lens_->height_ratio;
    out.center_x = lens_->center_x;
    out.center_y = lens_->center_y;
    out.radius = lens_->radius;
  }
  out.display = display;
  *params = out;
  if (display != nullptr && display->windows != nullptr) {
    size_t n = layout_.size() < PLAY_FISHEYE_MAX_WINDOWS ? layout_.size() : PLAY_FISHEYE_MAX_WINDOWS;
    std::memset(display->windows, 0, sizeof(PLAY_FISHEYE_WINDOW) * PLAY_FISHEYE_MAX_WINDOWS);
    for (size_t i = 0; i < n; ++i) {
      PLAY_FISHEYE_WINDOW& w = display->windows[i];
      w.kind = static_cast<int32_t>(layout_[i].kind);
      w.width = layout_[i].width;
      w.height = layout_[i].height;
      w.left = static_cast<int16_t>(layout_[i].left);
      w.top = static_cast<int16_t>(layout_[i].top);
    }
    display->window_count = static_cast<int32_t>(n);
  }
  return PLAY_NOERROR;
}

uint32_t PlayPort::eptz_update(const PLAY_FISHEYE_EPTZ& update) {
  std::lock_guard<std::mutex> hold(fisheye_lock_);
  if (!fisheye_on_) return PLAY_ORDER_ERROR;
  if (!apply_eptz(layout_, update.window, update.operation, update.value, update.horizontal_step,
                  update.vertical_step, params_.mount_mode)) {
    return PLAY_PARA_OVER;
  }
  return PLAY_NOERROR;
}

void PlayPort::run() {
  std::vector<uint8_t> taken;
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(lock_);
      fed_.wait(hold, [this] { return stopping_ || !buffer_.empty(); });
      if (stopping_) return;
      taken.swap(buffer_);
      buffer_.clear();
    }
    reader_.feed(taken.data(), taken.size());
    taken.clear();
    proto::MediaBlock block;
    for (;;) {
      auto r = reader_.next(block);
      if (r == proto::MediaBlockReader::Result::need_more) break;
      if (r == proto::MediaBlockReader::Result::malformed) {
        reader_ = proto::MediaBlockReader();  // a broken stream: start over with what comes next
        break;
      }
      on_block(block);
    }
  }
}

void PlayPort::on_block(const proto::MediaBlock& block) {
  if (block.kind == proto::kFrameLens) {
    proto::LensInfo lens;
    if (!proto::decode(block.data, lens)) return;
    {
      std::lock_guard<std::mutex> hold(fisheye_lock_);
      lens_ = lens;
    }
    std::lock_guard<std::recursive_mutex> hold(callback_lock_);
    if (info_ != nullptr)
      info_(number_, lens.correction_mode, lens.radius, lens.center_x, lens.center_y, lens.width_ratio,
            lens.height_ratio, lens.gain, lens.denoise_level, lens.installation_style, info_user_);
    return;
  }
  if (block.kind == proto::kFrameAudio) {
    if (block.codec == proto::kCodecG711A) play_port_sound(number_, block.data.data(), block.data.size(), volume_.load());
    return;
  }
  if (block.codec != proto::kCodecH264 ||
      (block.kind != proto::kFrameVideoKey && block.kind != proto::kFrameVideoDelta)) {
    return;
  }
  const AVFrame* picture = decoder_.decode(block.data.data(), block.data.size(), block.kind == proto::kFrameVideoKey);
  if (picture == nullptr) return;
  picture_.keep(picture);
  draw_picture(picture);
}

void PlayPort::set_volume(int32_t volume) { volume_.store(devsdk::render::clamp_volume(volume)); }

uint32_t PlayPort::capture_picture(const char* path) {
  if (path == nullptr || path[0] == 0) return PLAY_PARA_OVER;
  switch (picture_.save_bmp(path)) {
    case devsdk::render::PictureKeeper::Saved::ok:
      return PLAY_NOERROR;
    case devsdk::render::PictureKeeper::Saved::no_picture:
      return PLAY_ORDER_ERROR;
    default:
      return PLAY_OPEN_FILE_ERROR;
  }
}

void PlayPort::draw_picture(const AVFrame* picture) {
  platform::HWND window;
  {
    std::lock_guard<std::mutex> hold(lock_);
    window = window_;
  }
  // The lens and views when fisheye processing runs on a planar 4:2:0 picture with a known lens.
  bool dewarp = false;
  LensCircle lens;
  int mount = kDefaultMount;
  std::vector<ViewWindow> layout;
  if (picture->format == AV_PIX_FMT_YUV420P || picture->format == AV_PIX_FMT_YUVJ420P) {
    std::lock_guard<std::mutex> hold(fisheye_lock_);
    if (fisheye_on_ && (params_set_ || lens_)) {
      int32_t cx = params_set_ ? params_.center_x : lens_->center_x;
      int32_t cy = params_set_ ? params_.center_y : lens_->center_y;
      int32_t r = params_set_ ? params_.radius : lens_->radius;
      lens.center_x = cx * static_cast<double>(picture->width) / 8192.0;
      lens.center_y = cy * static_cast<double>(picture->height) / 8192.0;
      lens.radius = r * static_cast<double>(picture->width) / 8192.0;
      mount = params_.mount_mode;
      layout = layout_;
      dewarp = lens.radius > 0;
    }
  }
  {
    // The picture and what the drawing callback paints over it reach the screen together.
    platform::SurfaceFrame whole(window);
    if (dewarp) {
      platform::SurfaceAccess surface(window);
      if (!surface.valid()) return;
      const platform::SurfacePixels& px = surface.pixels();
      fisheye_.draw(picture, lens, mount, layout, px.data, px.stride, px.width, px.height);
    } else if (!writer_.draw(window, picture)) {
      return;
    }
    std::lock_guard<std::recursive_mutex> hold(callback_lock_);
    if (draw_ != nullptr) {
      platform::HDC dc = platform::GetDC(window);
      if (dc != nullptr) {
        draw_(number_, dc, draw_user_);
        platform::ReleaseDC(window, dc);
      }
    }
    platform::mark_surface_changed(window, nullptr);
  }
}

}  // namespace playsdk
