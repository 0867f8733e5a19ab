// video_bench: live video through our Device SDK in one run, with its peers.
//
//   decode   16 extra streams (704 x 576, 25 pictures a second) of a simulated recorder, running
//            as its own process, played by the NetSDK into 16 window surfaces of 320 x 240: CPU
//            time of this process per second of video, against `ffmpeg -f null` decoding the same
//            16 streams dumped to files (one decoding thread per stream on both sides);
//   latency  glass to glass: the capture time the simulator draws into each picture as a time
//            code, read back from the window surface when the picture lands there, with 1 and
//            with 16 streams;
//   device   the simulator's own CPU time while it serves the 16 streams.
//
//   video_bench [seconds per measurement, default 10]
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devsdk/netsdk/netsdk.h"
#include "devsdk/proto/media_block.h"
#include "devsdk/proto/messages.h"
#include "platform/gdi/gdi.h"
#include "platform/window/surface.h"
#include "sim/device/video/time_code.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kStreams = 16;
constexpr int kWidth = 320, kHeight = 240;
constexpr int kStreamWidth = 704, kStreamHeight = 576;
constexpr double kPicturesPerSecond = 25.0;

uint64_t wall_ms() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count());
}

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

double self_cpu_seconds() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of another process, from /proc.
double process_cpu_seconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  // Fields after the name: state is field 3; utime and stime are fields 14 and 15.
  std::vector<std::string> fields;
  size_t pos = close + 2;
  while (pos < text.size()) {
    size_t next = text.find(' ', pos);
    if (next == std::string::npos) next = text.size();
    fields.push_back(text.substr(pos, next - pos));
    pos = next + 1;
  }
  if (fields.size() < 13) return 0;
  double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  return (std::strtod(fields[11].c_str(), nullptr) + std::strtod(fields[12].c_str(), nullptr)) / ticks;
}

// ---- the simulator as a process ----
struct Simulator {
  pid_t pid = -1;
  uint16_t port = 0;
};

Simulator start_simulator(const std::string& dir) {
  Simulator sim;
  std::string fixture = dir + "/fixture.json";
  {
    std::ofstream f(fixture);
    f << R"({"applications":[],"accounts":[{"user":"bench","password":"bench","devices":[)"
      << R"({"dev_id":"KVR-BENCH","dev_user":"admin","dev_pass":"admin","name":"Bench","channel_count":16}]}]})";
  }
  int out[2];
  if (pipe(out) != 0) return sim;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string fixture_arg = fixture;
  std::vector<char*> argv = {const_cast<char*>(KAVREL_SIM), const_cast<char*>("device"),
                             const_cast<char*>("--fixture"), fixture_arg.data(), nullptr};
  if (posix_spawn(&sim.pid, KAVREL_SIM, &actions, nullptr, argv.data(), environ) != 0) sim.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  std::string line;
  char c;
  while (sim.pid > 0 && ::read(out[0], &c, 1) == 1 && c != '\n') line += c;
  ::close(out[0]);
  size_t at = line.find("127.0.0.1:");
  if (at != std::string::npos) sim.port = static_cast<uint16_t>(std::atoi(line.c_str() + at + 10));
  return sim;
}

// ---- what the streams deliver ----
struct Dump {
  std::mutex lock;
  proto::MediaBlockReader reader;
  std::vector<uint8_t> h264;  // Annex B from the first key picture
  int pictures = 0;
  bool keyed = false;
};

void on_raw(int32_t, uint32_t type, const uint8_t* data, uint32_t size, int32_t, intptr_t user) {
  if (type != NET_DATA_RAW) return;
  auto* d = reinterpret_cast<Dump*>(user);
  std::lock_guard<std::mutex> hold(d->lock);
  d->reader.feed(data, size);
  proto::MediaBlock b;
  while (d->reader.next(b) == proto::MediaBlockReader::Result::block) {
    if (b.kind != proto::kFrameVideoKey && b.kind != proto::kFrameVideoDelta) continue;
    if (!d->keyed && b.kind != proto::kFrameVideoKey) continue;
    d->keyed = true;
    d->h264.insert(d->h264.end(), b.data.begin(), b.data.end());
    ++d->pictures;
  }
}

// Pictures drawn and glass-to-glass latencies, from the drawing callback (SDK threads).
struct Pane {
  platform::HWND window = nullptr;
  std::atomic<int> drawn{0};
};
struct Latencies {
  std::mutex lock;
  bool recording = false;
  std::vector<double> ms;
  std::atomic<int> unreadable{0};
};
Pane panes[kStreams];
Latencies latencies;

