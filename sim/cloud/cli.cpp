// The command-line entry of the cloud simulator in kavrel-sim.
#include <cstdio>

namespace sim::cloud {

int run_cli(int, char**) {
  std::fprintf(stderr, "kavrel-sim cloud: this simulator is not built yet\n");
  return 2;
}

}  // namespace sim::cloud
