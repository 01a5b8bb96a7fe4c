#!/usr/bin/env bash
# The module's main job: set-up, build, then a short recording made through the Python module
# (tools/recording_demo.py): its start, joint samples, JSON samples, two cameras' frames for a few
# seconds and its stop reach the development daemon, which prints each envelope it receives; then
# the chunk files the daemon was told about are listed.
set -euo pipefail
. "$(dirname "$0")/env.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh build

python=$(command -v python3)
package_root=$(sed -n "s|^$python=||p" build/python-modules.txt)

out=$(mktemp)
recordings=$(mktemp -d)
build/tools/dev_daemon --announce-ready --version-text demo --recording-id rec-demo-1 >"$out" &
daemon=$!
trap 'kill -TERM "$daemon" 2>/dev/null || true; wait "$daemon" 2>/dev/null || true; rm -rf "$out" "$recordings"' EXIT
for _ in $(seq 100); do
  grep -q '"ready":true' "$out" && break
  sleep 0.1
done
QUILLSPAN_DAEMON_RECORDINGS_ROOT="$recordings" PYTHONPATH="$package_root" "$python" \
  tools/recording_demo.py
sleep 0.2
echo "dev_daemon received (joint samples and heartbeats summarised):"
grep -v '"ready":true' "$out" | grep -v '"variant":"BatchedData"' | grep -v '"variant":"VideoHeartbeat"' |
  cut -c1-300
echo "... $(grep -c '"variant":"BatchedData"' "$out") joint samples," \
  "$(grep -c '"variant":"VideoHeartbeat"' "$out") video heartbeats"
echo "chunk files announced to the daemon:"
"$python" - "$out" "$recordings" <<'PY'
import json, os, sys
for line in open(sys.argv[1]):
    e = json.loads(line)
    if e.get("variant") != "VideoChunkReady":
        continue
    path = os.path.join(sys.argv[2], ".rgb_spool", e["robot_id"], str(e["robot_instance"]),
                        e["data_type"], e["name"],
                        f"chunk_{e['chunk_start_ns']}_{e['writer_thread_id']}.nut")
    size = os.path.getsize(path) if os.path.exists(path) else "missing"
    print(f"  {path}: {e['frame_count']} frames, {e['bytes_written']} bytes announced, "
          f"{size} on disk")
PY
