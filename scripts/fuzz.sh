#!/usr/bin/env bash
# fuzz.sh [SECONDS]: builds the fuzz targets with clang and runs each for SECONDS (default 20),
# starting from its seed corpus in fuzz/corpus/. New inputs go to a scratch copy, so the
# repository's corpus stays as committed; a crash leaves its input in build-fuzz/crashes/.
set -euo pipefail
. "$(dirname "$0")/env.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
dir=$root/build-fuzz
CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDDB_FUZZ=ON >/dev/null
cmake --build "$dir"
mkdir -p "$dir/crashes"
for corpus in "$root"/fuzz/corpus/*/; do
  target=$(basename "$corpus")
  scratch=$dir/corpus/$target
  rm -rf "$scratch" && mkdir -p "$scratch" && cp "$corpus"* "$scratch"/
  echo "== fuzz $target for ${seconds}s"
  # Inputs stay small, but a profile's may be long enough that a reader whose time grows faster
  # than its input's length runs into the time-out of one input.
  max_len=4096
  [ "$target" = profile_yaml_fuzz ] && max_len=262144
  "$dir/fuzz/$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
    -print_final_stats=0 -artifact_prefix="$dir/crashes/$target-" "$scratch" 2>&1 | tail -n 2
  # libFuzzer exits non-zero on a crash; pipefail carries it out of the pipeline.
done
