#include "host/surface_streamer.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "host/jpeg_encoder.h"

namespace host {
namespace {

using Clock = std::chrono::steady_clock;

// Rectangles grow to the 16-pixel grid of the picture, so their JPEG blocks line up with the
// neighbours' and no seam shows where two updates meet.
platform::Rect align_to_blocks(const platform::Rect& r, int32_t width, int32_t height) {
  platform::Rect out;
  out.left = r.left & ~15;
  out.top = r.top & ~15;
  out.right = std::min(width, (r.right + 15) & ~15);
  out.bottom = std::min(height, (r.bottom + 15) & ~15);
  return out;
}

void put16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void put32(uint8_t* at, uint32_t value) {
  put16(at, value & 0xFFFF);
  put16(at + 2, value >> 16);
}

}  // namespace

SurfaceStreamer::SurfaceStreamer(Options options) : options_(options) {}

SurfaceStreamer::~SurfaceStreamer() { stop(); }

void SurfaceStreamer::start() {
  std::lock_guard<std::mutex> hold(lock_);
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
}

void SurfaceStreamer::stop() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void SurfaceStreamer::set_root(platform::HWND root) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (root_ == root) return;
    root_ = root;
    full_ = true;
  }
  wake_.notify_all();
}

void SurfaceStreamer::set_root_chooser(std::function<platform::HWND()> chooser,
                                       std::function<void(platform::HWND)> changed) {
  std::lock_guard<std::mutex> hold(lock_);
  chooser_ = std::move(chooser);
  on_switch_ = std::move(changed);
}

platform::HWND SurfaceStreamer::root() const {
  std::lock_guard<std::mutex> hold(lock_);
  return shown_ != nullptr ? shown_ : root_;
}

void SurfaceStreamer::attach(Sink sink) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    sink_ = std::move(sink);
    ++generation_;
    acked_ = sent_;
    full_ = true;
  }
  wake_.notify_all();
}

void SurfaceStreamer::detach() {
  std::lock_guard<std::mutex> hold(lock_);
  sink_ = nullptr;
  ++generation_;
}

void SurfaceStreamer::acknowledge(uint32_t seq) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    // Sequence numbers wrap; an acknowledgement counts when it lies between the last one and the
    // newest frame sent.
    if (static_cast<uint32_t>(seq - acked_) > static_cast<uint32_t>(sent_ - acked_)) return;
    acked_ = seq;
  }
  wake_.notify_all();
}

void SurfaceStreamer::request_full() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    full_ = true;
  }
  wake_.notify_all();
}

void SurfaceStreamer::changed() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    dirty_ = true;
  }
  wake_.notify_all();
}

SurfaceStreamer::Stats SurfaceStreamer::stats() const {
  std::lock_guard<std::mutex> hold(lock_);
  return stats_;
}

bool SurfaceStreamer::ready_locked() const {
  return sink_ && root_ != nullptr && (dirty_ || full_) && sent_ - acked_ < options_.max_unacked;
}

void SurfaceStreamer::run() {
  JpegEncoder encoder(options_.quality);
  platform::Compositor::Frame frame;
  std::unique_ptr<platform::Compositor> compositor;
  platform::HWND composed_root = nullptr;
  const auto min_interval = options_.max_fps > 0 ? std::chrono::nanoseconds(1000000000 / options_.max_fps)
                                                 : std::chrono::nanoseconds(0);
  Clock::time_point next_allowed = Clock::now();
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    wake_.wait(hold, [&] { return stopping_ || ready_locked(); });
    if (stopping_) return;
    if (Clock::now() < next_allowed) {
      wake_.wait_until(hold, next_allowed, [&] { return stopping_; });
      continue;
    }
    bool full = std::exchange(full_, false);
    dirty_ = false;
    platform::HWND root = root_;
    Sink sink = sink_;
    uint64_t generation = generation_;
    hold.unlock();

    Clock::time_point began = Clock::now();
    if (chooser_) {
      if (platform::HWND picked = chooser_()) root = picked;
    }
    if (!compositor || composed_root != root) {
      bool switched = composed_root != nullptr;
      compositor = std::make_unique<platform::Compositor>(root);
      composed_root = root;
      hold.lock();
      shown_ = root;
      hold.unlock();
      if (switched && on_switch_) on_switch_(root);
    }
    if (full) compositor->force_full();
    platform::Rect changed = compositor->compose(&frame);
    Clock::time_point composed = Clock::now();
    auto message = std::make_shared<std::vector<uint8_t>>();
    bool encoded = false;
    platform::Rect area;
    if (!platform::rect_is_empty(changed) && frame.width > 0 && frame.height > 0) {
      area = align_to_blocks(changed, frame.width, frame.height);
      message->reserve(kFrameHeaderSize + static_cast<size_t>(area.width()) * static_cast<size_t>(area.height()) / 4);
      message->resize(kFrameHeaderSize);
      const uint8_t* origin = frame.pixels.data() +
                              (static_cast<size_t>(area.top) * static_cast<size_t>(frame.width) + static_cast<size_t>(area.left)) * 4;
      encoded = encoder.encode(origin, area.width(), area.height(), frame.width * 4, message.get());
    }
    Clock::time_point finished = Clock::now();

    hold.lock();
    stats_.compose_time += composed - began;
    if (!encoded || generation != generation_) {
      // Nothing to show, or the page changed while this frame was made (a new page has asked
      // for a whole picture already).
      continue;
    }
    uint32_t seq = ++sent_;
    uint8_t* header = message->data();
    std::memcpy(header, "KVF1", 4);
    put32(header + 4, seq);
    put16(header + 8, static_cast<uint32_t>(frame.width));
    put16(header + 10, static_cast<uint32_t>(frame.height));
    put16(header + 12, static_cast<uint32_t>(area.left));
    put16(header + 14, static_cast<uint32_t>(area.top));
    put16(header + 16, static_cast<uint32_t>(area.width()));
    put16(header + 18, static_cast<uint32_t>(area.height()));
    put32(header + 20, 1);
    stats_.frames += 1;
    stats_.bytes += message->size();
    stats_.encode_time += finished - composed;
    next_allowed = finished + min_interval;
    hold.unlock();
    sink(std::move(message));
    hold.lock();
  }
}

}  // namespace host

