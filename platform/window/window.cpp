#include "platform/window/window.h"

#include "platform/window/window_tree.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace platform {

using Clock = std::chrono::steady_clock;

// A message sent from another thread, waiting for its result.
struct SentMessage {
  Msg msg;
  std::atomic<bool> done{false};
  LRESULT result = 0;  // written before `done` is set, read after
  // The sender's own queue, woken on completion, or null when the sender has none; then the
  // sender waits on `finished` instead.
  std::weak_ptr<MessageQueue> sender_queue;
  std::mutex lock;
  std::condition_variable finished;

  void complete(LRESULT value);
};

// One user-interface thread's queue. Every field is guarded by `lock`; the owning thread reads
// and serves it, any thread appends to it.
class MessageQueue {
 public:
  struct Timer {
    HWND window;
    uintptr_t id;
    uint32_t period_ms;
    Clock::time_point due;
  };

  explicit MessageQueue(std::thread::id owner) : owner_(owner) {}

  std::thread::id owner() const { return owner_; }

  bool post(const Msg& msg) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (closed_) return false;
      posted_.push_back(msg);
    }
    changed_.notify_all();
    return true;
  }

  bool quit(int code) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (closed_) return false;
      quit_requested_ = true;
      quit_code_ = code;
    }
    changed_.notify_all();
    return true;
  }

  // False when the queue has closed; the message is then completed with 0 by the caller.
  bool enqueue_sent(const std::shared_ptr<SentMessage>& sent) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (closed_) return false;
      sent_.push_back(sent);
    }
    changed_.notify_all();
    return true;
  }

  std::shared_ptr<SentMessage> take_sent() {
    std::lock_guard<std::mutex> hold(lock_);
    if (sent_.empty()) return nullptr;
    auto front = sent_.front();
    sent_.pop_front();
    return front;
  }

  // Wakes the owner when a message it sent elsewhere has completed.
  void wake() {
    { std::lock_guard<std::mutex> hold(lock_); }
    changed_.notify_all();
  }

  // Waits until a sent message arrives or `done` is set.
  void wait_for_sent_or(const std::atomic<bool>& done) {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return done.load() || !sent_.empty() || closed_; });
  }

  bool set_timer(HWND window, uintptr_t id, uint32_t period_ms) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (closed_) return false;
      period_ms = std::max<uint32_t>(period_ms, 1);
      Clock::time_point due = Clock::now() + std::chrono::milliseconds(period_ms);
      auto it = find_timer(window, id);
      if (it != timers_.end()) {
        it->period_ms = period_ms;
        it->due = due;
      } else {
        timers_.push_back(Timer{window, id, period_ms, due});
      }
    }
    changed_.notify_all();
    return true;
  }

  bool kill_timer(HWND window, uintptr_t id) {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = find_timer(window, id);
    if (it == timers_.end()) return false;
    timers_.erase(it);
    return true;
  }

  // A window of this thread has a non-empty update region: the loop looks for it once its posted
  // messages are served.
  void request_paint() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (closed_) return;
      paint_pending_ = true;
    }
    changed_.notify_all();
  }

  void kill_timers_of(HWND window) {
    std::lock_guard<std::mutex> hold(lock_);
    std::erase_if(timers_, [&](const Timer& t) { return t.window == window; });
  }

  // The next message for the owner, or nothing. Sent messages are taken by the caller first.
  // Order: posted messages, then a quit request, then painting, then a due timer. `paint` asks
  // the caller to find a window to paint (outside this lock); it comes once per request_paint().
  enum class Next { message, quit, paint, nothing };
  Next next(Msg* out, bool wait) {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      if (!sent_.empty()) return Next::nothing;  // the caller serves sent messages first
      if (!posted_.empty()) {
        *out = posted_.front();
        posted_.pop_front();
        return Next::message;
      }
      if (quit_requested_) {
        quit_requested_ = false;
        *out = Msg{nullptr, WM_QUIT, static_cast<WPARAM>(quit_code_), 0};
        return Next::quit;
      }
      if (paint_pending_) {
        paint_pending_ = false;
        return Next::paint;
      }
      Clock::time_point now = Clock::now();
      Timer* earliest = nullptr;
      for (Timer& t : timers_) {
        if (earliest == nullptr || t.due < earliest->due) earliest = &t;
      }
      if (earliest != nullptr && earliest->due <= now) {
        *out = Msg{earliest->window, WM_TIMER, earliest->id, 0};
        // One pending WM_TIMER per timer: the next one is due a period after this delivery.
        earliest->due = now + std::chrono::milliseconds(earliest->period_ms);
        return Next::message;
      }
      if (closed_) {
        *out = Msg{nullptr, WM_QUIT, 0, 0};
        return Next::quit;
      }
      if (!wait) return Next::nothing;
      if (earliest != nullptr) {
        changed_.wait_until(hold, earliest->due);
      } else {
        changed_.wait(hold);
      }
    }
  }

  // Marks the queue closed and hands back what is left, so the caller can release senders.
  std::deque<std::shared_ptr<SentMessage>> close() {
    std::deque<std::shared_ptr<SentMessage>> left;
    {
      std::lock_guard<std::mutex> hold(lock_);
      closed_ = true;
      left.swap(sent_);
      posted_.clear();
      timers_.clear();
    }
    changed_.notify_all();
    return left;
  }

 private:
  std::vector<Timer>::iterator find_timer(HWND window, uintptr_t id) {
    return std::find_if(timers_.begin(), timers_.end(),
                        [&](const Timer& t) { return t.window == window && t.id == id; });
  }

  const std::thread::id owner_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Msg> posted_;
  std::deque<std::shared_ptr<SentMessage>> sent_;
  std::vector<Timer> timers_;
  bool quit_requested_ = false;
  bool paint_pending_ = false;
  int quit_code_ = 0;
  bool closed_ = false;
};

