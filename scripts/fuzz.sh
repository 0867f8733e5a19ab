#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   FUZZ_SECONDS    seconds per target (default 60)
#   FUZZ_BUILD_DIR  build folder (default build-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
targets=(netsdk_reply_fuzz sim_device_request_fuzz cloud_reply_fuzz t2u_line_fuzz configsdk_parse_fuzz)
# A target's starting corpus: a folder of seeds kept in the tree, or written by proto_fuzz_seeds.
seed_folder() {
  case "$1" in
    cloud_reply_fuzz) echo brixa/cloud/reply_fuzz_seeds ;;
    t2u_line_fuzz) echo t2u/wire/line_fuzz_seeds ;;
    *) echo "" ;;
  esac
}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DKAVREL_FUZZ=ON -DKAVREL_WERROR=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" proto_fuzz_seeds
for target in "${targets[@]}"; do
  corpus="$build/fuzz-corpus/$target"
  mkdir -p "$corpus"
  seeds=$(seed_folder "$target")
  if [ -n "$seeds" ]; then
    cp "$seeds"/* "$corpus"/
  else
    "$build/bin/proto_fuzz_seeds" "$target" "$corpus"
  fi
  echo "== fuzzing $target for ${seconds}s"
  (cd "$build" && "bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    "fuzz-corpus/$target")
done
