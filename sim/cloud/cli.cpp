// The command-line entry of the cloud simulator in kavrel-sim:
//   kavrel-sim cloud --fixture <file> [--port <n>] [--db <file>]
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/cloud/cloud_service.h"
#include "sim/fixture/fixture.h"

namespace sim::cloud {
namespace {

void usage() {
  std::fprintf(stderr,
               "usage: kavrel-sim cloud --fixture <file> [--port <n>] [--db <file>]\n"
               "  --fixture <file>  seed the accounts, devices and cameras from this fixture\n"
               "                    (format: sim/fixture/README.md); replaces what the store holds\n"
               "  --port <n>        listen on 127.0.0.1:<n> (default: a free port, printed)\n"
               "  --db <file>       keep the store in this SQLite file (default: in memory);\n"
               "                    without --fixture an existing store file is served as it is\n"
               "Runs until interrupted (Ctrl-C).\n");
}

}  // namespace

int run_cli(int argc, char** argv) {
  std::string fixture_path;
  CloudService::Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "kavrel-sim cloud: %s needs a value\n", name);
        return nullptr;
      }
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      usage();
      return 0;
    } else if (arg == "--fixture") {
      const char* v = value("--fixture");
      if (v == nullptr) return 2;
      fixture_path = v;
    } else if (arg == "--db") {
      const char* v = value("--db");
      if (v == nullptr) return 2;
      options.database = v;
    } else if (arg == "--port") {
      const char* v = value("--port");
      if (v == nullptr) return 2;
      char* end = nullptr;
      long port = std::strtol(v, &end, 10);
      if (*v == 0 || *end != 0 || port < 0 || port > 65535) {
        std::fprintf(stderr, "kavrel-sim cloud: bad port %s\n", v);
        return 2;
      }
      options.port = static_cast<uint16_t>(port);
    } else {
      std::fprintf(stderr, "kavrel-sim cloud: unknown option %s\n", arg.c_str());
      usage();
      return 2;
    }
  }
  if (fixture_path.empty() && options.database == ":memory:") {
    std::fprintf(stderr, "kavrel-sim cloud: give --fixture (or --db with an existing store)\n");
    usage();
    return 2;
  }

  // Block the stop signals before the server thread starts, so only sigwait below sees them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  try {
    CloudService service(options);
    if (!fixture_path.empty()) {
      fixture::Fixture fixture;
      std::string error;
      if (!fixture::load_file(fixture_path, fixture, error) || !service.load_fixture(fixture, error)) {
        std::fprintf(stderr, "kavrel-sim cloud: %s\n", error.c_str());
        return 1;
      }
    }
    if (service.start() == 0) {
      std::fprintf(stderr, "kavrel-sim cloud: cannot listen on 127.0.0.1:%u\n", static_cast<unsigned>(options.port));
      return 1;
    }
    std::printf("cloud account service listening on %s\n", service.url().c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stop_signals, &received);
    service.stop();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kavrel-sim cloud: %s\n", e.what());
    return 1;
  }
  return 0;
}

}  // namespace sim::cloud
