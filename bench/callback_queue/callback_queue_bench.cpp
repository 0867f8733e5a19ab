// Post-to-delivery throughput and latency of the library's callback channel (ring, semaphore,
// dispatcher thread, callback) against a plain mutex + condition variable queue of std::string
// with one consumer thread. Both sides get the same flow control: a poster waits while more than
// `window` messages are in flight, so neither side is measured dropping messages.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "brixa/api/brixa.h"
#include "brixa/core/callback_dispatch.h"
#include "brixa/core/callback_queue.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// What the consumer of either queue records. Touched only by the consumer thread while a run
// lasts; `delivered` is also polled by the posters.
struct Sink {
  std::atomic<int64_t> delivered{0};
  std::vector<int64_t> latencies_ns;
  size_t bytes = 0;

  void take(int64_t posted_ns, size_t len) {
    latencies_ns.push_back(now_ns() - posted_ns);
    bytes += len;
    delivered.fetch_add(1, std::memory_order_release);
  }
};

struct Result {
  double messages_per_s;
  double p50_us;
  double p99_us;
};

Result summarise(Sink& sink, int64_t total, double seconds) {
  auto& l = sink.latencies_ns;
  std::sort(l.begin(), l.end());
  return {static_cast<double>(total) / seconds, static_cast<double>(l[l.size() / 2]) / 1000.0,
          static_cast<double>(l[l.size() * 99 / 100]) / 1000.0};
}

// Runs `threads` posters that each send `per_thread` messages through `post`.
template <class Post>
double run_posters(int threads, int64_t per_thread, int64_t window, Sink& sink, Post post) {
  std::atomic<int64_t> posted{0};
  auto start = Clock::now();
  std::vector<std::thread> posters;
  for (int t = 0; t < threads; ++t) {
    posters.emplace_back([&] {
      for (int64_t i = 0; i < per_thread; ++i) {
        while (posted.load(std::memory_order_relaxed) - sink.delivered.load(std::memory_order_acquire) >= window)
          std::this_thread::yield();
        posted.fetch_add(1, std::memory_order_relaxed);
        post(now_ns());
      }
    });
  }
  for (auto& p : posters) p.join();
  int64_t total = threads * per_thread;
  while (sink.delivered.load(std::memory_order_acquire) < total) std::this_thread::yield();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

Sink* brixa_sink = nullptr;

int on_message(intptr_t, brixa_handle, int32_t, intptr_t param1, int32_t, const char*, int32_t info_len) {
  brixa_sink->take(static_cast<int64_t>(param1), static_cast<size_t>(info_len));
  return 0;
}

Result run_brixa(brixa_handle client, size_t size, int threads, int64_t per_thread, int64_t window) {
  Sink sink;
  sink.latencies_ns.reserve(static_cast<size_t>(threads * per_thread));
  brixa_sink = &sink;
  std::string payload(size, 'p');
  double seconds = run_posters(threads, per_thread, window, sink, [&](int64_t stamp) {
    brixa::post(client, 514, static_cast<intptr_t>(stamp), 0, payload.data(), static_cast<int32_t>(size));
  });
  return summarise(sink, threads * per_thread, seconds);
}

// The peer: a mutex + condition variable queue of std::string with one consumer thread.
Result run_peer(size_t size, int threads, int64_t per_thread, int64_t window) {
  struct Message {
    int64_t stamp;
    std::string info;
  };
  std::mutex lock;
  std::condition_variable ready;
  std::deque<Message> queue;  // guarded by lock
  bool stop = false;          // guarded by lock
  Sink sink;
  sink.latencies_ns.reserve(static_cast<size_t>(threads * per_thread));
  std::thread consumer([&] {
    for (;;) {
      Message m;
      {
        std::unique_lock<std::mutex> hold(lock);
        ready.wait(hold, [&] { return stop || !queue.empty(); });
        if (queue.empty()) return;
        m = std::move(queue.front());
        queue.pop_front();
      }
      sink.take(m.stamp, m.info.size());
    }
  });
  std::string payload(size, 'p');
  double seconds = run_posters(threads, per_thread, window, sink, [&](int64_t stamp) {
    {
      std::lock_guard<std::mutex> hold(lock);
      queue.push_back({stamp, payload});
    }
    ready.notify_one();
  });
  {
    std::lock_guard<std::mutex> hold(lock);
    stop = true;
  }
  ready.notify_one();
  consumer.join();
  return summarise(sink, threads * per_thread, seconds);
}

}  // namespace

int main() {
  brixa_init("127.0.0.1", 8000, "bench");
  brixa_handle client = brixa_create();
  brixa_cli_attach_callback(client, on_message, 0);

  std::printf("callback queue: post-to-delivery, brixa ring vs mutex+condvar queue of std::string\n");
  std::printf("%6s %7s | %14s %9s %9s | %14s %9s %9s | %6s\n", "bytes", "posters", "brixa msg/s", "p50 us",
              "p99 us", "peer msg/s", "p50 us", "p99 us", "ratio");
  for (size_t size : {size_t{0}, size_t{64}, size_t{4096}}) {
    // Keep the messages in flight to half of what the ring holds.
    int64_t slot = static_cast<int64_t>(sizeof(brixa::CallbackMessage) + brixa::CallbackQueue::padded_size(static_cast<uint32_t>(size)) + 8);
    int64_t window = static_cast<int64_t>(brixa::CallbackQueue::kRingBytes) / slot / 2;
    for (int threads : {1, 4}) {
      int64_t per_thread = (size >= 4096 ? 50000 : 200000) / threads;
      Result mine = run_brixa(client, size, threads, per_thread, window);
      Result peer = run_peer(size, threads, per_thread, window);
      std::printf("%6zu %7d | %14.0f %9.1f %9.1f | %14.0f %9.1f %9.1f | %6.2f\n", size, threads, mine.messages_per_s,
                  mine.p50_us, mine.p99_us, peer.messages_per_s, peer.p50_us, peer.p99_us,
                  mine.messages_per_s / peer.messages_per_s);
    }
  }

  // One message in flight at a time: the latency of a single hand-over to the callback thread.
  std::printf("\none message in flight (1 poster)\n");
  std::printf("%6s | %9s %9s | %9s %9s | %6s\n", "bytes", "brixa p50", "p99 us", "peer p50", "p99 us", "ratio");
  for (size_t size : {size_t{0}, size_t{64}, size_t{4096}}) {
    Result mine = run_brixa(client, size, 1, 20000, 1);
    Result peer = run_peer(size, 1, 20000, 1);
    std::printf("%6zu | %9.1f %9.1f | %9.1f %9.1f | %6.2f\n", size, mine.p50_us, mine.p99_us, peer.p50_us,
                peer.p99_us, peer.p50_us / mine.p50_us);
  }
  std::printf("ratio: brixa messages per second over the peer's (throughput), peer p50 over brixa p50 (latency)\n");
  brixa_cli_detach_callback(client);
  brixa_release(client);
  brixa_uninit();
  return 0;
}
