#!/usr/bin/env bash
# pytest.sh DIR [SANITIZER]: runs tests/python against the modules built in DIR, once for every
# interpreter DIR was built for (DIR/python-modules.txt). For the address build the sanitizer
# runtimes are preloaded into the interpreter, which is not built with them. DDB_WHEEL_TEST=1 in
# the environment adds the test of pip install . (tests/python/test_wheel.py), which builds a wheel.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$(cd "$1" && pwd)
sanitize=${2:-}

env_vars=(DDB_BUILD_DIR="$dir")
if [ "$sanitize" = address ]; then
  preload="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libubsan.so)"
  # The interpreter's own allocations at exit are not the module's leaks; the system allocator
  # lets the sanitizer see every object's memory.
  env_vars+=(LD_PRELOAD="$preload" ASAN_OPTIONS=detect_leaks=0 PYTHONMALLOC=malloc)
elif [ -n "$sanitize" ]; then
  echo "pytest.sh: no Python test run for the $sanitize build" >&2
  exit 0
fi

status=0
while IFS='=' read -r python _; do
  [ -n "$python" ] || continue
  echo "== pytest: $("$python" -c 'import sys; print(sys.version.split()[0])') ($python)"
  rc=0
  # Each run in an IPC sandbox of its own, removed once the interpreter has exited.
  "$python" "$root/tools/ipc_sandbox.py" \
    env "${env_vars[@]}" "$python" -m pytest -q -p no:cacheprovider "$root/tests/python" || rc=$?
  # 5: no tests were collected, which is no failure.
  if [ "$rc" -ne 0 ] && [ "$rc" -ne 5 ]; then status=$rc; fi
done <"$dir/python-modules.txt"
exit "$status"
