// tunnel_bench: bulk throughput and small-message round trips on loopback through
//   direct  the target server itself,
//   tunnel  a port mapped by t2u, relayed by the tunnel service and a device agent,
//   socat   socat forwarding a port to the target server (its default 8 KiB buffer),
//   socat-256k  the same with a 256 KiB buffer, the size the tunnel's hops move at a time,
// in one run, with the ratios of the tunnel against the other two.
//
//   tunnel_bench [MiB per run, default 1024] [round trips, default 5000] [path names to run]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/socket_io.h"
#include "sim/tunnel/agent/device_agent.h"
#include "sim/tunnel/tunnel_service.h"
#include "t2u/t2u.h"

extern char** environ;

namespace {

namespace wire = t2u::wire;
using Clock = std::chrono::steady_clock;

constexpr size_t kBlock = 256 * 1024;
constexpr size_t kPingBytes = 64;

void make_blocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK); }

bool write_all(int fd, const char* data, size_t n) {
  while (n > 0) {
    ssize_t w = ::send(fd, data, n, MSG_NOSIGNAL);
    if (w <= 0) return false;
    data += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool read_exact(int fd, char* data, size_t n) {
  while (n > 0) {
    ssize_t r = ::recv(fd, data, n, 0);
    if (r <= 0) return false;
    data += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

// The target: 'T' then bytes until end of stream -> answers the byte count; 'P' then 64-byte
// messages -> echoes each.
class Target {
 public:
  bool start() {
    listener_ = platform::net::listen_loopback(0, &port_);
    if (!listener_.valid()) return false;
    acceptor_ = std::thread([this] { accept_loop(); });
    return true;
  }
  void stop() {
    stop_.set();
    if (acceptor_.joinable()) acceptor_.join();
    for (auto& t : connections_) t.join();
  }
  uint16_t port() const { return port_; }

 private:
  void accept_loop() {
    for (;;) {
      if (platform::net::wait_for(listener_.get(), POLLIN, stop_.fd(), -1) != platform::net::Wait::ready) return;
      platform::net::UniqueFd fd = platform::net::accept_connection(listener_.get());
      if (fd.valid()) connections_.emplace_back([this, c = fd.release()] { serve(platform::net::UniqueFd(c)); });
    }
  }
  void serve(platform::net::UniqueFd fd) {
    make_blocking(fd.get());
    char mode;
    if (!read_exact(fd.get(), &mode, 1)) return;
    if (mode == 'T') {
      std::vector<char> buffer(kBlock);
      uint64_t total = 0;
      for (;;) {
        ssize_t r = ::recv(fd.get(), buffer.data(), buffer.size(), 0);
        if (r <= 0) break;
        total += static_cast<uint64_t>(r);
      }
      write_all(fd.get(), reinterpret_cast<const char*>(&total), sizeof total);
    } else if (mode == 'P') {
      char message[kPingBytes];
      while (read_exact(fd.get(), message, sizeof message) && write_all(fd.get(), message, sizeof message)) {
      }
    }
  }

  platform::net::UniqueFd listener_;
  uint16_t port_ = 0;
  wire::StopSignal stop_;
  std::thread acceptor_;
  std::list<std::thread> connections_;  // accept thread, then stop()
};

platform::net::UniqueFd open_to(uint16_t port) {
  platform::net::UniqueFd fd = platform::net::connect_to("127.0.0.1", port, -1, 5000);
  if (fd.valid()) make_blocking(fd.get());
  return fd;
}

double process_cpu_seconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds this process spent in the last throughput run (sender, receiver and, for the
// tunnel, every hop of the relay; not socat's own).
double last_cpu_seconds = 0;

// MB/s (10^6 bytes) of one bulk transfer of `bytes`, or 0 on failure.
double throughput_once(uint16_t port, size_t bytes) {
  double cpu_start = process_cpu_seconds();
  platform::net::UniqueFd fd = open_to(port);
  if (!fd.valid()) return 0;
  std::vector<char> block(kBlock, 'x');
  auto start = Clock::now();
  if (!write_all(fd.get(), "T", 1)) return 0;
  for (size_t sent = 0; sent < bytes; sent += kBlock) {
    if (!write_all(fd.get(), block.data(), std::min(kBlock, bytes - sent))) return 0;
  }
  ::shutdown(fd.get(), SHUT_WR);
  uint64_t counted = 0;
  if (!read_exact(fd.get(), reinterpret_cast<char*>(&counted), sizeof counted) || counted != bytes) return 0;
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  last_cpu_seconds = process_cpu_seconds() - cpu_start;
  return static_cast<double>(bytes) / seconds / 1e6;
}

struct Latency {
  double median_us = 0;
  double p99_us = 0;
};

Latency round_trips(uint16_t port, int count) {
  platform::net::UniqueFd fd = open_to(port);
  if (!fd.valid() || !write_all(fd.get(), "P", 1)) return {};
  char message[kPingBytes] = {};
  std::vector<double> times;
  times.reserve(static_cast<size_t>(count));
  for (int i = -100; i < count; ++i) {  // the first hundred warm the path up
    auto start = Clock::now();
    if (!write_all(fd.get(), message, sizeof message) || !read_exact(fd.get(), message, sizeof message)) return {};
    if (i >= 0) times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times[times.size() * 99 / 100]};
}

// socat forwarding a free port to the target; its pid, or -1 when socat cannot be started.
// `buffer` 0 keeps socat's default buffer size.
pid_t start_socat(uint16_t target, size_t buffer, uint16_t* port) {
  *port = 0;
  platform::net::listen_loopback(0, port);  // a port that was free a moment ago
  std::string listen = "TCP-LISTEN:" + std::to_string(*port) + ",bind=127.0.0.1,reuseaddr,fork";
  std::string connect = "TCP:127.0.0.1:" + std::to_string(target);
  std::string size = std::to_string(buffer);
  std::vector<char*> argv = {const_cast<char*>("socat")};
  if (buffer > 0) {
    argv.push_back(const_cast<char*>("-b"));
    argv.push_back(const_cast<char*>(size.c_str()));
  }
  argv.push_back(const_cast<char*>(listen.c_str()));
  argv.push_back(const_cast<char*>(connect.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, "socat", nullptr, nullptr, argv.data(), environ) != 0) return -1;
  for (int i = 0; i < 300; ++i) {  // up to 3 s for socat to listen
    platform::net::UniqueFd probe = platform::net::connect_to("127.0.0.1", *port, -1, 100);
    if (probe.valid()) return pid;
    int status;
    if (::waitpid(pid, &status, WNOHANG) == pid) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  return -1;
}

struct Figures {
  const char* name;
  double mbps = 0;
  Latency latency;
  double cpu_per_gib = 0;  // in this process, of the best run
};

void print_ratio(const char* what, double tunnel, double peer, const char* target) {
  if (peer > 0) {
    std::printf("%-44s %6.2f   (%s)\n", what, tunnel / peer, target);
  } else {
    std::printf("%-44s   n/a\n", what);
  }
}

}  // namespace

int main(int argc, char** argv) {
  size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
  int pings = argc > 2 ? std::atoi(argv[2]) : 5000;
  if (mib == 0 || pings <= 0) {
    std::fprintf(stderr, "usage: tunnel_bench [MiB per run] [round trips]\n");
    return 2;
  }
  size_t bytes = mib << 20;
  auto selected = [&](const char* name) {
    if (argc <= 3) return true;
    for (int i = 3; i < argc; ++i)
      if (std::strcmp(argv[i], name) == 0) return true;
    return false;
  };
  constexpr int kRuns = 3;

  Target target;
  if (!target.start()) return 1;

  sim::tunnel::TunnelService service;
  if (!service.start()) return 1;
  sim::tunnel::AgentOptions agent_options;
  agent_options.service_port = service.port();
  agent_options.device_id = "bench-device";
  agent_options.port_key = "vakP60372";
  agent_options.port_map = {{37777, target.port()}};
  sim::tunnel::DeviceAgent agent(agent_options);
  agent.start();
  t2u_init("127.0.0.1", service.port(), "bench");
  int mapped = t2u_add_port_v3("bench-device", "vakP60372", "127.0.0.1", 37777, 0);
  for (int i = 0; i < 500 && (mapped <= 0 || t2u_port_status(static_cast<uint16_t>(mapped), nullptr) != 1); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (mapped <= 0 || t2u_port_status(static_cast<uint16_t>(mapped), nullptr) != 1) {
    std::fprintf(stderr, "tunnel_bench: the tunnel did not come up\n");
    return 1;
  }

  uint16_t socat_port = 0;
  uint16_t socat_big_port = 0;
  pid_t socat = start_socat(target.port(), 0, &socat_port);
  pid_t socat_big = socat < 0 ? -1 : start_socat(target.port(), 256 * 1024, &socat_big_port);
  if (socat < 0 || socat_big < 0) {
    std::fprintf(stderr, "tunnel_bench: socat could not be started; its figures are left out\n");
  }

  std::printf("tunnel_bench: %zu MiB per bulk run, %d round trips of %zu bytes; best of %d turns per path\n", mib,
              pings, kPingBytes, kRuns);
  std::vector<Figures> figures = {
      {"direct", 0, {}, 0}, {"tunnel", 0, {}, 0}, {"socat", 0, {}, 0}, {"socat-256k", 0, {}, 0}};
  uint16_t ports[] = {target.port(), static_cast<uint16_t>(mapped), socat_port, socat_big_port};
  pid_t peers[] = {0, 0, socat, socat_big};
  // The paths take turns, so a burst of load on the machine does not fall on one of them only;
  // each keeps its best run.
  for (int run = 0; run < kRuns; ++run) {
    for (size_t i = 0; i < figures.size(); ++i) {
      if (peers[i] < 0 || !selected(figures[i].name)) continue;
      double mbps = throughput_once(ports[i], bytes);
      if (mbps > figures[i].mbps) {
        figures[i].mbps = mbps;
        figures[i].cpu_per_gib = last_cpu_seconds / (static_cast<double>(bytes) / (1 << 30));
      }
      Latency l = round_trips(ports[i], pings);
      if (run == 0 || (l.median_us > 0 && l.median_us < figures[i].latency.median_us)) figures[i].latency = l;
    }
  }
  std::printf("%-10s %10s %14s %22s %10s\n", "path", "MB/s", "CPU s/GiB (*)", "round trip median us", "p99 us");
  for (const auto& f : figures) {
    if (f.mbps == 0) {
      std::printf("%-10s %10s\n", f.name, "n/a");
      continue;
    }
    std::printf("%-10s %10.0f %14.2f %22.1f %10.1f\n", f.name, f.mbps, f.cpu_per_gib, f.latency.median_us,
                f.latency.p99_us);
  }
  std::printf("(*) CPU time of this process per GiB moved: sender, receiver and every relay hop of the tunnel;\n"
              "    socat's own CPU time is not counted.\n");
  print_ratio("throughput tunnel/direct", figures[1].mbps, figures[0].mbps, "target >= 0.5");
  print_ratio("throughput tunnel/socat", figures[1].mbps, figures[2].mbps, "target >= 1.0");
  print_ratio("throughput tunnel/socat-256k", figures[1].mbps, figures[3].mbps, "same buffer size");
  print_ratio("round trip tunnel/direct", figures[1].latency.median_us, figures[0].latency.median_us, "lower is better");
  print_ratio("round trip tunnel/socat", figures[1].latency.median_us, figures[2].latency.median_us, "lower is better");

  for (pid_t peer : {socat, socat_big}) {
    if (peer > 0) {
      ::kill(peer, SIGTERM);
      ::waitpid(peer, nullptr, 0);
    }
  }
  t2u_exit();
  agent.stop();
  service.stop();
  target.stop();
  return 0;
}
