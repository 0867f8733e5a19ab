#include "platform/window/window.h"

#include "platform/window/surface.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace platform;
using namespace std::chrono_literals;

constexpr UINT kRun = WM_USER + 1;  // lParam: a std::function<void()>* run on the window's thread

// Messages a recording window saw, with the thread they arrived on.
struct Log {
  std::mutex lock;
  std::vector<std::string> lines;
  std::vector<std::thread::id> threads;
  void add(const std::string& line) {
    std::lock_guard<std::mutex> hold(lock);
    lines.push_back(line);
    threads.push_back(std::this_thread::get_id());
  }
  std::vector<std::string> snapshot() {
    std::lock_guard<std::mutex> hold(lock);
    return lines;
  }
};

struct Recorder {
  Log* log;
  std::string name;
  LRESULT create_result = 0;
  LRESULT nccreate_result = 1;
};

std::string message_name(UINT message) {
  switch (message) {
    case WM_NCCREATE: return "NCCREATE";
    case WM_CREATE: return "CREATE";
    case WM_DESTROY: return "DESTROY";
    case WM_NCDESTROY: return "NCDESTROY";
    case WM_TIMER: return "TIMER";
    case WM_SIZE: return "SIZE";
    case WM_MOVE: return "MOVE";
    case WM_SHOWWINDOW: return "SHOW";
    case WM_PAINT: return "PAINT";
    default: return "MSG" + std::to_string(message);
  }
}

LRESULT recording_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CreateStruct*>(lparam);
    set_window_data(window, create->create_params);
  }
  auto* recorder = static_cast<Recorder*>(get_window_data(window));
  if (message == kRun) {
    (*reinterpret_cast<std::function<void()>*>(lparam))();
    return 1;
  }
  if (recorder == nullptr) return default_window_proc(window, message, wparam, lparam);
  if (message == WM_PAINT) validate_rect(window, nullptr);
  std::string line = recorder->name + ":" + message_name(message);
  if (message == WM_TIMER || message >= WM_USER) line += ":" + std::to_string(wparam);
  recorder->log->add(line);
  if (message == WM_NCCREATE) return recorder->nccreate_result;
  if (message == WM_CREATE) return recorder->create_result;
  if (message >= WM_USER) return static_cast<LRESULT>(wparam) * 2;
  return 0;
}

HWND make_window(Recorder* recorder, HWND parent = nullptr, uint32_t style = 0) {
  WindowSpec spec;
  spec.parent = parent;
  spec.rect = Rect{0, 0, 100, 50};
  spec.style = style;
  spec.name = recorder->name;
  spec.proc = recording_proc;
  spec.create_params = recorder;
  return create_window(spec);
}

// A user-interface thread running the message loop, with a window to run code on it.
class UiThread {
 public:
  UiThread() {
    std::promise<void> ready;
    thread_ = std::thread([this, &ready] {
      queue_ = this_thread_queue();
      WindowSpec spec;
      spec.name = "runner";
      spec.proc = recording_proc;
      runner_ = create_window(spec);
      ready.set_value();
      exit_code_ = run_message_loop();
      destroy_window(runner_);
    });
    ready.get_future().wait();
  }
  ~UiThread() { stop(); }

  void run(std::function<void()> fn) { send_message(runner_, kRun, 0, reinterpret_cast<LPARAM>(&fn)); }
  void stop() {
    if (thread_.joinable()) {
      post_quit(queue_, 7);
      thread_.join();
    }
  }
  std::thread::id id() const { return thread_.get_id(); }
  int exit_code() const { return exit_code_; }

 private:
  std::thread thread_;
  ThreadQueue queue_;
  HWND runner_ = nullptr;
  int exit_code_ = -1;
};

// Waits (bounded) until `done` holds.
bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    if (done()) return true;
    std::this_thread::sleep_for(2ms);
  }
  return done();
}

