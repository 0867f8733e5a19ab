// kavrel-sim: the simulated outside world as stand-alone servers on 127.0.0.1.
#include <cstdio>
#include <cstring>

namespace sim::cloud { int run_cli(int argc, char** argv); }
namespace sim::tunnel { int run_cli(int argc, char** argv); }
namespace sim::device { int run_cli(int argc, char** argv); }

namespace {

void usage() {
  std::fprintf(stderr,
               "usage: kavrel-sim <simulator> [options]\n"
               "  cloud   the cloud account service\n"
               "  tunnel  the tunnel service\n"
               "  device  recorders and cameras\n"
               "Each simulator prints its own options with --help.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    usage();
    return 2;
  }
  // The simulator sees its own name as argv[0].
  if (std::strcmp(argv[1], "cloud") == 0) return sim::cloud::run_cli(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "tunnel") == 0) return sim::tunnel::run_cli(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "device") == 0) return sim::device::run_cli(argc - 1, argv + 1);
  usage();
  return 2;
}
