// kavrel-host: creates the control from the registry on a user-interface thread, gives it a
// window and runs until interrupted. The web bridge that shows it in a page comes later.
//
//   kavrel-host [--register PATH-TO-kavrel.ocx] [--progid PROGID]
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "host/control_host.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;
void on_signal(int) { interrupted = 1; }

}  // namespace

int main(int argc, char** argv) {
  std::string progid = "KAVREL.kavrelCtrl.1";
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--register") == 0 && i + 1 < argc) {
      std::string error;
      auto module = host::ControlModule::load(argv[++i], &error);
      if (module == nullptr) {
        std::fprintf(stderr, "kavrel-host: %s\n", error.c_str());
        return 1;
      }
      com::HRESULT hr = module->register_server();
      std::printf("kavrel-host: registration of %s: 0x%08X\n", argv[i], static_cast<unsigned>(hr));
      if (com::failed(hr)) return 1;
    } else if (std::strcmp(argv[i], "--progid") == 0 && i + 1 < argc) {
      progid = argv[++i];
    } else {
      std::fprintf(stderr, "usage: kavrel-host [--register PATH-TO-kavrel.ocx] [--progid PROGID]\n");
      return 2;
    }
  }
  std::string error;
  auto control = host::ControlHost::create(progid, &error);
  if (control == nullptr) {
    std::fprintf(stderr, "kavrel-host: %s\n", error.c_str());
    return 1;
  }
  if (com::failed(control->create_window())) {
    std::fprintf(stderr, "kavrel-host: the control did not create its window\n");
    return 1;
  }
  com::Variant build;
  control->call("CliGetBuild", {}, &build);
  std::printf("kavrel-host: %s build %d is running; press Ctrl-C to stop\n", progid.c_str(), build.lval);
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  while (interrupted == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  control->call("CliUnInit", {});
  return 0;
}
