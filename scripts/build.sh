#!/usr/bin/env bash
# build.sh DIR [SANITIZER]: configures and builds one variant of the tree into DIR.
set -euo pipefail
. "$(dirname "$0")/env.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1
sanitize=${2:-}
# The development trees share one cargo target directory (ignored by git), so iceoryx2 is
# compiled once for all of them.
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDDB_SANITIZE="$sanitize" \
  -DDDB_CARGO_TARGET_DIR="$root/ipc/target" >/dev/null
cmake --build "$dir"