void SentMessage::complete(LRESULT value) {
  {
    std::lock_guard<std::mutex> hold(lock);
    result = value;
    done.store(true);
  }
  finished.notify_all();
  if (auto queue = sender_queue.lock()) queue->wake();
}

namespace {

struct WindowRecord {
  HWND self = nullptr;
  HWND parent = nullptr;
  std::vector<HWND> children;
  Rect rect;
  bool visible = false;
  bool destroying = false;
  uint32_t style = 0;
  std::string name;
  WNDPROC proc = nullptr;
  void* data = nullptr;
  std::thread::id owner;
  std::weak_ptr<MessageQueue> queue;
  std::shared_ptr<Surface> surface = std::make_shared<Surface>();
  Rect update;    // bounding rectangle of the update region, client coordinates
  Rect painting;  // the part of it handed out with a WM_PAINT now being served
};

// Every window of the process. Guarded by registry_lock, which is never held while a window
// procedure runs and never taken inside a queue's lock.
std::mutex registry_lock;
std::unordered_map<HWND, WindowRecord>& windows() {
  static auto* all = new std::unordered_map<HWND, WindowRecord>();  // lives until exit
  return *all;
}
std::atomic<uintptr_t> next_handle{0x10000};

WindowRecord* find_locked(HWND window) {
  auto it = windows().find(window);
  return it == windows().end() ? nullptr : &it->second;
}

void close_this_thread_queue();

// The calling thread's queue; closing it when the thread ends destroys the thread's windows.
struct QueueSlot {
  ThreadQueue queue;
  ~QueueSlot() {
    if (queue) close_this_thread_queue();
  }
};
thread_local QueueSlot this_thread;

MessageQueue* current_queue_or_null() { return this_thread.queue.get(); }

WNDPROC proc_of(HWND window) {
  std::lock_guard<std::mutex> hold(registry_lock);
  WindowRecord* record = find_locked(window);
  if (record == nullptr) return nullptr;
  return record->proc != nullptr ? record->proc : &default_window_proc;
}

LRESULT call_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  WNDPROC proc = proc_of(window);
  return proc != nullptr ? proc(window, message, wparam, lparam) : 0;
}

