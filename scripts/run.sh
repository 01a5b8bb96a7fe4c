#!/usr/bin/env bash
# The module's main job: set-up, build, then a short recording's commands published through the
# module's command link to the development daemon, which prints each envelope it receives.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh build

out=$(mktemp)
build/tools/dev_daemon --announce-ready >"$out" &
daemon=$!
trap 'kill -TERM "$daemon" 2>/dev/null || true; wait "$daemon" 2>/dev/null || true; rm -f "$out"' EXIT
for _ in $(seq 100); do
  grep -q '"ready":true' "$out" && break
  sleep 0.1
done
build/tools/publish_demo
sleep 0.2
echo "dev_daemon received:"
grep -v '"ready":true' "$out"
