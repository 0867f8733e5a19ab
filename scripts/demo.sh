#!/usr/bin/env bash
# Installs the packages the project needs, builds, and starts the page host with its simulated
# world (cloud account, tunnel service, devices) in one process. It prints the one address to
# open in a browser on this machine; Ctrl-C stops everything.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j"$(nproc)"
if [ -x build/bin/kavrel-host ]; then
  exec build/bin/kavrel-host --demo "$@"
fi
echo "The page host did not build. The simulators run stand-alone:"
build/bin/kavrel-sim || true