void serve_sent_messages(MessageQueue& queue) {
  while (auto sent = queue.take_sent()) {
    LRESULT result = 0;
    if (is_window(sent->msg.window)) {
      result = call_proc(sent->msg.window, sent->msg.message, sent->msg.wparam, sent->msg.lparam);
    }
    sent->complete(result);
  }
}

void close_this_thread_queue() {
  // Windows the thread still owns are destroyed as the thread ends, top-level ones first so
  // their children go with them.
  for (;;) {
    HWND victim = nullptr;
    {
      std::lock_guard<std::mutex> hold(registry_lock);
      for (auto& [handle, record] : windows()) {
        if (record.owner != std::this_thread::get_id() || record.destroying) continue;
        WindowRecord* parent = find_locked(record.parent);
        if (parent == nullptr || parent->owner != std::this_thread::get_id()) {
          victim = handle;
          break;
        }
      }
    }
    if (victim == nullptr) break;
    destroy_window(victim);
  }
  for (auto& sent : this_thread.queue->close()) sent->complete(0);
  this_thread.queue.reset();
}

bool is_descendant_locked(HWND candidate, HWND ancestor) {
  for (HWND at = candidate; at != nullptr;) {
    if (at == ancestor) return true;
    WindowRecord* record = find_locked(at);
    at = record != nullptr ? record->parent : nullptr;
  }
  return false;
}

void unlink_from_parent_locked(WindowRecord& record) {
  if (WindowRecord* parent = find_locked(record.parent)) {
    std::erase(parent->children, record.self);
  }
  record.parent = nullptr;
}

}  // namespace

ThreadQueue this_thread_queue() {
  if (!this_thread.queue) this_thread.queue = std::make_shared<MessageQueue>(std::this_thread::get_id());
  return this_thread.queue;
}

LRESULT default_window_proc(HWND window, UINT message, WPARAM, LPARAM) {
  if (message == WM_PAINT) validate_rect(window, nullptr);
  return message == WM_NCCREATE ? 1 : 0;
}

HWND create_window(const WindowSpec& spec) {
  ThreadQueue queue = this_thread_queue();
  HWND window = reinterpret_cast<HWND>(next_handle.fetch_add(16));
  {
    std::lock_guard<std::mutex> hold(registry_lock);
    if (spec.parent != nullptr && find_locked(spec.parent) == nullptr) return nullptr;
    WindowRecord record;
    record.self = window;
    record.parent = spec.parent;
    record.rect = spec.rect;
    record.style = spec.style;
    record.name = spec.name;
    record.proc = spec.proc;
    record.owner = std::this_thread::get_id();
    record.queue = queue;
    windows().emplace(window, std::move(record));
    if (spec.parent != nullptr) find_locked(spec.parent)->children.push_back(window);
  }
  CreateStruct create{spec.create_params, spec.parent, spec.rect, spec.style, spec.name.c_str()};
  LPARAM create_arg = reinterpret_cast<LPARAM>(&create);
  if (call_proc(window, WM_NCCREATE, 0, create_arg) == 0) {
    call_proc(window, WM_NCDESTROY, 0, 0);
    std::lock_guard<std::mutex> hold(registry_lock);
    if (WindowRecord* record = find_locked(window)) {
      unlink_from_parent_locked(*record);
      windows().erase(window);
    }
    return nullptr;
  }
  if (call_proc(window, WM_CREATE, 0, create_arg) == -1) {
    destroy_window(window);
    return nullptr;
  }
  if ((spec.style & WS_VISIBLE) != 0 && is_window(window)) show_window(window, true);
  return is_window(window) ? window : nullptr;
}

