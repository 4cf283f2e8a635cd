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

# What the library, trislip-custom and the Python module build on, for
# Debian's /usr/bin/python3 (the interpreter the module is made for).
install_library_packages() {
  install_missing libcli11-dev:/usr/include/CLI/CLI.hpp nlohmann-json3-dev:/usr/include/nlohmann/json.hpp \
    python3:/usr/bin/python3 python3-dev:/usr/bin/python3-config pybind11-dev:/usr/include/pybind11/pybind11.h \
    python3-pybind11:/usr/lib/python3/dist-packages/pybind11 \
    python3-numpy:/usr/lib/python3/dist-packages/numpy
}

# configure BUILD_DIR [cmake options...]
configure() {
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
}

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)
