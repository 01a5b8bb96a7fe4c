# Sourced by the other scripts: puts the toolchains the machine image carries (cargo, pyenv's
# interpreters) on PATH for shells that did not read a login profile, such as CI's.
for dir in "$HOME/.pyenv/bin" "$HOME/.pyenv/shims" "$HOME/.cargo/bin"; do
  if [ -d "$dir" ]; then
    case ":$PATH:" in
      *":$dir:"*) ;;
      *) PATH="$dir:$PATH" ;;
    esac
  fi
done
export PATH