TEST(Window, CreationAndDestructionFollowTheMessageOrder) {
  Log log;
  Recorder parent_rec{&log, "P"}, child_rec{&log, "C"};
  HWND parent = make_window(&parent_rec);
  ASSERT_NE(parent, nullptr);
  HWND child = make_window(&child_rec, parent, WS_CHILD);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(get_parent(child), parent);
  ASSERT_TRUE(destroy_window(parent));
  EXPECT_FALSE(is_window(parent));
  EXPECT_FALSE(is_window(child));
  EXPECT_EQ(log.snapshot(), (std::vector<std::string>{"P:NCCREATE", "P:CREATE", "C:NCCREATE", "C:CREATE", "P:DESTROY",
                                                      "C:DESTROY", "C:NCDESTROY", "P:NCDESTROY"}));
}

TEST(Window, RefusedCreationsLeaveNoWindow) {
  struct Case {
    LRESULT nccreate, create;
    std::vector<std::string> expected;
  } cases[] = {
      {0, 0, {"W:NCCREATE", "W:NCDESTROY"}},
      {1, -1, {"W:NCCREATE", "W:CREATE", "W:DESTROY", "W:NCDESTROY"}},
  };
  for (const auto& c : cases) {
    Log log;
    Recorder rec{&log, "W", c.create, c.nccreate};
    EXPECT_EQ(make_window(&rec), nullptr);
    EXPECT_EQ(log.snapshot(), c.expected);
  }
  Recorder orphan{nullptr, "X"};
  EXPECT_EQ(make_window(&orphan, reinterpret_cast<HWND>(uintptr_t{8})), nullptr) << "a parent that is not a window";
}

TEST(Window, PostedMessagesFromManyThreadsArriveOnTheOwnerInPerThreadOrder) {
  Log log;
  Recorder rec{&log, "W"};
  UiThread ui;
  HWND window = nullptr;
  ui.run([&] { window = make_window(&rec); });
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) post_message(window, WM_USER + 10 + t, static_cast<WPARAM>(i), 0);
    });
  }
  for (auto& p : posters) p.join();
  ASSERT_TRUE(eventually([&] { return log.snapshot().size() >= 2 + 200; }));
  {
    std::lock_guard<std::mutex> hold(log.lock);
    std::vector<int> next(4, 0);
    for (size_t i = 2; i < log.lines.size(); ++i) {
      EXPECT_EQ(log.threads[i], ui.id());
      int t = std::stoi(log.lines[i].substr(5, 4)) - static_cast<int>(WM_USER) - 10;
      int value = std::stoi(log.lines[i].substr(log.lines[i].rfind(':') + 1));
      EXPECT_EQ(value, next[t]++) << "thread " << t << " out of order";
    }
  }
  ui.run([&] { destroy_window(window); });
}

TEST(Window, SendMessageRunsOnTheOwnerAndReturnsItsResult) {
  Log log;
  Recorder rec{&log, "W"};
  UiThread ui;
  HWND window = nullptr;
  ui.run([&] { window = make_window(&rec); });
  EXPECT_EQ(send_message(window, WM_USER + 5, 21, 0), 42);
  {
    std::lock_guard<std::mutex> hold(log.lock);
    EXPECT_EQ(log.threads.back(), ui.id());
  }
  // On the owning thread the procedure is called directly, even inside another handler.
  LRESULT nested = 0;
  ui.run([&] { nested = send_message(window, WM_USER + 5, 4, 0); });
  EXPECT_EQ(nested, 8);
  ui.run([&] { destroy_window(window); });
  EXPECT_EQ(send_message(window, WM_USER + 5, 1, 0), 0) << "a destroyed window answers nothing";
}

TEST(Window, TwoUserInterfaceThreadsSendingToEachOtherDoNotDeadlock) {
  Log log;
  Recorder a_rec{&log, "A"}, b_rec{&log, "B"};
  UiThread a, b;
  HWND wa = nullptr, wb = nullptr;
  a.run([&] { wa = make_window(&a_rec); });
  b.run([&] { wb = make_window(&b_rec); });
  std::atomic<LRESULT> from_b{0};
  // A sends to B; B's handler sends back to A while A is waiting.
  a.run([&] {
    std::function<void()> on_b = [&] { from_b = send_message(wa, WM_USER + 2, 50, 0); };
    send_message(wb, kRun, 0, reinterpret_cast<LPARAM>(&on_b));
  });
  EXPECT_EQ(from_b.load(), 100);
  a.run([&] { destroy_window(wa); });
  b.run([&] { destroy_window(wb); });
}

