#!/usr/bin/env bash
# What users install: cmake --install to a fresh prefix, an outside project
# built against it with find_package and with pkg-config, and the Python
# module from the prefix. The library's doubles must be the program's, bit
# for bit. (scripts/check-package builds the Debian packages and installs
# them on a bare system.)
#   package_test.sh SOURCE-DIR BUILD-DIR
set -uo pipefail
src=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
source "$src/scripts/lib.sh"
require_packages pkgconf:pkg-config || exit 1
python=$(sed -n 's/^Python_EXECUTABLE:FILEPATH=//p' "$build/CMakeCache.txt")
python=${python:-/usr/bin/python3}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || fail "cmake --install: $(tail -3 "$work/install.log")"
"$build/trislip_bits" | grep -Ev '^(transform|angles)' >"$work/expected"
# The Debian packages' own files belong to the packages alone.
debian_files=$(find "$prefix" -name changelog.Debian.gz -o -path '*lintian*' -o -name copyright)
[[ -z $debian_files ]] || fail "Debian packaging files in a prefix install: $debian_files"

cmake -S "$src/tests/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" >"$work/consumer.log" 2>&1 &&
  cmake --build "$work/consumer" >>"$work/consumer.log" 2>&1 || fail "find_package consumer: $(tail -5 "$work/consumer.log")"
"$work/consumer/consumer" >"$work/by-cmake" 2>&1
cmp -s "$work/expected" "$work/by-cmake" || fail "find_package consumer: $(cat "$work/by-cmake") instead of $(cat "$work/expected")"

pc_dir=$(dirname "$(find "$prefix" -name trislip.pc | head -n 1)")
# shellcheck disable=SC2046
c++ -o "$work/by-pc" "$src/tests/consumer/consumer.cpp" $(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs trislip) \
  2>"$work/pc.log" || fail "pkg-config consumer: $(head -5 "$work/pc.log")"
[[ -x $work/by-pc ]] && { "$work/by-pc" | cmp -s "$work/expected" - || fail "pkg-config consumer differs"; }

# netCDF and PROJ (and the fifty libraries they bring) are opened by the
# runs that write NRF or project, never at every start.
if command -v ldd >/dev/null; then
  at_start=$(ldd "$prefix"/bin/trislip-custom "$prefix"/bin/trislip-fault "$(find "$prefix" -name 'trislip*.so')" 2>&1 |
    grep -Eo 'lib(netcdf|proj)\.so[^ ]*' | sort -u | tr '\n' ' ')
  [[ -z $at_start ]] || fail "the programs and the module load $at_start at start"
else
  echo "package: skipped the libraries loaded at start: no ldd here"
fi

site=$(find "$prefix" -name 'trislip*.so' -printf '%h\n' | head -n 1)
v=$(PYTHONPATH=$site "$python" -c "import trislip; s = trislip.synthesize(); print(s.velocity[100])" 2>&1)
[[ $v == 0.46708529447148395 ]] || fail "Python module from $site: $v"

if ((failures)); then
  exit 1
fi
echo "package: all checks passed"
