#include "sim/device/video/ptz_follower.h"

#include <list>
#include <utility>

namespace sim::device::video {
namespace {

// Recent views of every PTZ camera of the process, newest first: a camera moving about keeps
// a few MiB, not one loop per place it ever pointed at. Guarded by cache_lock.
constexpr size_t kCachedViews = 24;
std::mutex cache_lock;
std::list<std::pair<std::pair<SceneSpec, int>, std::shared_ptr<const EncodedLoop>>>& cache() {
  static auto* views = new std::list<std::pair<std::pair<SceneSpec, int>, std::shared_ptr<const EncodedLoop>>>;
  return *views;
}

bool same(const SceneSpec& a, const SceneSpec& b) { return !(a < b) && !(b < a); }

}  // namespace

std::shared_ptr<const EncodedLoop> ptz_view_loop(const SceneSpec& scene, int bit_rate) {
  {
    std::lock_guard<std::mutex> hold(cache_lock);
    for (auto it = cache().begin(); it != cache().end(); ++it) {
      if (it->first.second == bit_rate && same(it->first.first, scene)) {
        cache().splice(cache().begin(), cache(), it);
        return cache().front().second;
      }
    }
  }
  auto loop = encode_loop(scene, bit_rate);  // without the lock: it takes a while
  if (loop == nullptr) return nullptr;
  std::lock_guard<std::mutex> hold(cache_lock);
  cache().emplace_front(std::make_pair(scene, bit_rate), loop);
  while (cache().size() > kCachedViews) cache().pop_back();
  return loop;
}

PtzFollower::~PtzFollower() { stop(); }

void PtzFollower::track(const LiveStream* key, const std::shared_ptr<LiveStream>& stream,
                        std::shared_ptr<PtzHead> head, const SceneSpec& scene, int bit_rate) {
  std::lock_guard<std::mutex> hold(lock_);
  tracked_[key] = Tracked{stream, std::move(head), scene, bit_rate, false};
}

void PtzFollower::untrack(const LiveStream* key) {
  std::lock_guard<std::mutex> hold(lock_);
  tracked_.erase(key);
}

void PtzFollower::poll() {
  bool work = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopping_) return;
    for (auto& [key, t] : tracked_) {
      PtzView view = t.head->view();
      if (view == t.scene.view) continue;
      t.scene.view = view;
      t.queued = true;
      work = true;
    }
    if (work && !thread_.joinable()) thread_ = std::thread([this] { run(); });
  }
  if (work) wake_.notify_all();
}

void PtzFollower::stop() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
    thread.swap(thread_);
  }
  wake_.notify_all();
  if (thread.joinable()) thread.join();
  std::lock_guard<std::mutex> hold(lock_);
  stopping_ = false;
}

void PtzFollower::run() {
  for (;;) {
    SceneSpec scene;
    int bit_rate = 0;
    const LiveStream* key = nullptr;
    std::weak_ptr<LiveStream> target;
    {
      std::unique_lock<std::mutex> hold(lock_);
      wake_.wait(hold, [this] {
        if (stopping_) return true;
        for (auto& [k, t] : tracked_)
          if (t.queued) return true;
        return false;
      });
      if (stopping_) return;
      for (auto& [k, t] : tracked_) {
        if (!t.queued) continue;
        t.queued = false;
        key = k;
        scene = t.scene;
        bit_rate = t.bit_rate;
        target = t.stream;
        break;
      }
    }
    auto loop = ptz_view_loop(scene, bit_rate);
    std::lock_guard<std::mutex> hold(lock_);
    auto it = tracked_.find(key);
    // Only the view still asked for is shown; a newer one is queued already.
    if (loop == nullptr || it == tracked_.end() || !same(it->second.scene, scene)) continue;
    if (auto stream = target.lock()) stream->replace_loop(loop);
  }
}

}  // namespace sim::device::video
