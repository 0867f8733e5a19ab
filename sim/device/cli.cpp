// The command-line entry of the device simulator in kavrel-sim:
//   kavrel-sim device --fixture <file>
// runs every online device of the fixture on 127.0.0.1 until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/device/device.h"
#include "sim/device/fixture_devices.h"

namespace sim::device {
namespace {

void usage() {
  std::fprintf(stderr,
               "usage: kavrel-sim device --fixture <file>\n"
               "  Runs every online device of the fixture on 127.0.0.1 until interrupted and\n"
               "  prints one line per device: its identifier and the port it listens on.\n");
}

}  // namespace

int run_cli(int argc, char** argv) {
  std::string fixture;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--fixture") == 0 && i + 1 < argc) {
      fixture = argv[++i];
    } else if (std::strcmp(argv[i], "--help") == 0) {
      usage();
      return 0;
    } else {
      usage();
      return 2;
    }
  }
  if (fixture.empty()) {
    usage();
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
    auto device = std::make_unique<Device>(entry.settings);
    if (!device->start()) {
      std::fprintf(stderr, "kavrel-sim device: %s cannot listen\n", entry.settings.dev_id.c_str());
      return 1;
    }
    std::printf("device %s listening on 127.0.0.1:%u\n", device->dev_id().c_str(), device->port());
    devices.push_back(std::move(device));
  }
  std::fflush(stdout);
  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  for (auto& device : devices) device->stop();
  return 0;
}

}  // namespace sim::device
