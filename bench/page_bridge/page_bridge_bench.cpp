// The page bridge, measured from a page's side over loopback.
//
//   round trip   a script call (CliGetPicNum) page -> host -> control's thread -> host -> page,
//                against a bare Beast WebSocket echo of the same message in the same run
//                (target: within 1.5x)
//   frames       a changing picture (moving shapes over a gradient with sensor-like noise,
//                repainted at 60 Hz) composed, JPEG-encoded and sent over the WebSocket to a
//                page that acknowledges each frame, at 1280x720 and 1920x1080
//                (targets: encode under 8 ms at 1080p on one core, >= 25 frames/s delivered)
//
// Prints the figures and the ratios.
#include <utility>  // Boost 1.74's Asio needs std::exchange declared first

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "host/downloads.h"
#include "host/jpeg_encoder.h"
#include "host/log.h"
#include "host/page_host.h"
#include "host/page_server.h"
#include "host/surface_streamer.h"
#include "host/ui_thread.h"
#include "platform/window/surface.h"

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr int kBlocks = 5;
constexpr int kRoundsPerBlock = 400;
constexpr int kWarmUp = 200;
constexpr auto kFrameRun = std::chrono::seconds(4);
constexpr auto kFrameWarmUp = std::chrono::milliseconds(500);

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t index = std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())));
  return values[index];
}

std::string cookie_for(uint16_t port, const std::string& token) {
  asio::io_context io;
  tcp::socket socket(io);
  socket.connect(tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), port));
  http::request<http::empty_body> req{http::verb::get, "/?token=" + token, 11};
  req.set(http::field::host, "127.0.0.1:" + std::to_string(port));
  http::write(socket, req);
  beast::flat_buffer buffer;
  http::response<http::string_body> res;
  http::read(socket, buffer, res);
  std::string set(res[http::field::set_cookie]);
  return set.substr(0, set.find(';'));
}

// A page's end of a WebSocket, used from one thread.
class Page {
 public:
  Page(uint16_t port, const std::string& cookie) : ws_(io_) {
    std::string host = "127.0.0.1:" + std::to_string(port);
    ws_.next_layer().connect(tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), port));
    ws_.next_layer().set_option(tcp::no_delay(true));
    ws_.set_option(websocket::stream_base::decorator([&](websocket::request_type& req) {
      if (!cookie.empty()) req.set(http::field::cookie, cookie);
      req.set(http::field::origin, "http://" + host);
    }));
    ws_.handshake(host, "/bridge");
    ws_.read_message_max(64u << 20);
  }
  void send(const std::string& text) {
    ws_.text(true);
    ws_.write(asio::buffer(text));
  }
  // The next message; `binary` tells which kind.
  std::string read(bool* binary) {
    buffer_.consume(buffer_.size());
    ws_.read(buffer_);
    *binary = !ws_.got_text();
    return beast::buffers_to_string(buffer_.data());
  }
  // Reads until a text message containing `needle`.
  void read_until(const std::string& needle) {
    for (;;) {
      bool binary = false;
      std::string m = read(&binary);
      if (!binary && m.find(needle) != std::string::npos) return;
    }
  }

 private:
  asio::io_context io_;
  websocket::stream<tcp::socket> ws_;
  beast::flat_buffer buffer_;
};

