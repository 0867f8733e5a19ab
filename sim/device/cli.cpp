// The command-line entry of the device simulator in kavrel-sim:
//   kavrel-sim device --fixture <file> [--tunnel [HOST:]PORT] [--port-key TEXT]
//                     [--alarm KIND:CHANNEL:STATE@MS ...] [--alarm-loop MS] [--scene-motion]
//                     [--discovery-port PORT]
// runs every online device of the fixture on 127.0.0.1 until SIGINT or SIGTERM; with --tunnel
// each device registers with that tunnel service under its identifier.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/device/device.h"
#include "sim/device/fixture_devices.h"

namespace sim::device {
namespace {

void usage(FILE* out) {
  std::fprintf(out,
               "usage: kavrel-sim device --fixture <file> [--tunnel [HOST:]PORT] [--port-key TEXT]\n"
               "                         [--alarm K:C:S@MS ...] [--alarm-loop MS] [--scene-motion]\n"
               "                         [--discovery-port PORT]\n"
               "  --fixture FILE     the account fixture; every online device in it is run\n"
               "  --tunnel PORT      register every device with the tunnel service at 127.0.0.1:PORT\n"
               "                     (HOST:PORT for another loopback address), so clients reach it by\n"
               "                     its identifier and its \"dev_port\"\n"
               "  --port-key TEXT    the port key the devices register (default vakP60372)\n"
               "  --alarm K:C:S@MS   every device sets alarm K (input, motion, video_loss, masking, audio,\n"
               "                     disk_full, disk_error or 0x2101-0x2107) of channel C to state S (0 or\n"
               "                     1) MS milliseconds after its start; repeatable, adds to the fixture's\n"
               "  --alarm-loop MS    start the alarm script again every MS milliseconds\n"
               "  --scene-motion     motion alarms while a scene's car crosses its detection zone\n"
               "  --discovery-port P answer the LAN search on UDP port P of 127.255.255.255 (0: not at\n"
               "                     all; default the fixture's, 37810)\n"
               "Prints one line per device with the port it listens on, and runs until interrupted.\n");
}

bool parse_tunnel(const std::string& text, TunnelLink& link) {
  std::string port = text;
  size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    link.service_host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  char* end = nullptr;
  long value = std::strtol(port.c_str(), &end, 10);
  if (port.empty() || *end != 0 || value <= 0 || value > 65535 || link.service_host.empty()) return false;
  link.service_port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

int run_cli(int argc, char** argv) {
  std::string fixture;
  TunnelLink tunnel;
  std::vector<AlarmChange> alarm_changes;
  long alarm_loop_ms = -1;
  bool scene_motion = false;
  long discovery_port = -1;
  auto number_arg = [](const char* text, long high, long& out) {
    char* end = nullptr;
    out = std::strtol(text, &end, 10);
    return *text != 0 && *end == 0 && out >= 0 && out <= high;
  };
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--fixture" && i + 1 < argc) {
      fixture = argv[++i];
    } else if (arg == "--tunnel" && i + 1 < argc) {
      if (!parse_tunnel(argv[++i], tunnel)) {
        std::fprintf(stderr, "kavrel-sim device: bad --tunnel %s\n", argv[i]);
        return 2;
      }
    } else if (arg == "--port-key" && i + 1 < argc) {
      tunnel.port_key = argv[++i];
    } else if (arg == "--alarm" && i + 1 < argc) {
      AlarmChange change;
      if (!parse_alarm_change(argv[++i], change)) {
        std::fprintf(stderr, "kavrel-sim device: bad --alarm %s (KIND:CHANNEL:STATE@MS)\n", argv[i]);
        return 2;
      }
      alarm_changes.push_back(change);
    } else if (arg == "--alarm-loop" && i + 1 < argc) {
      if (!number_arg(argv[++i], 24L * 3600 * 1000, alarm_loop_ms)) {
        std::fprintf(stderr, "kavrel-sim device: bad --alarm-loop %s\n", argv[i]);
        return 2;
      }
    } else if (arg == "--scene-motion") {
      scene_motion = true;
    } else if (arg == "--discovery-port" && i + 1 < argc) {
      if (!number_arg(argv[++i], 65535, discovery_port)) {
        std::fprintf(stderr, "kavrel-sim device: bad --discovery-port %s\n", argv[i]);
        return 2;
      }
    } else if (arg == "--help") {
      usage(stdout);
      return 0;
    } else {
      usage(stderr);
      return 2;
    }
  }
  if (fixture.empty()) {
    usage(stderr);
    return 2;
  }
  std::vector<FixtureDevice> entries;
  std::string error;
  if (!load_fixture_devices(fixture, entries, error)) {
    std::fprintf(stderr, "kavrel-sim device: %s\n", error.c_str());
    return 1;
  }

  // Signals are taken by sigwait below, so block them before any thread starts.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  std::vector<std::unique_ptr<Device>> devices;
  for (auto& entry : entries) {
    if (!entry.online) continue;
    entry.settings.tunnel = tunnel;
    AlarmSettings& alarms = entry.settings.alarms;
    alarms.script.insert(alarms.script.end(), alarm_changes.begin(), alarm_changes.end());
    if (alarm_loop_ms >= 0) alarms.loop_ms = static_cast<uint32_t>(alarm_loop_ms);
    alarms.scene_motion = alarms.scene_motion || scene_motion;
    if (discovery_port >= 0) entry.settings.discovery_port = static_cast<uint16_t>(discovery_port);
    auto device = std::make_unique<Device>(entry.settings);
    if (!device->start()) {
      std::fprintf(stderr, "kavrel-sim device: %s cannot listen\n", entry.settings.dev_id.c_str());
      return 1;
    }
    if (tunnel.service_port != 0) {
      std::printf("device %s listening on 127.0.0.1:%u, offered through the tunnel as port %u\n",
                  device->dev_id().c_str(), device->port(), device->tunnel_port());
    } else {
      std::printf("device %s listening on 127.0.0.1:%u\n", device->dev_id().c_str(), device->port());
    }
    devices.push_back(std::move(device));
  }
  std::fflush(stdout);
  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  for (auto& device : devices) device->stop();
  return 0;
}

}  // namespace sim::device
