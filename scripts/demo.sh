#!/usr/bin/env bash
# Installs the packages the project needs, builds, and starts the demo host with its simulated
# world. Until the page host exists it starts the simulators that are built.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j"$(nproc)"
if [ -x build/bin/kavrel-host ]; then
  exec build/bin/kavrel-host --demo
fi
echo "The page host is not built yet. The simulators run stand-alone:"
build/bin/kavrel-sim || true
