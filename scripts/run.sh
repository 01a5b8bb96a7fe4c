#!/usr/bin/env bash
# The module's main job: set-up, build, then a short recording session through the module,
# received by the development daemon, with a summary of what arrived (tools/main_job.py).
# Extra arguments go to the main job, e.g. --seconds 10.
set -euo pipefail
. "$(dirname "$0")/env.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh build
python3 tools/main_job.py build "$@"
