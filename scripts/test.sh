#!/usr/bin/env bash
# The whole test suite: set-up, the format check (scripts/format.sh --check: clang-format and
# cargo fmt, first, so that a stray format fails fast), then the plain build, the AddressSanitizer +
# UndefinedBehaviorSanitizer build and the ThreadSanitizer build, each built and tested: the C++
# tests, then (plain and address builds) the Python module's tests under every interpreter the
# module is built for; with the plain build also `pip install .` (tests/python/test_wheel.py:
# a wheel built for each interpreter, installed into fresh virtual environments). Last, the fuzz
# targets, built into a fourth tree, each run for a short while.
set -euo pipefail
. "$(dirname "$0")/env.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh

echo "== format"
scripts/format.sh --check

for variant in plain address thread; do
  dir=build
  sanitize=
  [ "$variant" = plain ] || { dir=build-$variant; sanitize=$variant; }
  echo "== $variant build"
  scripts/build.sh "$dir" "$sanitize"
  echo "== $variant tests"
  ctest --test-dir "$dir" --output-on-failure -j2
  case $variant in
    plain) DDB_WHEEL_TEST=1 scripts/pytest.sh "$dir" ;;
    address) scripts/pytest.sh "$dir" "$sanitize" ;;
  esac
done

echo "== fuzz (a short run of each target)"
scripts/fuzz.sh 20
