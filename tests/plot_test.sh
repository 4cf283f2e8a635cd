#!/usr/bin/env bash
# The plot command on a real run, on a full-precision trislip-custom run,
# and on inputs that are not the program's.
#   plot_test.sh TRISLIP PLOT [TRISLIP-CUSTOM [TRISLIP-FAULT]]
set -euo pipefail
trislip=$1
plot=$2
custom=${3:-}
fault=${4:-}
source "$(dirname "$plot")/lib.sh"
require_packages gnuplot-nox:gnuplot || exit 1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# png_size FILE: "WIDTHxHEIGHT" from the PNG header, empty if not a PNG.
png_size() {
  [[ $(head -c 8 "$1" | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]] || return 0
  local b
  read -r -a b < <(od -An -tu1 -j16 -N8 "$1")
  echo "$(((b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3]))x$(((b[4] << 24) | (b[5] << 16) | (b[6] << 8) | b[7]))"
}

mkdir "$work/run"
(cd "$work/run" && "$trislip" </dev/null >/dev/null)
cp "$work/run/Tri_Slip.csv" "$work/run/Tri_Amp.csv" "$work"
"$plot" "$work/run" >/dev/null || fail "plot of a real run exited $?"
[[ $(png_size "$work/run/slip_functions.png") == 900x900 ]] || fail "slip_functions.png is not a 900x900 PNG"
[[ $(png_size "$work/run/fourier_amplitudes.png") == 900x650 ]] || fail "fourier_amplitudes.png is not a 900x650 PNG"
for f in slip_functions.png fourier_amplitudes.png; do
  (($(wc -c <"$work/run/$f") > 10000)) || fail "$f is nearly empty"
done
for f in slip_functions.svg fourier_amplitudes.svg; do
  grep -q '</svg>' "$work/run/$f" || fail "$f is not a complete SVG"
done
cmp -s "$work/Tri_Slip.csv" "$work/run/Tri_Slip.csv" || fail "Tri_Slip.csv was changed"
cmp -s "$work/Tri_Amp.csv" "$work/run/Tri_Amp.csv" || fail "Tri_Amp.csv was changed"

if [[ -n $custom ]]; then
  "$custom" --quiet --format full --nt 6000 --dt 0.0025 --fmax 5 --output-dir "$work/full"
  "$plot" "$work/full" >/dev/null || fail "plot of a full-precision run exited $?"
  [[ $(png_size "$work/full/fourier_amplitudes.png") == 900x650 ]] || fail "full run: no spectrum figure"
  grep -q 'fmax = 5 Hz' "$work/full/fourier_amplitudes.svg" || fail "full run: fmax from trislip.json not marked"
fi

if [[ -n $fault ]]; then
  "$fault" "$(dirname "$0")/data/two_segments_top_centre.fsp" --quiet --output-dir "$work/fault" 2>/dev/null
  "$plot" "$work/fault" >/dev/null || fail "plot of a fault run exited $?"
  [[ $(png_size "$work/fault/moment_rate.png") == 900x500 ]] || fail "fault run: no moment rate figure"
  (($(wc -c <"$work/fault/fault_slip.png") > 10000)) || fail "fault run: fault_slip.png is nearly empty"
  [[ $(grep -c 'segment [12]' "$work/fault/fault_slip.svg") == 2 ]] || fail "fault run: not one panel a segment"
fi

# expect_rejected NAME: plot must fail with a message and write no figure.
expect_rejected() {
  local status=0
  "$plot" "$work/bad" >/dev/null 2>"$work/err" || status=$?
  if ((status == 0)); then
    fail "$1: accepted"
  elif ! grep -q '^plot: ' "$work/err"; then
    fail "$1: no message"
  fi
  [[ ! -e $work/bad/slip_functions.png ]] || fail "$1: wrote a figure"
}

mkdir "$work/bad"
cp "$work/Tri_Slip.csv" "$work/bad"
expect_rejected "missing Tri_Amp.csv"
sed '1s/.*/time,velocity/' "$work/Tri_Amp.csv" >"$work/bad/Tri_Amp.csv"
expect_rejected "wrong header"
sed '5s/,$//' "$work/Tri_Amp.csv" >"$work/bad/Tri_Amp.csv"
expect_rejected "record with three fields"
cp "$work/Tri_Amp.csv" "$work/bad/Tri_Amp.csv"
sed '7s/0\.0/x.0/' "$work/Tri_Slip.csv" >"$work/bad/Tri_Slip.csv"
expect_rejected "field that is not a number"

if ((failures)); then
  echo "0 passed, $failures failed"
  exit 1
fi
echo "plot: all checks passed"