bool destroy_window(HWND window) {
  std::vector<HWND> children;
  {
    std::lock_guard<std::mutex> hold(registry_lock);
    WindowRecord* record = find_locked(window);
    if (record == nullptr || record->owner != std::this_thread::get_id()) return false;
    if (record->destroying) return true;  // already on its way out (re-entered from a handler)
    record->destroying = true;
  }
  call_proc(window, WM_DESTROY, 0, 0);
  {
    std::lock_guard<std::mutex> hold(registry_lock);
    if (WindowRecord* record = find_locked(window)) children = record->children;
  }
  for (HWND child : children) {
    if (!destroy_window(child)) {
      // A child owned by another thread cannot be destroyed here; it loses its parent instead.
      std::lock_guard<std::mutex> hold(registry_lock);
      if (WindowRecord* record = find_locked(child)) unlink_from_parent_locked(*record);
    }
  }
  if (MessageQueue* queue = current_queue_or_null()) queue->kill_timers_of(window);
  call_proc(window, WM_NCDESTROY, 0, 0);
  std::lock_guard<std::mutex> hold(registry_lock);
  if (WindowRecord* record = find_locked(window)) {
    for (HWND child : record->children) {
      if (WindowRecord* orphan = find_locked(child)) orphan->parent = nullptr;
    }
    unlink_from_parent_locked(*record);
    windows().erase(window);
  }
  window_tree::notify_changed();
  return true;
}

bool is_window(HWND window) {
  std::lock_guard<std::mutex> hold(registry_lock);
  return find_locked(window) != nullptr;
}

HWND get_parent(HWND window) {
  std::lock_guard<std::mutex> hold(registry_lock);
  WindowRecord* record = find_locked(window);
  return record != nullptr ? record->parent : nullptr;
}

bool set_parent(HWND window, HWND new_parent) {
  {
    std::lock_guard<std::mutex> hold(registry_lock);
    WindowRecord* record = find_locked(window);
    if (record == nullptr) return false;
    if (new_parent != nullptr) {
      if (find_locked(new_parent) == nullptr || is_descendant_locked(new_parent, window)) return false;
    }
    unlink_from_parent_locked(*record);
    record->parent = new_parent;
    if (new_parent != nullptr) find_locked(new_parent)->children.push_back(window);
  }
  window_tree::notify_changed();
  return true;
}

bool get_window_rect(HWND window, Rect* rect) {
  std::lock_guard<std::mutex> hold(registry_lock);
  WindowRecord* record = find_locked(window);
  if (record == nullptr || rect == nullptr) return false;
  *rect = record->rect;
  return true;
}

bool get_client_rect(HWND window, Rect* rect) {
  Rect outer;
  if (rect == nullptr || !get_window_rect(window, &outer)) return false;
  *rect = Rect{0, 0, outer.width(), outer.height()};
  return true;
}

bool move_window(HWND window, const Rect& rect) {
  Rect before;
  {
    std::lock_guard<std::mutex> hold(registry_lock);
    WindowRecord* record = find_locked(window);
    if (record == nullptr) return false;
    before = record->rect;
    record->rect = rect;
  }
  if (before.width() != rect.width() || before.height() != rect.height()) {
    // A new size remakes the surface black at its next use; the whole window needs painting.
    invalidate_rect(window, nullptr);
  }
  if (before != rect) window_tree::notify_changed();
  if (before.left != rect.left || before.top != rect.top) {
    send_message(window, WM_MOVE, 0,
                 static_cast<LPARAM>((static_cast<uint32_t>(rect.top) << 16) | (static_cast<uint32_t>(rect.left) & 0xFFFF)));
  }
  if (before.width() != rect.width() || before.height() != rect.height()) {
    send_message(window, WM_SIZE, 0,
                 static_cast<LPARAM>((static_cast<uint32_t>(rect.height()) << 16) |
                                     (static_cast<uint32_t>(rect.width()) & 0xFFFF)));
  }
  return true;
}

bool show_window(HWND window, bool visible) {
  bool changed = false;
  {
    std::lock_guard<std::mutex> hold(registry_lock);
    WindowRecord* record = find_locked(window);
    if (record == nullptr) return false;
    changed = record->visible != visible;
    record->visible = visible;
    if (visible) {
      record->style |= WS_VISIBLE;
    } else {
      record->style &= ~WS_VISIBLE;
    }
  }
  if (changed) {
    if (visible) invalidate_rect(window, nullptr);
    window_tree::notify_changed();
    send_message(window, WM_SHOWWINDOW, visible ? 1 : 0, 0);
  }
  return true;
}

