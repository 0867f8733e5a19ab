// kavrel-sim tunnel: the tunnel service as a stand-alone server, optionally with device agents,
// driven by commands on standard input.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/tunnel/agent/device_agent.h"
#include "sim/tunnel/echo_server.h"
#include "sim/tunnel/tunnel_service.h"
#include "t2u/wire/protocol.h"

namespace sim::tunnel {
namespace {

constexpr const char* kDefaultPortKey = "vakP60372";

void usage(FILE* out) {
  std::fprintf(out,
               "usage: kavrel-sim tunnel [options]\n"
               "  --port N          listen on 127.0.0.1:N (default: a free port, printed at start)\n"
               "  --key TEXT        key that clients must present (default: any key)\n"
               "  --port-key TEXT   port key the agents below register (default %s)\n"
               "  --agent ID=PORT   run a device agent for ID in front of 127.0.0.1:PORT\n"
               "  --echo-agent ID   run an echo server with a device agent for ID in front of it\n"
               "Commands on standard input, one per line:\n"
               "  offline ID | online ID | cut ID | refuse ID on|off | reject-key ID on|off\n"
               "  delay ID MS | clients accept|refuse | client-delay MS | status ID | quit\n",
               kDefaultPortKey);
}

bool parse_port(const char* text, uint16_t* port) {
  auto value = t2u::wire::parse_unsigned(text, 65535);
  if (!value) return false;
  *port = static_cast<uint16_t>(*value);
  return true;
}

// One command line; false on "quit".
bool run_command(TunnelService& service, const std::string& line) {
  auto w = t2u::wire::split_words(line);
  if (w.empty()) return true;
  auto arg = [&](size_t i) { return i < w.size() ? std::string(w[i]) : std::string(); };
  auto on = [&](size_t i) { return arg(i) == "on"; };
  if (w[0] == "quit") return false;
  if (w[0] == "offline" && w.size() == 2) {
    service.set_device_online(arg(1), false);
  } else if (w[0] == "online" && w.size() == 2) {
    service.set_device_online(arg(1), true);
  } else if (w[0] == "cut" && w.size() == 2) {
    service.cut_tunnels(arg(1));
  } else if (w[0] == "refuse" && w.size() == 3) {
    service.set_refuse(arg(1), on(2));
  } else if (w[0] == "reject-key" && w.size() == 3) {
    service.set_reject_key(arg(1), on(2));
  } else if (w[0] == "delay" && w.size() == 3 && t2u::wire::parse_unsigned(w[2], 3600000)) {
    service.set_delay(arg(1), static_cast<uint32_t>(*t2u::wire::parse_unsigned(w[2], 3600000)));
  } else if (w[0] == "clients" && w.size() == 2) {
    service.set_accept_clients(arg(1) == "accept");
  } else if (w[0] == "client-delay" && w.size() == 2 && t2u::wire::parse_unsigned(w[1], 3600000)) {
    service.set_client_delay(static_cast<uint32_t>(*t2u::wire::parse_unsigned(w[1], 3600000)));
  } else if (w[0] == "status" && w.size() == 2) {
    std::printf("%s: %s, %zu streams; %zu clients\n", arg(1).c_str(),
                service.device_registered(arg(1)) ? "registered" : "not registered", service.stream_count(arg(1)),
                service.client_count());
  } else {
    std::printf("unknown command: %s\n", line.c_str());
    return true;
  }
  std::printf("ok\n");
  std::fflush(stdout);
  return true;
}

}  // namespace

int run_cli(int argc, char** argv) {
  ServiceOptions options;
  std::string port_key = kDefaultPortKey;
  std::vector<std::pair<std::string, uint16_t>> agents;  // id, target port (0: an echo server)
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool has_value = i + 1 < argc;
    if (a == "--help" || a == "-h") {
      usage(stdout);
      return 0;
    } else if (a == "--port" && has_value && parse_port(argv[i + 1], &options.port)) {
      ++i;
    } else if (a == "--key" && has_value) {
      options.client_key = argv[++i];
    } else if (a == "--port-key" && has_value) {
      port_key = argv[++i];
    } else if (a == "--agent" && has_value) {
      std::string agent_arg = argv[++i];
      size_t eq = agent_arg.rfind('=');
      uint16_t port = 0;
      if (eq == std::string::npos || eq == 0 || !parse_port(agent_arg.c_str() + eq + 1, &port) || port == 0) {
        std::fprintf(stderr, "kavrel-sim tunnel: --agent needs ID=PORT\n");
        return 2;
      }
      agents.emplace_back(agent_arg.substr(0, eq), port);
    } else if (a == "--echo-agent" && has_value) {
      agents.emplace_back(argv[++i], 0);
    } else {
      usage(stderr);
      return 2;
    }
  }

  // SIGINT and SIGTERM end the server through a signalfd, so every thread is stopped and joined.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  int signal_fd = signalfd(-1, &signals, SFD_CLOEXEC);

  TunnelService service(options);
  if (!service.start()) {
    std::fprintf(stderr, "kavrel-sim tunnel: cannot listen on 127.0.0.1:%u\n", options.port);
    return 1;
  }
  std::vector<std::unique_ptr<EchoServer>> echoes;
  std::vector<std::unique_ptr<DeviceAgent>> running;
  for (auto& [id, port] : agents) {
    AgentOptions agent;
    agent.service_port = service.port();
    agent.device_id = id;
    agent.port_key = port_key;
    agent.default_port = port;
    if (port == 0) {
      echoes.push_back(std::make_unique<EchoServer>());
      if (!echoes.back()->start()) return 1;
      agent.default_port = echoes.back()->port();
    }
    running.push_back(std::make_unique<DeviceAgent>(agent));
    running.back()->start();
    std::printf("agent %s -> 127.0.0.1:%u\n", id.c_str(), agent.default_port);
  }
  for (auto& agent : running) agent->wait_registered(2000);  // so the first commands find them
  std::printf("tunnel service on 127.0.0.1:%u\n", service.port());
  std::fflush(stdout);

  std::string pending;
  bool stdin_open = true;
  for (;;) {
    pollfd p[2] = {{signal_fd, POLLIN, 0}, {stdin_open ? STDIN_FILENO : -1, POLLIN, 0}};
    if (::poll(p, 2, -1) < 0) continue;
    if (p[0].revents & POLLIN) break;
    if (p[1].revents & (POLLIN | POLLHUP)) {
      char chunk[1024];
      ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
      if (n <= 0) {
        stdin_open = false;  // keep serving until a signal
        continue;
      }
      pending.append(chunk, static_cast<size_t>(n));
      size_t newline;
      bool quit = false;
      while (!quit && (newline = pending.find('\n')) != std::string::npos) {
        quit = !run_command(service, pending.substr(0, newline));
        pending.erase(0, newline + 1);
      }
      if (quit) break;
    }
  }
  for (auto& agent : running) agent->stop();
  for (auto& echo : echoes) echo->stop();
  service.stop();
  if (signal_fd >= 0) ::close(signal_fd);
  return 0;
}

}  // namespace sim::tunnel