// The peer: a bare Beast WebSocket server echoing every message on its own thread. With
// `via_thread` each message first goes to a second thread and back, the two handoffs any call
// on the control's own thread needs (shown for reference).
class EchoServer {
 public:
  explicit EchoServer(bool via_thread = false)
      : via_thread_(via_thread), acceptor_(io_, tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0)) {
    if (via_thread_) {
      worker_ = std::thread([this] {
        std::unique_lock<std::mutex> hold(lock_);
        for (;;) {
          wake_.wait(hold, [&] { return stop_ || pending_; });
          if (stop_) return;
          pending_ = false;
          done_ = true;
          wake_.notify_all();
        }
      });
    }
    thread_ = std::thread([this] {
      tcp::socket socket(io_);
      acceptor_.accept(socket);
      socket.set_option(tcp::no_delay(true));
      websocket::stream<tcp::socket> ws(std::move(socket));
      ws.accept();
      beast::flat_buffer buffer;
      beast::error_code ec;
      for (;;) {
        ws.read(buffer, ec);
        if (ec) return;
        if (via_thread_) {
          std::unique_lock<std::mutex> hold(lock_);
          pending_ = true;
          done_ = false;
          wake_.notify_all();
          wake_.wait(hold, [&] { return done_; });
        }
        ws.text(ws.got_text());
        ws.write(buffer.data(), ec);
        if (ec) return;
        buffer.consume(buffer.size());
      }
    });
  }
  ~EchoServer() {
    thread_.join();
    if (worker_.joinable()) {
      {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
      }
      wake_.notify_all();
      worker_.join();
    }
  }
  uint16_t port() const { return acceptor_.local_endpoint().port(); }

 private:
  const bool via_thread_;
  asio::io_context io_;
  tcp::acceptor acceptor_;
  std::thread thread_;
  std::thread worker_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool pending_ = false;  // guarded by lock_
  bool done_ = false;     // guarded by lock_
  bool stop_ = false;     // guarded by lock_
};

void round_trips(const std::string& run_folder) {
  host::PageHostOptions options;
  options.run_folder = run_folder;
  options.surface.max_fps = 30;
  host::PageHost page_host(options);
  std::string error;
  if (!page_host.start(&error)) {
    std::fprintf(stderr, "bench_page_bridge: the host did not start: %s\n", error.c_str());
    std::exit(1);
  }
  Page bridge(page_host.port(), cookie_for(page_host.port(), page_host.token()));
  bridge.read_until("\"hello\"");
  EchoServer echo_server;
  Page echo(echo_server.port(), "");
  EchoServer hop_server(true);
  Page hop(hop_server.port(), "");

  const std::string call = R"({"type":"call","id":1,"method":"CliGetPicNum","args":[]})";
  auto bridge_once = [&] {
    bridge.send(call);
    bridge.read_until("\"result\"");
  };
  auto echo_once = [&] {
    echo.send(call);
    bool binary = false;
    echo.read(&binary);
  };
  auto hop_once = [&] {
    hop.send(call);
    bool binary = false;
    hop.read(&binary);
  };
  for (int i = 0; i < kWarmUp; ++i) {
    bridge_once();
    echo_once();
    hop_once();
  }
  std::vector<double> bridge_us;
  std::vector<double> echo_us;
  std::vector<double> hop_us;
  auto time = [](auto&& fn, std::vector<double>& into) {
    auto began = Clock::now();
    fn();
    into.push_back(std::chrono::duration<double, std::micro>(Clock::now() - began).count());
  };
  for (int block = 0; block < kBlocks; ++block) {
    for (int i = 0; i < kRoundsPerBlock; ++i) time(bridge_once, bridge_us);
    for (int i = 0; i < kRoundsPerBlock; ++i) time(echo_once, echo_us);
    for (int i = 0; i < kRoundsPerBlock; ++i) time(hop_once, hop_us);
  }
  double b50 = percentile(bridge_us, 0.5), b99 = percentile(bridge_us, 0.99);
  double e50 = percentile(echo_us, 0.5), e99 = percentile(echo_us, 0.99);
  std::printf("round trip (%d calls each)\n", kBlocks * kRoundsPerBlock);
  std::printf("  page -> control -> page   p50 %8.1f us   p99 %8.1f us\n", b50, b99);
  std::printf("  bare WebSocket echo       p50 %8.1f us   p99 %8.1f us\n", e50, e99);
  std::printf("  ratio                     p50 %8.2fx     p99 %8.2fx   (target p50 <= 1.5x)\n", b50 / e50, b99 / e99);
  double h50 = percentile(hop_us, 0.5), h99 = percentile(hop_us, 0.99);
  std::printf("  (reference: echo through a second thread and back  p50 %8.1f us   p99 %8.1f us   %.2fx)\n", h50, h99,
              h50 / e50);
}

