#!/usr/bin/env bash
# What users install: cmake --install to a fresh prefix, an outside project
# built against it with find_package and with pkg-config, the Python module
# from the prefix, and the Debian package unpacked into a scratch root. The
# library's doubles must be the program's, bit for bit.
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
require_packages pkgconf:pkg-config dpkg-dev:dpkg-shlibdeps || exit 1
python=$(sed -n 's/^Python_EXECUTABLE:FILEPATH=//p' "$build/CMakeCache.txt")
python=${python:-/usr/bin/python3}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || fail "cmake --install: $(tail -3 "$work/install.log")"
"$build/trislip_bits" | grep -v '^transform' >"$work/expected"

cmake -S "$src/tests/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" >"$work/consumer.log" 2>&1 &&
  cmake --build "$work/consumer" >>"$work/consumer.log" 2>&1 || fail "find_package consumer: $(tail -5 "$work/consumer.log")"
"$work/consumer/consumer" >"$work/by-cmake" 2>&1
cmp -s "$work/expected" "$work/by-cmake" || fail "find_package consumer: $(cat "$work/by-cmake") instead of $(cat "$work/expected")"

pc_dir=$(dirname "$(find "$prefix" -name trislip.pc | head -n 1)")
# shellcheck disable=SC2046
c++ -o "$work/by-pc" "$src/tests/consumer/consumer.cpp" $(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs trislip) \
  2>"$work/pc.log" || fail "pkg-config consumer: $(head -5 "$work/pc.log")"
[[ -x $work/by-pc ]] && { "$work/by-pc" | cmp -s "$work/expected" - || fail "pkg-config consumer differs"; }

site=$(find "$prefix" -name 'trislip*.so' -printf '%h\n' | head -n 1)
v=$(PYTHONPATH=$site "$python" -c "import trislip; s = trislip.synthesize(); print(s.velocity[100])" 2>&1)
[[ $v == 0.46708529447148395 ]] || fail "Python module from $site: $v"

# The Debian package, unpacked rather than installed, so the machine stays as it is.
(cd "$build" && cpack -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1) || fail "cpack: $(tail -5 "$work/cpack.log")"
deb=$(ls "$work"/deb/trislip_*_*.deb 2>/dev/null | head -n 1)
if [[ -z $deb ]]; then
  fail "no .deb made"
else
  dpkg-deb -c "$deb" | awk '{print $NF}' >"$work/contents"
  for f in ./usr/bin/trislip ./usr/bin/trislip-custom ./usr/include/trislip/trislip.hpp /libtrislip.a /cmake/trislip/trislipConfig.cmake \
    /cmake/trislip/trislipConfigVersion.cmake /pkgconfig/trislip.pc ./usr/lib/python3/dist-packages/trislip; do
    grep -q -F -- "$f" "$work/contents" || fail "the package lacks $f"
  done
  depends=$(dpkg-deb -f "$deb" Depends)
  [[ $depends == *python3-numpy* && $depends == *libstdc++6* ]] || fail "dependencies: $depends"
  dpkg-deb -x "$deb" "$work/root"
  mkdir "$work/run-deb" "$work/run-build"
  (cd "$work/run-deb" && "$work/root/usr/bin/trislip" </dev/null >console.txt) || fail "packaged trislip failed"
  (cd "$work/run-build" && "$build/trislip" </dev/null >console.txt)
  for f in console.txt Tri_Slip.csv Tri_Amp.csv; do
    cmp -s "$work/run-deb/$f" "$work/run-build/$f" || fail "packaged trislip writes another $f"
  done
  "$work/root/usr/bin/trislip-custom" --quiet --output-dir "$work/run-deb/custom" || fail "packaged trislip-custom failed"
  for f in Tri_Slip.csv Tri_Amp.csv; do
    cmp -s "$work/run-deb/custom/$f" "$work/run-build/$f" || fail "packaged trislip-custom writes another $f"
  done
  v=$(PYTHONPATH=$work/root/usr/lib/python3/dist-packages "$python" -c "import trislip; print(trislip.__version__)" 2>&1)
  [[ $v == 1.1.0 ]] || fail "packaged Python module: $v"
fi

if ((failures)); then
  exit 1
fi
echo "package: all checks passed"