bool is_window_visible(HWND window) {
  std::lock_guard<std::mutex> hold(registry_lock);
  WindowRecord* record = find_locked(window);
  if (record == nullptr) return false;
  for (; record != nullptr; record = find_locked(record->parent)) {
    if (!record->visible) return false;
  }
  return true;
}

uint32_t get_window_style(HWND window) {
  std::lock_guard<std::mutex> hold(registry_lock);
  WindowRecord* record = find_locked(window);
  return record != nullptr ? record->style : 0;
}

std::string get_window_name(HWND window) {
  std::lock_guard<std::mutex> hold(registry_lock);
  WindowRecord* record = find_locked(window);
  return record != nullptr ? record->name : std::string();
}

void* get_window_data(HWND window) {
  std::lock_guard<std::mutex> hold(registry_lock);
  WindowRecord* record = find_locked(window);
  return record != nullptr ? record->data : nullptr;
}

bool set_window_data(HWND window, void* data) {
  std::lock_guard<std::mutex> hold(registry_lock);
  WindowRecord* record = find_locked(window);
  if (record == nullptr) return false;
  record->data = data;
  return true;
}

std::thread::id get_window_thread(HWND window) {
  std::lock_guard<std::mutex> hold(registry_lock);
  WindowRecord* record = find_locked(window);
  return record != nullptr ? record->owner : std::thread::id();
}

namespace {

ThreadQueue queue_of(HWND window) {
  std::lock_guard<std::mutex> hold(registry_lock);
  WindowRecord* record = find_locked(window);
  return record != nullptr ? record->queue.lock() : nullptr;
}

}  // namespace

bool post_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  ThreadQueue queue = queue_of(window);
  return queue != nullptr && queue->post(Msg{window, message, wparam, lparam});
}

LRESULT send_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  ThreadQueue target = queue_of(window);
  if (target == nullptr) return 0;
  if (target->owner() == std::this_thread::get_id()) return call_proc(window, message, wparam, lparam);

  auto sent = std::make_shared<SentMessage>();
  sent->msg = Msg{window, message, wparam, lparam};
  MessageQueue* own = current_queue_or_null();
  if (own != nullptr) sent->sender_queue = this_thread.queue;
  if (!target->enqueue_sent(sent)) return 0;
  if (own != nullptr) {
    // Keep serving what others send to this thread, or two threads sending to each other
    // would wait for ever.
    while (!sent->done.load()) {
      serve_sent_messages(*own);
      own->wait_for_sent_or(sent->done);
    }
  } else {
    std::unique_lock<std::mutex> hold(sent->lock);
    sent->finished.wait(hold, [&] { return sent->done.load(); });
  }
  std::lock_guard<std::mutex> hold(sent->lock);
  return sent->result;
}

uintptr_t set_timer(HWND window, uintptr_t id, uint32_t period_ms) {
  if (id == 0) return 0;
  ThreadQueue queue = queue_of(window);
  if (queue == nullptr || !queue->set_timer(window, id, period_ms)) return 0;
  return id;
}

bool kill_timer(HWND window, uintptr_t id) {
  ThreadQueue queue = queue_of(window);
  return queue != nullptr && queue->kill_timer(window, id);
}

bool post_thread_message(const ThreadQueue& queue, UINT message, WPARAM wparam, LPARAM lparam) {
  return queue != nullptr && queue->post(Msg{nullptr, message, wparam, lparam});
}

bool post_quit(const ThreadQueue& queue, int exit_code) { return queue != nullptr && queue->quit(exit_code); }

void post_quit_message(int exit_code) { this_thread_queue()->quit(exit_code); }

namespace {

bool next_message(Msg* msg, bool wait, bool* got) {
  MessageQueue& queue = *this_thread_queue();
  for (;;) {
    serve_sent_messages(queue);
    switch (queue.next(msg, wait)) {
      case MessageQueue::Next::message:
        *got = true;
        return true;
      case MessageQueue::Next::quit:
        *got = true;
        return false;
      case MessageQueue::Next::paint:
        if (HWND dirty = window_tree::next_to_paint()) {
          queue.request_paint();  // look again after this one: others may be waiting
          *msg = Msg{dirty, WM_PAINT, 0, 0};
          *got = true;
          return true;
        }
        break;
      case MessageQueue::Next::nothing:
        if (!wait) {
          // Sent messages that arrived meanwhile are served before reporting "nothing".
          serve_sent_messages(queue);
          *got = false;
          return false;
        }
        break;  // a sent message is waiting: serve it and look again
    }
  }
}

}  // namespace

