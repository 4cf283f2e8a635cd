# Shared by the scripts: installs missing Debian/Ubuntu packages and
# configures the build tree. Source it; do not run it.

# install_missing PACKAGE:TEST ...  installs each PACKAGE whose TEST (a
# command name, or a path starting with /) is not there.
install_missing() {
  local want=() item pkg probe
  for item in "$@"; do
    pkg=${item%%:*}
    probe=${item#*:}
    if [[ $probe == /* ]]; then
      [[ -e $probe ]] || want+=("$pkg")
    else
      command -v "$probe" >/dev/null 2>&1 || want+=("$pkg")
    fi
  done
  ((${#want[@]})) || return 0
  local sudo=()
  if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null 2>&1 || { echo "need root or sudo to install: ${want[*]}" >&2; return 1; }
    sudo=(sudo)
  fi
  echo "installing: ${want[*]}" >&2
  "${sudo[@]}" apt-get update -qq </dev/null >&2
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${want[@]}" </dev/null >&2
}

install_build_tools() {
  install_missing cmake:cmake g++:g++ make:make
}

# configure BUILD_DIR [cmake options...]
configure() {
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
}

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)
