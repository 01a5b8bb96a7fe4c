#!/usr/bin/env bash
# Formatting of the repository's own code: every C/C++ source and header with clang-format 14
# against .clang-format, and the Rust crate in ipc/ with cargo fmt.
#   scripts/format.sh          rewrites the files that differ
#   scripts/format.sh --check  changes nothing; lists the files that differ and fails if any do
# The version is pinned because clang-format's output changes between releases: the verdict here
# must be the one CI gives. Debian 12's clang-format-14 is the one scripts/setup.sh installs;
# CLANG_FORMAT may name another binary of the same release (e.g. on macOS).
set -euo pipefail
. "$(dirname "$0")/env.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

check=false
case "${1:-}" in
  --check) check=true ;;
  "") ;;
  *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac

clang_format=${CLANG_FORMAT:-clang-format-14}
if ! version=$("$clang_format" --version 2>/dev/null); then
  echo "format: $clang_format not found (scripts/setup.sh installs it)" >&2
  exit 1
fi
if ! [[ $version =~ version\ 14\. ]]; then
  echo "format: need clang-format 14, $clang_format is: $version" >&2
  exit 1
fi

if ! (cd ipc && cargo fmt --version >/dev/null 2>&1); then
  echo "format: cargo fmt not found (scripts/setup.sh installs rustfmt)" >&2
  exit 1
fi

# Tracked files and new ones not yet added; build trees and ipc/target are ignored by git. *.inc
# files are left out: they are data tables generated from elsewhere, included into the middle of
# an initializer. Add generated or third-party code, should the tree ever carry more, here.
# Outside a git checkout (a copied tree) the same files are found by name.
list_sources() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard -- \
      '*.c' '*.cc' '*.cpp' '*.cxx' '*.h' '*.hh' '*.hpp' '*.hxx' '*.ipp' \
      ':!:build*/**' ':!:ipc/target/**'
  else
    find . \( -path './build*' -o -path ./ipc/target -o -path ./.git \) -prune -o -type f \
      \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.cxx' -o -name '*.h' \
      -o -name '*.hh' -o -name '*.hpp' -o -name '*.hxx' -o -name '*.ipp' \) -printf '%P\0'
  fi
}
sources=()
while IFS= read -r -d '' file; do
  [ -f "$file" ] && sources+=("$file")
done < <(list_sources | sort -zu)
if ((${#sources[@]} == 0)); then
  echo "format: found no C/C++ sources under $root" >&2
  exit 1
fi

status=0
if $check; then
  differ=()
  for file in "${sources[@]}"; do
    "$clang_format" --style=file "$file" | cmp -s - "$file" || differ+=("$file")
  done
  if ((${#differ[@]})); then
    echo "format: clang-format would change:" >&2
    printf '  %s\n' "${differ[@]}" >&2
    status=1
  fi
  if ! rust=$(cd ipc && cargo fmt --check --message-format short 2>&1); then
    echo "format: cargo fmt would change:" >&2
    printf '%s\n' "$rust" | sed "s|^$root/|  |" >&2
    status=1
  fi
  if ((status)); then echo "format: scripts/format.sh rewrites them" >&2; fi
else
  printf '%s\0' "${sources[@]}" | xargs -0 -r -n 50 "$clang_format" --style=file -i
  (cd ipc && cargo fmt)
fi
exit $status
