// The command-line entry of the device simulator in kavrel-sim.
#include <cstdio>

namespace sim::device {

int run_cli(int, char**) {
  std::fprintf(stderr, "kavrel-sim device: this simulator is not built yet\n");
  return 2;
}

}  // namespace sim::device
