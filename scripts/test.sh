#!/usr/bin/env bash
# Installs the packages the project needs, builds everything and runs every test.
#   BUILD_DIR        build folder (default: build)
#   KAVREL_SANITIZE  empty, "address" (ASan+UBSan) or "thread" (TSan)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${BUILD_DIR:-build}
# ccache with paths taken relative to the checkout, so clones in other folders share its cache.
export CCACHE_BASEDIR="$PWD"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja -DKAVREL_SANITIZE="${KAVREL_SANITIZE:-}" "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 600