TEST(Window, ASenderIsReleasedWhenTheOwnerThreadEnds) {
  Log log;
  Recorder rec{&log, "W"};
  std::promise<HWND> created;
  std::promise<void> release;
  std::thread owner([&] {
    created.set_value(make_window(&rec));
    release.get_future().wait();  // never serves its queue; ends with the window still alive
  });
  HWND window = created.get_future().get();
  auto result = std::async(std::launch::async, [&] { return send_message(window, WM_USER + 2, 3, 0); });
  std::this_thread::sleep_for(20ms);
  release.set_value();
  owner.join();
  ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(result.get(), 0);
  EXPECT_FALSE(is_window(window)) << "the thread's windows go with it";
  EXPECT_EQ(log.snapshot().back(), "W:NCDESTROY");
}

TEST(Window, TimersFireOnTheOwnerUntilKilledAndDieWithTheirWindow) {
  Log log;
  Recorder rec{&log, "W"};
  UiThread ui;
  HWND window = nullptr;
  ui.run([&] { window = make_window(&rec); });
  // Armed from another thread, as a worker arms the event timer.
  ASSERT_EQ(set_timer(window, 1, 5), 1u);
  EXPECT_EQ(set_timer(window, 0, 5), 0u) << "timer id 0 is refused";
  auto timer_count = [&] {
    auto lines = log.snapshot();
    return std::count(lines.begin(), lines.end(), "W:TIMER:1");
  };
  ASSERT_TRUE(eventually([&] { return timer_count() >= 3; }));
  ui.run([&] { EXPECT_TRUE(kill_timer(window, 1)); });
  auto after_kill = timer_count();
  // A second timer with the same period measures the time: while it fires three times the
  // killed one would have fired too.
  auto witness_count = [&] {
    auto lines = log.snapshot();
    return std::count(lines.begin(), lines.end(), "W:TIMER:3");
  };
  ASSERT_EQ(set_timer(window, 3, 5), 3u);
  ASSERT_TRUE(eventually([&] { return witness_count() >= 3; }));
  ui.run([&] { EXPECT_TRUE(kill_timer(window, 3)); });
  EXPECT_EQ(timer_count(), after_kill);
  EXPECT_FALSE(kill_timer(window, 1));

  ASSERT_EQ(set_timer(window, 2, 5), 2u);
  ui.run([&] { destroy_window(window); });
  EXPECT_EQ(set_timer(window, 2, 5), 0u);
  {
    std::lock_guard<std::mutex> hold(log.lock);
    for (auto id : log.threads) EXPECT_EQ(id, ui.id());
  }
}

TEST(Window, TheLoopEndsWithTheCodePostedFromAnotherThread) {
  UiThread ui;
  ui.stop();
  EXPECT_EQ(ui.exit_code(), 7);
}

TEST(Window, GeometryVisibilityAndParentage) {
  Log log;
  Recorder p_rec{&log, "P"}, c_rec{&log, "C"};
  HWND parent = make_window(&p_rec);
  HWND child = make_window(&c_rec, parent, WS_CHILD | WS_VISIBLE);
  EXPECT_FALSE(is_window_visible(child)) << "a shown child of a hidden parent is not visible";
  show_window(parent, true);
  EXPECT_TRUE(is_window_visible(child));
  log.lines.clear();
  ASSERT_TRUE(move_window(child, Rect{10, 20, 110, 220}));
  Rect client;
  ASSERT_TRUE(get_client_rect(child, &client));
  EXPECT_EQ(client, (Rect{0, 0, 100, 200}));
  EXPECT_EQ(log.snapshot(), (std::vector<std::string>{"C:MOVE", "C:SIZE"}));
  EXPECT_FALSE(set_parent(parent, child)) << "a window cannot move under its own child";
  EXPECT_TRUE(set_parent(child, nullptr));
  EXPECT_EQ(get_parent(child), nullptr);
  destroy_window(parent);
  EXPECT_TRUE(is_window(child)) << "a detached child outlives its former parent";
  destroy_window(child);
}