void on_draw(int32_t, int32_t, void* dc, intptr_t) {
  platform::HWND window = platform::WindowFromDC(static_cast<platform::HDC>(dc));
  Pane* pane = nullptr;
  for (auto& p : panes)
    if (p.window == window) pane = &p;
  if (pane == nullptr) return;
  ++pane->drawn;
  uint64_t capture = 0;
  bool read;
  {
    platform::SurfaceAccess access(window);
    read = access.valid() && sim::device::video::read_time_code(access.pixels().data, access.pixels().stride, kWidth,
                                                                kHeight, kStreamWidth, kStreamHeight, wall_ms(),
                                                                &capture);
  }
  uint64_t now = wall_ms();
  std::lock_guard<std::mutex> hold(latencies.lock);
  if (!latencies.recording) return;
  if (!read) {
    ++latencies.unreadable;
    return;
  }
  latencies.ms.push_back(static_cast<double>(now) - static_cast<double>(capture));
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

bool wait_drawn(int streams, int pictures, int seconds) {
  auto until = Clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    bool all = true;
    for (int i = 0; i < streams; ++i) all = all && panes[i].drawn.load() >= pictures;
    if (all) return true;
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

struct LatencyFigures {
  double p50 = 0, p95 = 0;
  size_t samples = 0;
  int unreadable = 0;
};

// Plays `streams` streams into the panes; after a warm-up, measures for `seconds`.
struct PlayFigures {
  LatencyFigures latency;
  double cpu_seconds = 0;
  double device_cpu_seconds = 0;
  double wall_seconds = 0;
  int pictures = 0;
};

PlayFigures play(int32_t login, int streams, int seconds, pid_t simulator) {
  PlayFigures f;
  std::vector<int32_t> handles;
  for (int i = 0; i < streams; ++i) {
    panes[i].drawn = 0;
    int32_t h = NET_RealPlayEx(login, i, panes[i].window, NET_RTYPE_EXTRA);
    if (h == 0) std::fprintf(stderr, "video_bench: stream %d: error 0x%x\n", i, NET_GetLastError());
    handles.push_back(h);
  }
  if (!wait_drawn(streams, 50, 60)) std::fprintf(stderr, "video_bench: not every stream draws\n");
  std::vector<int> before(static_cast<size_t>(streams));
  {
    std::lock_guard<std::mutex> hold(latencies.lock);
    latencies.ms.clear();
    latencies.unreadable = 0;
    latencies.recording = true;
  }
  for (int i = 0; i < streams; ++i) before[static_cast<size_t>(i)] = panes[i].drawn.load();
  double cpu = self_cpu_seconds();
  double device_cpu = simulator > 0 ? process_cpu_seconds(simulator) : 0;
  auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  f.cpu_seconds = self_cpu_seconds() - cpu;
  f.device_cpu_seconds = simulator > 0 ? process_cpu_seconds(simulator) - device_cpu : 0;
  f.wall_seconds = seconds_since(start);
  for (int i = 0; i < streams; ++i) f.pictures += panes[i].drawn.load() - before[static_cast<size_t>(i)];
  {
    std::lock_guard<std::mutex> hold(latencies.lock);
    latencies.recording = false;
    f.latency.p50 = percentile(latencies.ms, 0.50);
    f.latency.p95 = percentile(latencies.ms, 0.95);
    f.latency.samples = latencies.ms.size();
    f.latency.unreadable = latencies.unreadable.load();
  }
  for (int32_t h : handles)
    if (h != 0) NET_StopRealPlay(h);
  return f;
}

// Dumps `seconds` of each extra stream as an H.264 file; the number of pictures in each.
std::vector<int> dump_streams(int32_t login, const std::string& dir, int seconds) {
  std::vector<Dump> dumps(kStreams);
  std::vector<int32_t> handles;
  for (int i = 0; i < kStreams; ++i) {
    int32_t h = NET_RealPlayEx(login, i, nullptr, NET_RTYPE_EXTRA);
    if (h != 0) NET_SetRealDataCallBackEx(h, on_raw, reinterpret_cast<intptr_t>(&dumps[static_cast<size_t>(i)]), 31);
    handles.push_back(h);
  }
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  for (int32_t h : handles)
    if (h != 0) NET_StopRealPlay(h);
  std::vector<int> pictures;
  for (int i = 0; i < kStreams; ++i) {
    std::ofstream f(dir + "/stream" + std::to_string(i) + ".h264", std::ios::binary);
    auto& d = dumps[static_cast<size_t>(i)];
    f.write(reinterpret_cast<const char*>(d.h264.data()), static_cast<std::streamsize>(d.h264.size()));
    pictures.push_back(d.pictures);
  }
  return pictures;
}

// CPU seconds of `ffmpeg -f null` decoding the 16 files, one decoding thread each; -1 when
// ffmpeg cannot run.
double ffmpeg_cpu_seconds(const std::string& dir) {
  std::vector<std::string> args = {"ffmpeg", "-nostdin", "-v", "error"};
  for (int i = 0; i < kStreams; ++i) {
    args.insert(args.end(), {"-threads", "1", "-i", dir + "/stream" + std::to_string(i) + ".h264"});
  }
  for (int i = 0; i < kStreams; ++i) args.insert(args.end(), {"-map", std::to_string(i) + ":v"});
  args.insert(args.end(), {"-f", "null", "-"});
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  rusage u;
  if (wait4(pid, &status, 0, &u) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void print_ratio(const char* what, double value, double peer, const char* target) {
  if (peer > 0) {
    std::printf("%-52s %6.2f   (%s)\n", what, value / peer, target);
  } else {
    std::printf("%-52s   n/a\n", what);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
  if (seconds <= 0) {
    std::fprintf(stderr, "usage: video_bench [seconds per measurement]\n");
    return 2;
  }
  char dir_template[] = "/tmp/video_bench.XXXXXX";
  if (mkdtemp(dir_template) == nullptr) return 1;
  const std::string dir = dir_template;

  Simulator sim = start_simulator(dir);
  if (sim.pid <= 0 || sim.port == 0) {
    std::fprintf(stderr, "video_bench: the simulator did not start (%s)\n", KAVREL_SIM);
    return 1;
  }
  NET_Init(nullptr, 0);
  NET_NetworkParams params{};
  params.wait_time_ms = 30000;  // the first start of each stream encodes its loop
  NET_SetNetworkParam(&params);
  int32_t login = NET_Login("127.0.0.1", sim.port, "admin", "admin", NET_LOGIN_MODE_TCP, nullptr, nullptr, nullptr);
  if (login <= 0) {
    std::fprintf(stderr, "video_bench: login failed\n");
    ::kill(sim.pid, SIGTERM);
    ::waitpid(sim.pid, nullptr, 0);
    return 1;
  }
  for (int i = 0; i < kStreams; ++i) {
    panes[i].window = platform::create_window(
        platform::WindowSpec{nullptr, {0, 0, kWidth, kHeight}, platform::WS_VISIBLE, "pane " + std::to_string(i)});
  }
  NET_RegisterDrawFun(on_draw, 0);

  std::printf("video_bench: %d extra streams of %dx%d at 25 pictures a second into %dx%d windows; %d s per "
              "measurement\n",
              kStreams, kStreamWidth, kStreamHeight, kWidth, kHeight, seconds);
  std::vector<int> dumped = dump_streams(login, dir, seconds);
  int dumped_pictures = 0;
  for (int n : dumped) dumped_pictures += n;

  PlayFigures one = play(login, 1, seconds, 0);
  PlayFigures all = play(login, kStreams, seconds, sim.pid);
  double ffmpeg = ffmpeg_cpu_seconds(dir);

  double ours_per_video_second = all.pictures > 0 ? all.cpu_seconds / (all.pictures / kPicturesPerSecond) : 0;
  double ffmpeg_per_video_second =
      ffmpeg > 0 && dumped_pictures > 0 ? ffmpeg / (dumped_pictures / kPicturesPerSecond) : 0;
  double device_share = all.wall_seconds > 0 ? all.device_cpu_seconds / all.wall_seconds : 0;

  std::printf("\n%-34s %14s %12s\n", "decode and draw", "CPU ms per", "pictures");
  std::printf("%-34s %14s %12s\n", "", "video second", "");
  std::printf("%-34s %14.2f %12d\n", "ours (NetSDK into 16 surfaces)", ours_per_video_second * 1000, all.pictures);
  if (ffmpeg > 0) {
    std::printf("%-34s %14.2f %12d\n", "ffmpeg -f null (16 files)", ffmpeg_per_video_second * 1000, dumped_pictures);
  } else {
    std::printf("%-34s %14s\n", "ffmpeg -f null (16 files)", "n/a (ffmpeg did not run)");
  }
  std::printf("\n%-34s %10s %10s %10s %12s\n", "glass to glass", "p50 ms", "p95 ms", "samples", "unreadable");
  std::printf("%-34s %10.1f %10.1f %10zu %12d\n", "1 stream", one.latency.p50, one.latency.p95, one.latency.samples,
              one.latency.unreadable);
  std::printf("%-34s %10.1f %10.1f %10zu %12d\n", "16 streams", all.latency.p50, all.latency.p95,
              all.latency.samples, all.latency.unreadable);
  std::printf("\nsimulator CPU for 16 extra streams: %.1f%% of one core (%.2f s in %.1f s)\n\n", device_share * 100,
              all.device_cpu_seconds, all.wall_seconds);

  print_ratio("decode+draw CPU ours/ffmpeg", ours_per_video_second, ffmpeg_per_video_second, "target <= 1.2");
  print_ratio("glass-to-glass p95, 1 stream / 80 ms", one.latency.p95, 80, "target < 1.0");
  print_ratio("glass-to-glass p95, 16 streams / 80 ms", all.latency.p95, 80, "target < 1.0");
  print_ratio("simulator CPU, 16 streams / 25% of a core", device_share, 0.25, "target < 1.0");

  NET_RegisterDrawFun(nullptr, 0);
  NET_Logout(login);
  NET_Cleanup();
  for (auto& p : panes) platform::destroy_window(p.window);
  ::kill(sim.pid, SIGTERM);
  ::waitpid(sim.pid, nullptr, 0);
  for (int i = 0; i < kStreams; ++i) std::remove((dir + "/stream" + std::to_string(i) + ".h264").c_str());
  std::remove((dir + "/fixture.json").c_str());
  ::rmdir(dir.c_str());
  return 0;
}
