// The lifetime of the library's process-wide objects and threads: detach and uninit return
// within their bounds, init and uninit may race with calls and callbacks (run it under ASan and
// TSan), and no thread of the library is left after uninit.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "brixa/api/brixa.h"
#include "brixa/core/callback_dispatch.h"
#include "brixa/core/client_registry.h"
#include "brixa/core/library.h"
#include "brixa/sdk/sdk.h"
#include "platform/sync/event.h"
#include "platform/testing/debug_capture.h"
#include "platform/threads/thread.h"
#include "trace/trace.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using platform::Thread;

// Runs `call` on a thread of its own and reports whether it returned within `limit`. A call
// that does not return is left to the abandoned-thread list, so the test fails instead of
// hanging.
template <class Fn>
bool returns_within(std::chrono::milliseconds limit, Fn call) {
  Thread caller(call);
  return caller.join_within(static_cast<uint32_t>(limit.count())) == Thread::End::joined;
}

// The threads of this process. The first thread a process creates makes the thread sanitizer
// start a helper thread of its own for the rest of the process, so a baseline is taken only after
// one thread has come and gone.
size_t threads_of_process() {
  static const bool warmed_up = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)warmed_up;
  size_t n = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(dir)) n += entry->d_name[0] != '.';
    closedir(dir);
  }
  return n;
}

template <class Fn>
bool eventually(Fn done, std::chrono::milliseconds limit = 10s) {
  auto until = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

int ignore(intptr_t, brixa_handle, int32_t, intptr_t, int32_t, const char*, int32_t) { return 0; }

class Lifetime : public ::testing::Test {
 protected:
  void TearDown() override {
    brixa_uninit();
    trace::force_verbose_for_testing(false);
  }
};

TEST_F(Lifetime, DetachOfANullOrUnknownHandleReturnsAtOnceWithItsResult) {
  brixa_init("127.0.0.1", 1, "key");
  brixa_handle client = brixa_create();
  ASSERT_EQ(brixa_cli_attach_callback(client, ignore, 0), BRIXA_OK);  // the dispatcher runs, idle
  struct Case {
    const char* name;
    brixa_handle handle;
    int32_t result;
  } cases[] = {
      {"null", nullptr, BRIXA_ERR_FAILED},
      {"unknown", reinterpret_cast<brixa_handle>(0x42), BRIXA_ERR_FAILED},
      {"registered", client, BRIXA_OK},
      {"registered, detached already", client, BRIXA_ERR_FAILED},
  };
  for (const Case& c : cases) {
    int32_t result = 1;
    EXPECT_TRUE(returns_within(5s, [&] { result = brixa_cli_detach_callback(c.handle); })) << c.name;
    EXPECT_EQ(result, c.result) << c.name;
  }
  brixa_release(client);
}

TEST_F(Lifetime, UninitGivesUpOnARegistryHeldByAReaderAndTracesIt) {
  brixa_init("127.0.0.1", 1, "key");
  brixa_handle client = brixa_create();
  brixa::ClientRegistry& registry = brixa::client_registry();
  // A reader that holds the registry (as a call in flight once did) until the test lets it go.
  platform::Event let_go(platform::Event::Reset::manual, false);
  std::atomic<bool> holding{false};
  Thread reader([&] {
    registry.lock.lock_read();
    holding = true;
    let_go.wait(30000);
    registry.lock.unlock_read();
  });
  ASSERT_TRUE(eventually([&] { return holding.load(); }));
  trace::force_verbose_for_testing(true);
  platform::testing::DebugCapture capture;
  EXPECT_TRUE(returns_within(10s, [] { brixa_uninit(); })) << "uninit waited for the reader without limit";
  let_go.set();
  EXPECT_EQ(reader.join_within(10000), Thread::End::joined);
  EXPECT_TRUE(capture.contains("Error: brixa_uninit 148 (Cannot lock client map for clearing (148))"));
  brixa_uninit();  // the reader is gone: this one releases the client that was kept
  EXPECT_EQ(brixa_get_login_id(client, "dev"), BRIXA_ERR_NOT_INITIALISED);
}

TEST_F(Lifetime, ReleaseGivesUpOnARegistryItCannotLockAndTracesIt) {
  brixa_init("127.0.0.1", 1, "key");
  brixa_handle client = brixa_create();
  brixa::ClientRegistry& registry = brixa::client_registry();
  platform::Event let_go(platform::Event::Reset::manual, false);
  std::atomic<bool> holding{false};
  Thread reader([&] {
    registry.lock.lock_read();
    holding = true;
    let_go.wait(30000);
    registry.lock.unlock_read();
  });
  ASSERT_TRUE(eventually([&] { return holding.load(); }));
  trace::force_verbose_for_testing(true);
  platform::testing::DebugCapture capture;
  EXPECT_TRUE(returns_within(10s, [&] { brixa_release(client); }));
  let_go.set();
  EXPECT_EQ(reader.join_within(10000), Thread::End::joined);
  EXPECT_TRUE(capture.contains("Error: brixa_release 178 (Cannot lock client map (178))"));
}

// A device that takes the connection and never answers: a login waits its whole wait time.
class SilentDevice {
 public:
  SilentDevice() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd_, 4) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~SilentDevice() {
    if (peer_ >= 0) close(peer_);
    close(fd_);
  }
  uint16_t port() const { return port_; }
  // True once a client has connected (the connection is taken and kept open, silent).
  bool connected() {
    if (peer_ < 0) peer_ = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    return peer_ >= 0;
  }

 private:
  int fd_ = -1;
  int peer_ = -1;
  uint16_t port_ = 0;
};

