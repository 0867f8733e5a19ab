#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   FUZZ_SECONDS    seconds per target (default 60)
#   FUZZ_BUILD_DIR  build folder (default build-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
targets=(netsdk_reply_fuzz sim_device_request_fuzz configsdk_parse_fuzz)
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DKAVREL_FUZZ=ON -DKAVREL_WERROR=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" proto_fuzz_seeds
for target in "${targets[@]}"; do
  corpus="$build/fuzz-corpus/$target"
  mkdir -p "$corpus"
  "$build/bin/proto_fuzz_seeds" "$target" "$corpus"
  echo "== fuzzing $target for ${seconds}s"
  (cd "$build" && "bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    "fuzz-corpus/$target")
done