TEST(Window, OnlyTheOwnerMayDestroyAWindow) {
  UiThread ui;
  HWND window = nullptr;
  ui.run([&] { window = create_window(WindowSpec{}); });
  EXPECT_FALSE(destroy_window(window));
  EXPECT_TRUE(is_window(window));
  ui.run([&] { EXPECT_TRUE(destroy_window(window)); });
}


// ---- modal waits ----

// A user-interface thread whose own loop runs script calls (WM_SCRIPT_CALL thread messages,
// wParam numbering them) and window messages. Script call 1 waits modally, as a script method
// waits for a device, until `marker` (a posted window message) has been served.
class ScriptLoop {
 public:
  static constexpr UINT kMarker = WM_USER + 9;

  explicit ScriptLoop(Log* log) : log_(log), rec_{log, "W"} {
    std::promise<void> ready;
    thread_ = std::thread([this, &ready] {
      queue_ = this_thread_queue();
      window_ = make_window(&rec_);
      ready.set_value();
      Msg msg;
      while (get_message(&msg)) {
        if (msg.window == nullptr && msg.message == WM_SCRIPT_CALL) {
          log_->add("call:" + std::to_string(msg.wparam));
          if (msg.wparam == 1) run_waiting_call();
          continue;
        }
        dispatch_message(msg);
      }
      destroy_window(window_);
    });
    ready.get_future().wait();
  }
  ~ScriptLoop() {
    post_quit(queue_, 0);
    thread_.join();
  }

  void post_call(WPARAM number) { post_thread_message(queue_, WM_SCRIPT_CALL, number, 0); }
  HWND window() const { return window_; }
  ThreadQueue queue() const { return queue_; }
  std::atomic<bool> waiting{false};
  std::atomic<ModalWaitEnd> end{ModalWaitEnd::time_limit};

 private:
  void run_waiting_call() {
    auto marker_seen = [this] {
      auto lines = log_->snapshot();
      return std::find(lines.begin(), lines.end(), "W:MSG" + std::to_string(kMarker) + ":0") != lines.end();
    };
    waiting.store(true);
    end.store(modal_wait(marker_seen, 10s));
    waiting.store(false);
    log_->add("wait ended");
  }

  Log* log_;
  Recorder rec_;
  std::thread thread_;
  ThreadQueue queue_;
  HWND window_ = nullptr;
};

TEST(ModalWait, ServesTimersPostedAndSentMessagesUntilItsConditionHolds) {
  Log log;
  Recorder rec{&log, "W"};
  UiThread ui;
  HWND window = nullptr;
  ui.run([&] { window = make_window(&rec, nullptr, WS_VISIBLE); });
  auto timers = [&] {
    auto lines = log.snapshot();
    return std::count(lines.begin(), lines.end(), "W:TIMER:1");
  };
  auto painted = [&] {
    auto lines = log.snapshot();
    return std::find(lines.begin(), lines.end(), "W:PAINT") != lines.end();
  };
  // Another thread posts, sends and invalidates while the window's thread waits.
  std::atomic<bool> in_wait{false};
  std::atomic<LRESULT> sent_result{0};
  std::thread other([&] {
    ASSERT_TRUE(eventually([&] { return in_wait.load(); }));
    post_message(window, WM_USER + 5, 1, 0);
    invalidate_rect(window, nullptr);
    sent_result.store(send_message(window, WM_USER + 6, 21, 0));
  });
  ModalWaitEnd end = ModalWaitEnd::time_limit;
  ui.run([&] {
    // What creation left to do (its first painting) is done before the wait.
    Msg msg;
    while (peek_message(&msg)) dispatch_message(msg);
    {
      std::lock_guard<std::mutex> hold(log.lock);
      log.lines.clear();
      log.threads.clear();
    }
    ASSERT_EQ(set_timer(window, 1, 5), 1u);
    in_wait.store(true);
    end = modal_wait([&] { return timers() >= 3 && painted() && sent_result.load() == 42; }, 10s);
    kill_timer(window, 1);
  });
  other.join();
  EXPECT_EQ(end, ModalWaitEnd::condition_met);
  auto lines = log.snapshot();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "W:MSG" + std::to_string(WM_USER + 5) + ":1"), lines.end())
      << "the posted message";
  {
    std::lock_guard<std::mutex> hold(log.lock);
    for (auto id : log.threads) EXPECT_EQ(id, ui.id());
  }
  ui.run([&] { destroy_window(window); });
}

