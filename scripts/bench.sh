#!/usr/bin/env bash
# The benchmarks: set-up (with what the benchmarks need), an optimised build with the benchmarks
# into build-bench/, then every benchmark, printed as one table of side-by-side ratios.
set -euo pipefail
. "$(dirname "$0")/env.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh --bench
cmake -S "$root" -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDDB_BENCH=ON \
  -DDDB_CARGO_TARGET_DIR="$root/ipc/target" >/dev/null
cmake --build build-bench
python3 bench/report.py build-bench
