#!/usr/bin/env bash
# Installs what building and testing the module needs on a Debian 12 machine. Idempotent: a
# package already present is not asked for again, so a warm machine spends no time here.
# setup.sh --bench also installs what the benchmarks need (scripts/bench.sh).
set -euo pipefail
. "$(dirname "$0")/env.sh"
bench=false
[ "${1:-}" = --bench ] && bench=true

debian_packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev
  libyaml-dev zlib1g-dev
  libclang-dev clang libclang-rt-14-dev
  clang-format-14
  curl ca-certificates
  ffmpeg
  python3-dev python3-pip python3-venv
)
# The benchmarks' baselines (Google Benchmark, libpng) and the profilers.
if $bench; then debian_packages+=(libbenchmark-dev libpng-dev valgrind linux-perf); fi

missing=()
for pkg in "${debian_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi

# Rust, for the iceoryx2 binding crate (ipc/): cargo from rustup, since Debian's rustc is older
# than the 1.83 iceoryx2 needs, with rustfmt for scripts/format.sh. The crates themselves come
# from crates.io at the first build.
export PATH="$HOME/.cargo/bin:$PATH"
rust_ok() {
  command -v cargo >/dev/null 2>&1 || return 1
  local v
  v=$(rustc --version | awk '{print $2}')
  [ "$(printf '%s\n1.83.0\n' "$v" | sort -V | head -n1)" = 1.83.0 ]
}
if ! rust_ok; then
  echo "setup: installing Rust with rustup"
  curl --proto '=https' --tlsv1.2 -sSf https://sh.rustup.rs |
    sh -s -- -y --profile minimal --component rustfmt
fi
if ! cargo fmt --version >/dev/null 2>&1; then
  echo "setup: adding rustfmt with rustup"
  rustup component add rustfmt
fi

# The interpreters the tests use: the system's python3 and CPython 3.10 from pyenv.
python_packages=(pytest numpy)
for py in $("$(dirname "$0")/pythons.sh"); do
  if ! "$py" -c 'import pytest, numpy' 2>/dev/null; then
    echo "setup: pip install ${python_packages[*]} into $py"
    # An interpreter managed by Debian refuses plain pip installs; it gets them all the same.
    "$py" -m pip install -q --disable-pip-version-check "${python_packages[@]}" 2>/dev/null ||
      "$py" -m pip install -q --disable-pip-version-check --break-system-packages "${python_packages[@]}"
  fi
done

# The Python benchmarks run under python3: a photograph to encode (scikit-image's sample data)
# and the baseline PNG writer (Pillow).
if $bench && ! python3 -c 'import skimage, PIL' 2>/dev/null; then
  echo "setup: pip install scikit-image pillow into python3"
  python3 -m pip install -q --disable-pip-version-check scikit-image pillow 2>/dev/null ||
    python3 -m pip install -q --disable-pip-version-check --break-system-packages scikit-image pillow
fi