// A camera-like scene, rendered once at twice the picture's size: a gradient, blocks and
// sensor-like noise. Each frame shows a different part of it with a block moving over it, so the
// whole picture changes every frame while painting costs only a copy.
class Scene {
 public:
  Scene(int width, int height) : width_(width * 2), height_(height * 2), pixels_(static_cast<size_t>(width_) * height_ * 4) {
    uint32_t noise = 0x9E3779B9u;
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        noise = noise * 1664525u + 1013904223u;
        int n = static_cast<int>((noise >> 29) & 3) - 2;
        int r = (x * 255 / width_);
        int g = (y * 255 / height_);
        int b = ((x / 64 + y / 64) & 1) != 0 ? 180 : 60;
        uint8_t* px = pixels_.data() + (static_cast<size_t>(y) * width_ + x) * 4;
        px[0] = static_cast<uint8_t>(std::clamp(b + n, 0, 255));
        px[1] = static_cast<uint8_t>(std::clamp(g + n, 0, 255));
        px[2] = static_cast<uint8_t>(std::clamp(r + n, 0, 255));
        px[3] = 255;
      }
    }
  }
  void paint(uint8_t* out, int width, int height, int stride, int frame) const {
    int ox = (frame * 5) % (width_ - width);
    int oy = (frame * 3) % (height_ - height);
    int box_x = (frame * 11) % std::max(1, width - 160);
    int box_y = (frame * 7) % std::max(1, height - 120);
    for (int y = 0; y < height; ++y) {
      uint8_t* row = out + static_cast<size_t>(y) * stride;
      std::memcpy(row, pixels_.data() + (static_cast<size_t>(y + oy) * width_ + ox) * 4, static_cast<size_t>(width) * 4);
      if (y >= box_y && y < box_y + 120) {
        for (int x = box_x; x < box_x + 160; ++x) {
          row[x * 4 + 0] = 30;
          row[x * 4 + 1] = 40;
          row[x * 4 + 2] = 220;
        }
      }
    }
  }

 private:
  int width_;
  int height_;
  std::vector<uint8_t> pixels_;
};

// The page server with the streamer on one page: frames out, acknowledgements in.
class FramePages : public host::PageListener {
 public:
  explicit FramePages(host::SurfaceStreamer& streamer) : streamer_(streamer) {}
  void on_page_open(const std::shared_ptr<host::PageSocket>& page) override {
    streamer_.attach([page](std::shared_ptr<const std::vector<uint8_t>> frame) { page->send_binary(std::move(frame)); });
  }
  void on_page_message(const std::shared_ptr<host::PageSocket>&, const std::string& text) override {
    size_t at = text.find("\"seq\":");
    if (at != std::string::npos) streamer_.acknowledge(static_cast<uint32_t>(std::strtoul(text.c_str() + at + 6, nullptr, 10)));
  }
  void on_page_closed(const std::shared_ptr<host::PageSocket>&) override { streamer_.detach(); }

 private:
  host::SurfaceStreamer& streamer_;
};

