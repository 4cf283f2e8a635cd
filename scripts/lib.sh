# Shared by the scripts: installs missing Debian/Ubuntu packages and
# configures the build tree. Source it; do not run it.
#
# Tests never install anything: scripts/test installs what every test needs
# before ctest starts and runs the tests with TRISLIP_NO_INSTALL=1, under
# which a script that finds a package missing stops at once and names it.

# missing PACKAGE:TEST ...  prints each PACKAGE whose TEST (a command name,
# or a path starting with /) is not there, one a line.
missing() {
  local item pkg probe
  for item in "$@"; do
    pkg=${item%%:*}
    probe=${item#*:}
    if [[ $probe == /* ]]; then
      [[ -e $probe ]] || echo "$pkg"
    else
      command -v "$probe" >/dev/null 2>&1 || echo "$pkg"
    fi
  done
}

# say_missing PACKAGE...  what a test says instead of installing.
say_missing() {
  echo "missing package(s): $* (scripts/test installs them; tests never install)" >&2
}

# as_root COMMAND...  runs COMMAND as root, through sudo when not root.
as_root() {
  if [[ $(id -u) -eq 0 ]]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    echo "need root or sudo for: $*" >&2
    return 1
  fi
}

# apt_install PACKAGE...  installs the packages in one apt-get call. The
# package manager's lock is waited for, not failed on: another install
# (a second script started by hand, the system's own updates) may hold it.
# Our own scripts queue on a lock of their own first, since apt-get update
# fails at once on a held lists lock.
apt_install() {
  (($#)) || return 0
  if [[ ${TRISLIP_NO_INSTALL:-} == 1 ]]; then
    say_missing "$@"
    return 1
  fi
  local wait=(-o DPkg::Lock::Timeout=1800) try
  echo "installing: $*" >&2
  (
    flock -w 3600 9 || { echo "timed out waiting for another trislip script's install" >&2; exit 1; }
    for try in 1 2 3 4 5 6; do
      as_root apt-get "${wait[@]}" update -qq </dev/null >&2 && break
      if ((try == 6)); then
        # Some list would not download (a mirror in the middle of a sync,
        # say): the install goes on with the lists there are, and fails
        # only if they do not have the packages.
        echo "apt-get update kept failing; installing from the package lists already here" >&2
        break
      fi
      echo "apt-get update failed (try $try); waiting for the package lists' lock" >&2
      sleep 10
    done
    as_root env DEBIAN_FRONTEND=noninteractive apt-get "${wait[@]}" install -y -qq --no-install-recommends \
      "$@" </dev/null >&2
  ) 9>>"${TMPDIR:-/tmp}/trislip-apt-$(id -u).lock"
}

# require_packages PACKAGE:TEST ...  fails, naming them, if any are missing:
# what a test calls instead of installing.
require_packages() {
  local want
  mapfile -t want < <(missing "$@")
  ((${#want[@]} == 0)) && return 0
  say_missing "${want[@]}"
  return 1
}

# install_missing PACKAGE:TEST ...  installs each PACKAGE whose TEST fails.
install_missing() {
  local want
  mapfile -t want < <(missing "$@")
  apt_install "${want[@]}"
}

build_tools=(cmake:cmake g++:g++ make:make)

# What the export library, trislip-custom and trislip-fault build on.
program_packages=(libcli11-dev:/usr/include/CLI/CLI.hpp nlohmann-json3-dev:/usr/include/nlohmann/json.hpp
  libmseed-dev:/usr/include/libmseed.h libfccp-dev:/usr/include/libfccp/csv.h
  libdragonbox-dev:/usr/include/dragonbox-1.1.3/dragonbox/dragonbox.h libproj-dev:/usr/include/proj.h
  libnetcdf-dev:/usr/include/netcdf.h)
# And the Python module, for Debian's /usr/bin/python3 (the interpreter
# the module is made for).
library_packages=("${program_packages[@]}"
  python3:/usr/bin/python3 python3-dev:/usr/bin/python3-config pybind11-dev:/usr/include/pybind11/pybind11.h
  python3-pybind11:/usr/lib/python3/dist-packages/pybind11
  python3-numpy:/usr/lib/python3/dist-packages/numpy)

# The compilers and runners of scripts/check-portability. Wine's 64-bit
# loader runs the x86_64 Windows build; its 32-bit half, from the i386
# archive, is added by that script only where 32-bit programs can run.
portability_packages=(clang:clang++ g++-aarch64-linux-gnu:aarch64-linux-gnu-g++ qemu-user:qemu-aarch64
  g++-mingw-w64-x86-64-posix:x86_64-w64-mingw32-g++-posix
  g++-mingw-w64-i686-posix:i686-w64-mingw32-g++-posix
  wine:wine wine64:/usr/lib/wine/wine64)

# The browser page: emscripten, and npm for the plotting library (the
# machine's own Node.js and npm where it has them), the header-only
# libraries the page's module compiles with; Chromium for its tests.
web_packages=(emscripten:em++ npm:npm nlohmann-json3-dev:/usr/include/nlohmann/json.hpp
  libfccp-dev:/usr/include/libfccp/csv.h libdragonbox-dev:/usr/include/dragonbox-1.1.3/dragonbox/dragonbox.h
  libcli11-dev:/usr/include/CLI/CLI.hpp)

# npm_ci: the page's npm packages, as web/package-lock.json pins them,
# into web/node_modules (again only when the lock file changed).
npm_ci() {
  local web=$root/web
  if [[ -f $web/node_modules/.package-lock.json && ! $web/package-lock.json -nt $web/node_modules/.package-lock.json ]]; then
    return 0
  fi
  if [[ ${TRISLIP_NO_INSTALL:-} == 1 ]]; then
    echo "missing: web/node_modules (scripts/test installs it; tests never install)" >&2
    return 1
  fi
  echo "installing: the npm packages of web/package-lock.json" >&2
  (cd "$web" && npm ci --no-audit --no-fund --loglevel=error </dev/null >&2)
}

# Everything a test of scripts/test uses beyond the build: GoogleTest,
# pytest, the package tools, gnuplot for the plot test, the miniSEED and
# SAC converters that read the exports back, the portability tools for
# the scripts test, and the browser page's tools with Chromium.
test_packages=(libgtest-dev:/usr/include/gtest/gtest.h python3-pytest:/usr/lib/python3/dist-packages/pytest
  pkgconf:pkg-config gnuplot-nox:gnuplot sac2mseed:sac2mseed mseed2sac:mseed2sac proj-bin:cs2cs netcdf-bin:ncdump
  "${portability_packages[@]}" "${web_packages[@]}" chromium:chromium)

install_build_tools() {
  install_missing "${build_tools[@]}"
}

install_library_packages() {
  install_missing "${library_packages[@]}"
}

# configure BUILD_DIR [cmake options...]: each script configures a folder
# of its own (build/program, build/all, build/bench, build/package) and
# names every optional part it needs, so that no script finds another's
# choices in the cache.
configure() {
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
}

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)
