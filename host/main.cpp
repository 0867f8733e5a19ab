// kavrel-host: the page host. Creates the control from the registry on a user-interface thread,
// serves the page on 127.0.0.1 and bridges it to the control; with --demo it also runs the
// simulated world in this process. Prints the one address to open, runs until SIGINT or
// SIGTERM, then runs the control's CliUnInit and stops everything.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "host/log.h"
#include "host/page_host.h"

namespace {

void usage(FILE* out) {
  std::fprintf(out,
               "usage: kavrel-host [options]\n"
               "  --demo            run the simulated cloud, tunnel service and devices in this process and\n"
               "                    point the page at them (a registry and cache of this run only)\n"
               "  --no-demo         the control only (the default)\n"
               "  --fixture PATH    the world of --demo (default: sim/fixture/demo.json)\n"
               "  --port N          listen on 127.0.0.1:N (default: a free port)\n"
               "  --web DIR         the page's files (default: the source tree's web/)\n"
               "  --register PATH   register this kavrel.ocx before starting\n"
               "  --progid PROGID   the class to create (default KAVREL.kavrelCtrl.1)\n"
               "  --verbose         log every script call (credentials masked)\n"
               "  --help            this text\n"
               "Prints the address to open in a browser on this machine; Ctrl-C stops.\n");
}

bool parse_port(const char* text, uint16_t* port) {
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (*text == 0 || *end != 0 || value < 0 || value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  host::PageHostOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool has_value = i + 1 < argc;
    if (arg == "--demo") {
      options.demo = true;
    } else if (arg == "--no-demo") {
      options.demo = false;
    } else if (arg == "--fixture" && has_value) {
      options.fixture_path = argv[++i];
    } else if (arg == "--port" && has_value) {
      if (!parse_port(argv[++i], &options.port)) {
        std::fprintf(stderr, "kavrel-host: bad port %s\n", argv[i]);
        return 2;
      }
    } else if (arg == "--web" && has_value) {
      options.web_dir = argv[++i];
    } else if (arg == "--register" && has_value) {
      options.module_path = argv[++i];
    } else if (arg == "--progid" && has_value) {
      options.progid = argv[++i];
    } else if (arg == "--verbose") {
      host::set_log_verbose(true);
    } else if (arg == "--help") {
      usage(stdout);
      return 0;
    } else {
      usage(stderr);
      return 2;
    }
  }

  // A folder of this run: saved files wait there for the page; with --demo also the registry and
  // the control's cache and configuration (layouts), so a demo never touches the user's own.
  std::string temp = (std::filesystem::temp_directory_path() / "kavrel-host-XXXXXX").string();
  if (::mkdtemp(temp.data()) == nullptr) {
    std::perror("kavrel-host: cannot make a folder for this run");
    return 1;
  }
  options.run_folder = temp;
  if (options.demo) {
    // Set while the process still has one thread.
    ::setenv("KAVREL_REGISTRY", (temp + "/registry").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (temp + "/cache").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (temp + "/config").c_str(), 1);
  }

  // The signals are taken by sigwait below; every thread started from here on has them blocked.
  // A shell starts background programs with SIGINT ignored, and an ignored signal never reaches
  // sigwait: take both back first.
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  int status = 0;
  {
    host::PageHost page_host(options);
    std::string error;
    if (!page_host.start(&error)) {
      host::log_line(error);
      status = 1;
    } else {
      std::printf("%s\n", page_host.address().c_str());
      std::fflush(stdout);
      int signal_number = 0;
      sigwait(&stop_signals, &signal_number);
      host::log_line("stopping");
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(temp, ignored);
  return status;
}