bool get_message(Msg* msg) {
  bool got = false;
  return next_message(msg, true, &got);
}

bool peek_message(Msg* msg) {
  bool got = false;
  next_message(msg, false, &got);
  return got;
}

LRESULT dispatch_message(const Msg& msg) {
  if (msg.window == nullptr) return 0;
  LRESULT result = call_proc(msg.window, msg.message, msg.wparam, msg.lparam);
  if (msg.message == WM_PAINT) window_tree::end_paint(msg.window);
  return result;
}

int run_message_loop() {
  Msg msg;
  while (get_message(&msg)) dispatch_message(msg);
  return static_cast<int>(msg.wparam);
}

// ---- what the surface and composition code needs from the window records ----

namespace window_tree {
namespace {

bool visible_chain_locked(const WindowRecord* record) {
  for (; record != nullptr; record = find_locked(record->parent)) {
    if (!record->visible) return false;
  }
  return true;
}

Rect clip_to_client(const WindowRecord& record, const Rect* rect) {
  Rect client{0, 0, record.rect.width(), record.rect.height()};
  return rect != nullptr ? rect_intersection(*rect, client) : client;
}

void collect_locked(const WindowRecord& record, Rect rect, Rect clip, std::vector<Node>* nodes) {
  nodes->push_back(Node{record.self, rect, clip, record.surface});
  for (HWND child : record.children) {
    const WindowRecord* kid = find_locked(child);
    if (kid == nullptr || !kid->visible) continue;
    Rect kid_rect{rect.left + kid->rect.left, rect.top + kid->rect.top, rect.left + kid->rect.right,
                  rect.top + kid->rect.bottom};
    Rect kid_clip = rect_intersection(kid_rect, clip);
    if (rect_is_empty(kid_clip)) continue;
    collect_locked(*kid, kid_rect, kid_clip, nodes);
  }
}

std::mutex listener_lock;
std::function<void()>& listener() {
  static auto* current = new std::function<void()>();  // lives until exit
  return *current;
}

}  // namespace

std::shared_ptr<Surface> surface_of(HWND window, int32_t* width, int32_t* height) {
  std::lock_guard<std::mutex> hold(registry_lock);
  const WindowRecord* record = find_locked(window);
  if (record == nullptr) return nullptr;
  *width = record->rect.width();
  *height = record->rect.height();
  return record->surface;
}

bool snapshot(HWND root, std::vector<Node>* nodes, int32_t* root_width, int32_t* root_height) {
  nodes->clear();
  std::lock_guard<std::mutex> hold(registry_lock);
  const WindowRecord* record = find_locked(root);
  if (record == nullptr) return false;
  *root_width = std::max(0, record->rect.width());
  *root_height = std::max(0, record->rect.height());
  if (!record->visible) return true;
  Rect area{0, 0, *root_width, *root_height};
  collect_locked(*record, area, area, nodes);
  return true;
}

std::vector<HWND> top_levels(std::thread::id owner) {
  std::vector<HWND> found;
  std::lock_guard<std::mutex> hold(registry_lock);
  for (auto& [handle, record] : windows()) {
    if (record.parent == nullptr && record.owner == owner && !record.destroying) found.push_back(handle);
  }
  // Handles grow with creation.
  std::sort(found.begin(), found.end(),
            [](HWND a, HWND b) { return reinterpret_cast<uintptr_t>(a) < reinterpret_cast<uintptr_t>(b); });
  return found;
}

bool add_update(HWND window, const Rect* rect) {
  ThreadQueue queue;
  {
    std::lock_guard<std::mutex> hold(registry_lock);
    WindowRecord* record = find_locked(window);
    if (record == nullptr) return false;
    Rect added = clip_to_client(*record, rect);
    if (rect_is_empty(added)) return true;
    record->update = rect_union(record->update, added);
    queue = record->queue.lock();
  }
  if (queue) queue->request_paint();
  return true;
}

bool remove_update(HWND window, const Rect* rect) {
  std::lock_guard<std::mutex> hold(registry_lock);
  WindowRecord* record = find_locked(window);
  if (record == nullptr) return false;
  // The region is kept as one rectangle: validating a part that covers it clears it, a smaller
  // part leaves it (painting a little more than needed is harmless).
  if (rect == nullptr) {
    record->update = Rect{};
    record->painting = Rect{};
    return true;
  }
  if (rect_intersection(record->update, *rect) == record->update) record->update = Rect{};
  if (rect_intersection(record->painting, *rect) == record->painting) record->painting = Rect{};
  return true;
}

bool update_rect(HWND window, Rect* rect) {
  std::lock_guard<std::mutex> hold(registry_lock);
  WindowRecord* record = find_locked(window);
  if (record == nullptr) return false;
  Rect pending = rect_union(record->update, record->painting);
  Rect update = clip_to_client(*record, &pending);
  if (rect_is_empty(update)) return false;
  if (rect != nullptr) *rect = update;
  return true;
}

HWND next_to_paint() {
  std::lock_guard<std::mutex> hold(registry_lock);
  WindowRecord* best = nullptr;
  for (auto& [handle, record] : windows()) {
    if (record.owner != std::this_thread::get_id() || record.destroying) continue;
    if (rect_is_empty(clip_to_client(record, &record.update)) || !visible_chain_locked(&record)) continue;
    if (best == nullptr || reinterpret_cast<uintptr_t>(handle) < reinterpret_cast<uintptr_t>(best->self)) {
      best = &record;
    }
  }
  if (best == nullptr) return nullptr;
  // Taking WM_PAINT takes the region with it, so a window that does not validate (or a loop that
  // peeks without dispatching) is not painted over and over; get_update_rect still reports it
  // until the paint ends.
  best->painting = rect_union(best->painting, best->update);
  best->update = Rect{};
  return best->self;
}

void end_paint(HWND window) {
  std::lock_guard<std::mutex> hold(registry_lock);
  if (WindowRecord* record = find_locked(window)) record->painting = Rect{};
}

void notify_changed() {
  std::function<void()> call;
  {
    std::lock_guard<std::mutex> hold(listener_lock);
    call = listener();
  }
  if (call) call();
}

}  // namespace window_tree

