#!/usr/bin/env bash
# Prints the interpreters the module is built and tested for, one a line: python3 and, when
# pyenv has it, CPython 3.10.
set -euo pipefail
. "$(dirname "$0")/env.sh"
command -v python3
if command -v pyenv >/dev/null 2>&1 && prefix=$(pyenv prefix 3.10.13 2>/dev/null); then
  echo "$prefix/bin/python3.10"
elif [ -x "$HOME/.pyenv/versions/3.10.13/bin/python3.10" ]; then
  echo "$HOME/.pyenv/versions/3.10.13/bin/python3.10"
fi
