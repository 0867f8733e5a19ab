// The command-line entry of the tunnel simulator in kavrel-sim.
#include <cstdio>

namespace sim::tunnel {

int run_cli(int, char**) {
  std::fprintf(stderr, "kavrel-sim tunnel: this simulator is not built yet\n");
  return 2;
}

}  // namespace sim::tunnel