TEST(ModalWait, ScriptCallsPostedDuringTheWaitRunAfterItInTheirOrder) {
  Log log;
  ScriptLoop loop(&log);
  loop.post_call(1);
  ASSERT_TRUE(eventually([&] { return loop.waiting.load(); }));
  loop.post_call(2);
  loop.post_call(3);
  // Posted after the calls: a wait that delivered messages in plain queue order would run the
  // calls first.
  post_message(loop.window(), ScriptLoop::kMarker, 0, 0);
  loop.post_call(4);
  const std::string marker = "W:MSG" + std::to_string(ScriptLoop::kMarker) + ":0";
  auto order = [&] {
    std::vector<std::string> seen;
    for (const auto& line : log.snapshot()) {
      if (line.rfind("call:", 0) == 0 || line == "wait ended" || line == marker) seen.push_back(line);
    }
    return seen;
  };
  ASSERT_TRUE(eventually([&] { return order().size() >= 6; }, 10s));
  EXPECT_EQ(loop.end.load(), ModalWaitEnd::condition_met);
  EXPECT_EQ(order(), (std::vector<std::string>{"call:1", marker, "wait ended", "call:2", "call:3", "call:4"}));
}

TEST(ModalWait, EndsAtItsLimitAndOnAQuitThatStaysForTheLoop) {
  UiThread ui;
  std::atomic<int> rechecks{0};
  ModalWaitEnd end = ModalWaitEnd::condition_met;
  ui.run([&] {
    end = modal_wait([&] { return ++rechecks < 0; }, 30ms, 1ms);
  });
  EXPECT_EQ(end, ModalWaitEnd::time_limit);
  EXPECT_GE(rechecks.load(), 2) << "the condition is looked at again while nothing arrives";

  // A quit asked for during the wait ends it, and then ends the thread's own loop.
  Log log;
  Recorder rec{&log, "W"};
  std::atomic<bool> in_wait{false};
  std::atomic<bool> returned{false};
  std::promise<ThreadQueue> queue;
  std::thread owner([&] {
    queue.set_value(this_thread_queue());
    in_wait.store(true);
    end = modal_wait([] { return false; }, 30s);
    returned.store(true);
    Msg msg;
    EXPECT_FALSE(get_message(&msg));
    EXPECT_EQ(msg.wparam, 5u);
  });
  ThreadQueue q = queue.get_future().get();
  ASSERT_TRUE(eventually([&] { return in_wait.load(); }));
  post_quit(q, 5);
  owner.join();
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(end, ModalWaitEnd::quit);
}

TEST(ModalWait, AWakeUpMakesItLookAtItsConditionAtOnce) {
  std::atomic<bool> ready{false};
  std::atomic<bool> in_wait{false};
  std::promise<ThreadQueue> queue;
  ModalWaitEnd end = ModalWaitEnd::time_limit;
  std::thread owner([&] {
    queue.set_value(this_thread_queue());
    in_wait.store(true);
    // Looked at again only on a wake-up: the recheck interval is longer than the limit.
    end = modal_wait([&] { return ready.load(); }, 20s, 60s);
  });
  ThreadQueue q = queue.get_future().get();
  ASSERT_TRUE(eventually([&] { return in_wait.load(); }));
  ready.store(true);
  wake_modal_wait(q);
  owner.join();
  EXPECT_EQ(end, ModalWaitEnd::condition_met);
}

}  // namespace