TEST_F(Lifetime, ReleaseDoesNotWaitForADeviceLoginInFlight) {
  brixa_init("127.0.0.1", 1, "key");
  NET_NetworkParams params{};
  params.wait_time_ms = 4000;  // the login gives up on the silent device after this
  params.connect_time_ms = 4000;
  NET_SetNetworkParam(&params);
  SilentDevice device;
  ASSERT_NE(device.port(), 0);
  brixa_handle client = brixa_create();
  std::atomic<int32_t> login_result{100};
  Thread login([&] { login_result = brixa_login(client, "dev", device.port(), "admin", "secret"); });
  ASSERT_TRUE(eventually([&] { return device.connected(); }));
  EXPECT_TRUE(returns_within(2000ms, [&] { brixa_release(client); })) << "the release waited for the device";
  EXPECT_EQ(login.join_within(20000), Thread::End::joined);
  EXPECT_EQ(login_result.load(), NET_LOGIN_TIMEOUT);
  EXPECT_EQ(brixa_get_login_id(client, "dev"), BRIXA_ERR_FAILED) << "the client is gone";
}

// Callbacks of the stress test: count, call back into the library, and now and then stop and
// restart the whole library from inside the callback.
std::atomic<int> delivered{0};
std::atomic<int> restarts_from_callback{0};
std::atomic<int> in_callback{0};
std::atomic<bool> restarts_allowed{false};
constexpr int32_t kRestartId = 4711;

int stress_callback(intptr_t, brixa_handle client, int32_t id, intptr_t, int32_t, const char* info, int32_t len) {
  ++in_callback;
  ++delivered;
  if (len > 0 && info[len] != 0) ADD_FAILURE() << "payload without its NUL";
  brixa_get_login_id(client, "dev");
  if (id == kRestartId && restarts_allowed.load() && restarts_from_callback.load() < 2) {
    ++restarts_from_callback;
    brixa_uninit();
    brixa_init("127.0.0.1", 1, "key");
  }
  --in_callback;
  return 0;
}