void frames(int width, int height) {
  host::UiThread ui;
  platform::HWND window = nullptr;
  ui.run([&] {
    window = platform::create_window({nullptr, {0, 0, width, height}, platform::WS_VISIBLE, "surface", nullptr, nullptr});
  });
  host::SurfaceStreamer::Options options;
  options.max_fps = 0;
  host::SurfaceStreamer streamer(options);
  platform::set_composition_listener([&streamer] { streamer.changed(); });
  host::Downloads downloads;
  FramePages pages(streamer);
  host::PageServer server(host::PageServerOptions{}, downloads, pages);
  std::string error;
  if (!server.start(&error)) {
    std::fprintf(stderr, "bench_page_bridge: %s\n", error.c_str());
    std::exit(1);
  }
  streamer.set_root(window);
  streamer.start();

  // The painter: a new picture every 16.7 ms, as a 60 Hz source would give.
  Scene scene(width, height);
  std::atomic<bool> painting{true};
  std::thread painter([&] {
    int frame = 0;
    auto next = Clock::now();
    while (painting) {
      {
        platform::SurfaceAccess access(window);
        if (access.valid()) {
          const auto& p = access.pixels();
          scene.paint(p.data, p.width, p.height, p.stride, frame++);
        }
      }
      platform::mark_surface_changed(window, nullptr);
      next += std::chrono::microseconds(16667);
      std::this_thread::sleep_until(next);
    }
  });

  // The page: acknowledges every frame as soon as it has it.
  Page page(server.port(), cookie_for(server.port(), server.token()));
  uint64_t delivered = 0;
  uint64_t bytes = 0;
  auto began = Clock::now();
  host::SurfaceStreamer::Stats at_start;
  bool counting = false;
  while (Clock::now() - began < kFrameWarmUp + kFrameRun) {
    bool binary = false;
    std::string message = page.read(&binary);
    if (!binary || message.size() < host::kFrameHeaderSize) continue;
    uint32_t seq = 0;
    std::memcpy(&seq, message.data() + 4, 4);
    page.send(R"({"type":"frame-ack","seq":)" + std::to_string(seq) + "}");
    if (!counting && Clock::now() - began >= kFrameWarmUp) {
      counting = true;
      at_start = streamer.stats();
      began = Clock::now() - kFrameWarmUp;
    }
    if (counting) {
      ++delivered;
      bytes += message.size();
    }
  }
  double seconds = std::chrono::duration<double>(kFrameRun).count();
  host::SurfaceStreamer::Stats stats = streamer.stats();
  uint64_t made = stats.frames - at_start.frames;
  double encode_ms = made == 0 ? 0 : std::chrono::duration<double, std::milli>(stats.encode_time - at_start.encode_time).count() / static_cast<double>(made);
  double compose_ms = made == 0 ? 0 : std::chrono::duration<double, std::milli>(stats.compose_time - at_start.compose_time).count() / static_cast<double>(made);

  painting = false;
  painter.join();
  streamer.stop();
  server.stop();
  platform::set_composition_listener(nullptr);

  // The encoder alone on one core, on the same kind of picture.
  std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 4);
  host::JpegEncoder encoder(80);
  std::vector<double> alone_ms;
  std::vector<uint8_t> out;
  for (int i = 0; i < 40; ++i) {
    scene.paint(picture.data(), width, height, width * 4, i);
    out.clear();
    auto t0 = Clock::now();
    encoder.encode(picture.data(), width, height, width * 4, &out);
    alone_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  ui.run([&] { platform::destroy_window(window); });

  std::printf("frames %dx%d (painted at 60 Hz, page acknowledges each)\n", width, height);
  std::printf("  delivered %6.1f frames/s   %6.1f KiB/frame   compose %5.2f ms   encode %5.2f ms/frame in the stream\n",
              static_cast<double>(delivered) / seconds, delivered == 0 ? 0.0 : static_cast<double>(bytes) / static_cast<double>(delivered) / 1024.0,
              compose_ms, encode_ms);
  std::printf("  encoder alone, one core: p50 %5.2f ms   p90 %5.2f ms   (target at 1080p < 8 ms; >= 25 frames/s: %s)\n",
              percentile(alone_ms, 0.5), percentile(alone_ms, 0.9),
              static_cast<double>(delivered) / seconds >= 25 ? "met" : "NOT met");
}

}  // namespace

int main() {
  std::string run = (std::filesystem::temp_directory_path() / "kavrel_bench_page_bridge_XXXXXX").string();
  if (::mkdtemp(run.data()) == nullptr) return 1;
  // A registry and cache of this run only, set while the process has one thread.
  ::setenv("KAVREL_REGISTRY", (run + "/registry").c_str(), 1);
  ::setenv("XDG_CACHE_HOME", (run + "/cache").c_str(), 1);
  host::set_log_sink([](const std::string&) {});
  round_trips(run);
  frames(1280, 720);
  frames(1920, 1080);
  std::error_code ignored;
  std::filesystem::remove_all(run, ignored);
  return 0;
}
