#include "platform/window/surface.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "platform/window/window_tree.h"

namespace platform {

bool rect_is_empty(const Rect& rect) { return rect.width() <= 0 || rect.height() <= 0; }

Rect rect_intersection(const Rect& a, const Rect& b) {
  Rect out{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  return rect_is_empty(out) ? Rect{} : out;
}

Rect rect_union(const Rect& a, const Rect& b) {
  if (rect_is_empty(a)) return rect_is_empty(b) ? Rect{} : b;
  if (rect_is_empty(b)) return a;
  return Rect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

void Surface::resize_locked(int32_t new_width, int32_t new_height) {
  width = std::max(0, new_width);
  height = std::max(0, new_height);
  pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 0);
  for (size_t at = 3; at < pixels.size(); at += 4) pixels[at] = 0xFF;
  changed = Rect{0, 0, width, height};
}

SurfaceAccess::SurfaceAccess(HWND window) {
  int32_t width = 0;
  int32_t height = 0;
  surface_ = window_tree::surface_of(window, &width, &height);
  if (surface_ == nullptr || width <= 0 || height <= 0) return;
  hold_ = std::unique_lock<std::mutex>(surface_->lock);
  if (surface_->width != width || surface_->height != height) surface_->resize_locked(width, height);
  pixels_ = SurfacePixels{surface_->pixels.data(), width, height, width * 4};
}

SurfaceAccess::~SurfaceAccess() {
  if (hold_.owns_lock()) hold_.unlock();
  if (changed_) window_tree::notify_changed();
}

void SurfaceAccess::mark_changed(const Rect* rect) {
  if (!valid()) return;
  Rect whole{0, 0, pixels_.width, pixels_.height};
  Rect part = rect != nullptr ? rect_intersection(*rect, whole) : whole;
  if (rect_is_empty(part)) return;
  surface_->changed = rect_union(surface_->changed, part);
  changed_ = true;
}

void mark_surface_changed(HWND window, const Rect* rect) {
  int32_t width = 0;
  int32_t height = 0;
  std::shared_ptr<Surface> surface = window_tree::surface_of(window, &width, &height);
  if (surface == nullptr) return;
  {
    std::lock_guard<std::mutex> hold(surface->lock);
    Rect whole{0, 0, width, height};
    Rect part = rect != nullptr ? rect_intersection(*rect, whole) : whole;
    if (rect_is_empty(part)) return;
    surface->changed = rect_union(surface->changed, part);
  }
  window_tree::notify_changed();
}

// What the compositor remembers of each window it showed last time.
struct Compositor::State {
  HWND root = nullptr;
  bool full = true;
  std::unordered_map<HWND, window_tree::Node> shown;
  std::vector<window_tree::Node> nodes;  // reused between frames
};

Compositor::Compositor(HWND root) : state_(std::make_unique<State>()) { state_->root = root; }
Compositor::~Compositor() = default;

void Compositor::force_full() { state_->full = true; }

namespace {

// Copies the part `area` (root coordinates) of a node's surface into the frame. Parts of the
// window that its surface does not cover yet are left as they are (the parent shows through).
void blit(const window_tree::Node& node, const Rect& area, Compositor::Frame* frame) {
  std::lock_guard<std::mutex> hold(node.surface->lock);
  Surface& surface = *node.surface;
  Rect covered{node.rect.left, node.rect.top, node.rect.left + surface.width, node.rect.top + surface.height};
  Rect part = rect_intersection(rect_intersection(area, node.clip), covered);
  if (rect_is_empty(part)) return;
  const size_t row_bytes = static_cast<size_t>(part.width()) * 4;
  for (int32_t y = part.top; y < part.bottom; ++y) {
    const uint8_t* from = surface.pixels.data() +
                          (static_cast<size_t>(y - node.rect.top) * static_cast<size_t>(surface.width) +
                           static_cast<size_t>(part.left - node.rect.left)) * 4;
    uint8_t* to = frame->pixels.data() +
                  (static_cast<size_t>(y) * static_cast<size_t>(frame->width) + static_cast<size_t>(part.left)) * 4;
    std::memcpy(to, from, row_bytes);
  }
}

// Takes what changed in the node's surface since the last look, in root coordinates.
Rect take_changes(const window_tree::Node& node) {
  std::lock_guard<std::mutex> hold(node.surface->lock);
  Rect changed = node.surface->changed;
  node.surface->changed = Rect{};
  if (rect_is_empty(changed)) return Rect{};
  Rect moved{changed.left + node.rect.left, changed.top + node.rect.top, changed.right + node.rect.left,
             changed.bottom + node.rect.top};
  return rect_intersection(moved, node.clip);
}

}  // namespace

Rect Compositor::compose(Frame* frame) {
  State& state = *state_;
  int32_t width = 0;
  int32_t height = 0;
  if (!window_tree::snapshot(state.root, &state.nodes, &width, &height)) {
    state.shown.clear();
    return Rect{};
  }
  const size_t frame_bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
  if (frame->width != width || frame->height != height || frame->pixels.size() != frame_bytes) {
    frame->width = width;
    frame->height = height;
    frame->pixels.assign(frame_bytes, 0);
    state.full = true;
  }

  Rect dirty;
  std::unordered_map<HWND, window_tree::Node> now;
  now.reserve(state.nodes.size());
  for (const window_tree::Node& node : state.nodes) {
    Rect changes = take_changes(node);
    auto before = state.shown.find(node.window);
    if (before == state.shown.end() || before->second.rect != node.rect || before->second.clip != node.clip) {
      if (before != state.shown.end()) dirty = rect_union(dirty, before->second.clip);
      dirty = rect_union(dirty, node.clip);
    } else {
      dirty = rect_union(dirty, changes);
    }
    now.emplace(node.window, node);
  }
  for (const auto& [window, node] : state.shown) {
    if (now.find(window) == now.end()) dirty = rect_union(dirty, node.clip);
  }
  state.shown.swap(now);

  Rect area{0, 0, width, height};
  if (state.full) {
    dirty = area;
    state.full = false;
  }
  dirty = rect_intersection(dirty, area);
  if (rect_is_empty(dirty)) return Rect{};

  // Black under everything, then each window in painting order.
  for (int32_t y = dirty.top; y < dirty.bottom; ++y) {
    uint8_t* row = frame->pixels.data() +
                   (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(dirty.left)) * 4;
    for (int32_t x = 0; x < dirty.width(); ++x) {
      row[x * 4 + 0] = 0;
      row[x * 4 + 1] = 0;
      row[x * 4 + 2] = 0;
      row[x * 4 + 3] = 0xFF;
    }
  }
  for (const window_tree::Node& node : state.nodes) blit(node, dirty, frame);
  return dirty;
}

}  // namespace platform