void set_composition_listener(std::function<void()> new_listener) {
  std::lock_guard<std::mutex> hold(window_tree::listener_lock);
  window_tree::listener() = std::move(new_listener);
}

bool invalidate_rect(HWND window, const Rect* rect) { return window_tree::add_update(window, rect); }
bool validate_rect(HWND window, const Rect* rect) { return window_tree::remove_update(window, rect); }
bool get_update_rect(HWND window, Rect* rect) { return window_tree::update_rect(window, rect); }

bool update_window(HWND window) {
  if (get_window_thread(window) != std::this_thread::get_id()) return false;
  {
    std::lock_guard<std::mutex> hold(registry_lock);
    WindowRecord* record = find_locked(window);
    if (record == nullptr) return false;
    if (rect_is_empty(window_tree::clip_to_client(*record, &record->update))) return true;
    record->painting = rect_union(record->painting, record->update);
    record->update = Rect{};
  }
  send_message(window, WM_PAINT, 0, 0);
  window_tree::end_paint(window);
  return true;
}

bool window_rect_in(HWND window, HWND ancestor, Rect* rect) {
  std::lock_guard<std::mutex> hold(registry_lock);
  const WindowRecord* record = find_locked(window);
  if (record == nullptr || rect == nullptr) return false;
  Rect at{0, 0, record->rect.width(), record->rect.height()};
  for (const WindowRecord* step = record; step->self != ancestor;) {
    at.left += step->rect.left;
    at.right += step->rect.left;
    at.top += step->rect.top;
    at.bottom += step->rect.top;
    step = find_locked(step->parent);
    if (step == nullptr) return false;
  }
  *rect = at;
  return true;
}

}  // namespace platform
