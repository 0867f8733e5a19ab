#!/usr/bin/env bash
# Installs the packages the project needs, builds everything and runs every test.
#   BUILD_DIR        build folder (default: build)
#   KAVREL_SANITIZE  empty, "address" (ASan+UBSan) or "thread" (TSan)
#   KAVREL_WERROR    ON to treat warnings as errors (CI does)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${BUILD_DIR:-build}
# ccache with paths taken relative to the checkout, so clones in other folders share its cache.
# Debug builds would otherwise hash the build folder's absolute path into every entry.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja -DKAVREL_SANITIZE="${KAVREL_SANITIZE:-}" -DKAVREL_WERROR="${KAVREL_WERROR:-OFF}" "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
# The browser tests' npm packages (playwright-core), installed from the lock file only when
# node_modules is missing or the lock changed since the last install.
lock_hash=$(sha256sum package-lock.json | cut -d' ' -f1)
if [ ! -f node_modules/.kavrel-lock ] || [ "$(cat node_modules/.kavrel-lock)" != "$lock_hash" ]; then
  npm ci --no-audit --no-fund
  echo "$lock_hash" > node_modules/.kavrel-lock
fi
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 600
