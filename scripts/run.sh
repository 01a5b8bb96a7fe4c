#!/usr/bin/env bash
# The module's main job: set-up, build, then a short recording made through the Python module
# (tools/recording_demo.py): its start, joint samples, a JSON sample and its stop reach the
# development daemon, which prints each envelope it receives.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh build

python=$(command -v python3)
package_root=$(sed -n "s|^$python=||p" build/python-modules.txt)

out=$(mktemp)
build/tools/dev_daemon --announce-ready --version-text demo --recording-id rec-demo-1 >"$out" &
daemon=$!
trap 'kill -TERM "$daemon" 2>/dev/null || true; wait "$daemon" 2>/dev/null || true; rm -f "$out"' EXIT
for _ in $(seq 100); do
  grep -q '"ready":true' "$out" && break
  sleep 0.1
done
PYTHONPATH="$package_root" "$python" tools/recording_demo.py
sleep 0.2
echo "dev_daemon received:"
grep -v '"ready":true' "$out"