TEST_F(Lifetime, InitAndUninitRaceCallsCallbacksAndLatePostersCleanly) {
  size_t threads_before = threads_of_process();
  size_t live_before = platform::live_threads();
  delivered = 0;
  restarts_from_callback = 0;
  restarts_allowed = true;
  const auto until = Clock::now() + 2500ms;
  std::atomic<bool> stop{false};
  std::vector<Thread> threads;

  // The control's thread: starts and stops the library over and over.
  threads.emplace_back([&] {
    while (Clock::now() < until) {
      brixa_init("127.0.0.1", 1, "key");
      std::this_thread::yield();
      brixa_uninit();
    }
  });
  // Client threads: the whole life of a client, with cloud calls that fail fast.
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      int round = 0;
      while (!stop.load()) {
        brixa_handle client = brixa_create();
        brixa_cli_attach_callback(client, stress_callback, t);
        std::string text = "payload " + std::to_string(round);
        for (int i = 0; i < 20; ++i) brixa::post(client, 513, i, 0, text.c_str(), static_cast<int32_t>(text.size()));
        if (round % 50 == 7) brixa::post(client, kRestartId, 0, 0, nullptr, 0);
        brixa_get_login_id(client, "dev");
        biz_create(client, "app", "app-pass", "http://127.0.0.1:1/", "user", "pass", 0);
        if (round % 10 == 0) biz_get_list_sn(client);
        brixa_cli_detach_callback(client);
        brixa_release(client);
        ++round;
      }
    });
  }
  // Late posters, as Device SDK and worker threads are: they post whatever the library's state.
  threads.emplace_back([&] {
    brixa_handle stale = nullptr;
    while (!stop.load()) {
      brixa::post(stale, 257, 0, -1, "late", 4);
      stale = reinterpret_cast<brixa_handle>(reinterpret_cast<intptr_t>(stale) + 8);
      std::this_thread::yield();
    }
  });
  // Callers with handles that come and go.
  threads.emplace_back([&] {
    while (!stop.load()) {
      brixa_handle client = brixa_create();
      brixa_release(client);
      brixa_cli_detach_callback(client);
      brixa_get_login_id(client, "dev");
      brixa_release_connect(client, reinterpret_cast<brixa_connection>(0x10));
    }
  });

  EXPECT_EQ(threads[0].join_within(20000), Thread::End::joined) << "the lifecycle thread is stuck";
  stop = true;
  restarts_allowed = false;
  for (size_t i = 1; i < threads.size(); ++i)
    EXPECT_EQ(threads[i].join_within(20000), Thread::End::joined) << "thread " << i << " is stuck";
  // A callback may still be restarting the library on a dispatcher that an uninit handed over.
  EXPECT_TRUE(eventually([] { return in_callback.load() == 0; }, 20s));
  brixa_uninit();
  EXPECT_GT(delivered.load(), 0) << "no callback was delivered at all";

  // Every library thread is joined, or was handed over and ends now.
  EXPECT_EQ(platform::abandoned_threads::join_within(10000), 0u);
  EXPECT_EQ(platform::live_threads(), live_before);
  EXPECT_TRUE(eventually([&] { return threads_of_process() == threads_before; }))
      << threads_of_process() << " threads, " << threads_before << " before";
}

TEST_F(Lifetime, NoThreadOfTheLibraryIsLeftAfterUninit) {
  size_t threads_before = threads_of_process();
  size_t live_before = platform::live_threads();
  brixa_init("127.0.0.1", 1, "key");
  brixa_handle client = brixa_create();
  ASSERT_EQ(brixa_cli_attach_callback(client, ignore, 0), BRIXA_OK);
  // A worker of the client that ignores its stop request past its bound.
  platform::Event let_go(platform::Event::Reset::manual, false);
  {
    platform::MutexLock hold(client->workers_lock);
    client->record_query_thread = Thread([&] { let_go.wait(30000); });
  }
  EXPECT_GT(platform::live_threads(), live_before) << "dispatcher, check thread, monitor and worker run";
  brixa_uninit();
  // The deaf worker is accounted for (on a loaded machine another thread may also have run past
  // its bound and be handed over; it ends by itself).
  EXPECT_GE(platform::abandoned_threads::reap(), 1u) << "the deaf worker is accounted for";
  let_go.set();
  EXPECT_EQ(platform::abandoned_threads::join_within(10000), 0u);
  EXPECT_EQ(platform::live_threads(), live_before);
  EXPECT_TRUE(eventually([&] { return threads_of_process() == threads_before; }))
      << threads_of_process() << " threads, " << threads_before << " before";
}

}  // namespace
