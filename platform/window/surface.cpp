#include "platform/window/surface.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>
#include <vector>

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

bool Surface::add_change_locked(const Rect* rect, int32_t client_width, int32_t client_height) {
  Rect whole{0, 0, client_width, client_height};
  Rect part = rect != nullptr ? rect_intersection(*rect, whole) : whole;
  if (rect_is_empty(part)) return false;
  changed = rect_union(changed, part);
  if (frames_open > 0) {
    deferred = true;
    return false;
  }
  return true;
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
  if (surface_->add_change_locked(rect, pixels_.width, pixels_.height)) changed_ = true;
}

SurfaceFrame::SurfaceFrame(HWND window) {
  int32_t width = 0;
  int32_t height = 0;
  surface_ = window_tree::surface_of(window, &width, &height);
  if (surface_ == nullptr) return;
  std::lock_guard<std::mutex> hold(surface_->lock);
  ++surface_->frames_open;
}

SurfaceFrame::~SurfaceFrame() {
  if (surface_ == nullptr) return;
  bool wake = false;
  {
    std::lock_guard<std::mutex> hold(surface_->lock);
    if (--surface_->frames_open == 0 && surface_->deferred) {
      surface_->deferred = false;
      wake = true;
    }
  }
  if (wake) window_tree::notify_changed();
}

void mark_surface_changed(HWND window, const Rect* rect) {
  int32_t width = 0;
  int32_t height = 0;
  std::shared_ptr<Surface> surface = window_tree::surface_of(window, &width, &height);
  if (surface == nullptr) return;
  bool tell;
  {
    std::lock_guard<std::mutex> hold(surface->lock);
    tell = surface->add_change_locked(rect, width, height);
  }
  if (tell) window_tree::notify_changed();
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

// Takes what changed in the node's surface since the last look, in root coordinates. A surface
// with a picture half drawn keeps its changes for the composition after the picture ends.
Rect take_changes(const window_tree::Node& node) {
  std::lock_guard<std::mutex> hold(node.surface->lock);
  if (node.surface->frames_open > 0) {
    node.surface->deferred = true;
    return Rect{};
  }
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

  // Every pixel of the dirty area is written once: by the topmost window whose surface covers
  // it, or black where none does. Rows are cut into spans from the top of the painting order
  // down, so a window hidden under its children (the wall under its panes, a pane under its
  // picture) costs nothing.
  const size_t count = state.nodes.size();
  std::vector<Rect> covers(count);
  for (size_t i = 0; i < count; ++i) {
    const window_tree::Node& node = state.nodes[i];
    std::lock_guard<std::mutex> hold(node.surface->lock);
    Rect surface_area{node.rect.left, node.rect.top, node.rect.left + node.surface->width,
                      node.rect.top + node.surface->height};
    covers[i] = rect_intersection(rect_intersection(dirty, node.clip), surface_area);
  }
  struct Span {
    int32_t y, left, right;
  };
  std::vector<std::vector<Span>> copies(count);
  std::vector<std::pair<int32_t, int32_t>> taken;  // sorted, disjoint: the row's covered parts
  for (int32_t y = dirty.top; y < dirty.bottom; ++y) {
    taken.clear();
    for (size_t i = count; i-- > 0;) {
      const Rect& c = covers[i];
      if (y < c.top || y >= c.bottom) continue;
      // The gaps of [c.left, c.right) between what is taken go to this window.
      int32_t x = c.left;
      for (const auto& [l, r] : taken) {
        if (r <= x) continue;
        if (l >= c.right) break;
        if (l > x) copies[i].push_back(Span{y, x, l});
        x = std::max(x, r);
      }
      if (x < c.right) copies[i].push_back(Span{y, x, c.right});
      // Take [c.left, c.right), merging what it touches.
      auto at = std::lower_bound(taken.begin(), taken.end(), std::make_pair(c.left, c.left));
      if (at != taken.begin() && std::prev(at)->second >= c.left) --at;
      int32_t l = c.left;
      int32_t r = c.right;
      auto end = at;
      while (end != taken.end() && end->first <= r) {
        l = std::min(l, end->first);
        r = std::max(r, end->second);
        ++end;
      }
      at = taken.erase(at, end);
      taken.insert(at, std::make_pair(l, r));
    }
    // Black where no window is.
    uint32_t* row = reinterpret_cast<uint32_t*>(frame->pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 4);
    int32_t x = dirty.left;
    for (const auto& [l, r] : taken) {
      if (l > x) std::fill(row + x, row + std::min(l, dirty.right), 0xFF000000u);
      x = std::max(x, r);
    }
    if (x < dirty.right) std::fill(row + x, row + dirty.right, 0xFF000000u);
  }
  for (size_t i = 0; i < count; ++i) {
    if (copies[i].empty()) continue;
    const window_tree::Node& node = state.nodes[i];
    std::lock_guard<std::mutex> hold(node.surface->lock);
    Surface& surface = *node.surface;
    if (surface.frames_open > 0) {
      // Half drawn but in the dirty area all the same (moved, uncovered, a whole frame): the
      // frame keeps what it showed here, and the end of the picture brings the area back.
      const Rect& c = covers[i];
      Rect own{c.left - node.rect.left, c.top - node.rect.top, c.right - node.rect.left, c.bottom - node.rect.top};
      surface.changed = rect_union(surface.changed, own);
      surface.deferred = true;
      continue;
    }
    for (const Span& span : copies[i]) {
      // The surface may have changed size since the spans were cut: copy what it still has.
      int32_t sy = span.y - node.rect.top;
      int32_t sx = span.left - node.rect.left;
      int32_t n = std::min(span.right - span.left, surface.width - sx);
      if (sy >= surface.height || n <= 0) continue;
      const uint8_t* from = surface.pixels.data() +
                            (static_cast<size_t>(sy) * static_cast<size_t>(surface.width) + static_cast<size_t>(sx)) * 4;
      uint8_t* to = frame->pixels.data() +
                    (static_cast<size_t>(span.y) * static_cast<size_t>(width) + static_cast<size_t>(span.left)) * 4;
      std::memcpy(to, from, static_cast<size_t>(n) * 4);
    }
  }
  return dirty;
}

}  // namespace platform
