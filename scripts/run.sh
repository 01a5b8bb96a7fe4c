#!/usr/bin/env bash
# The module's main job: set-up, build, then the demonstration program.
set -euo pipefail
. "$(dirname "$0")/env.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh build
build/tools/envelope_demo
