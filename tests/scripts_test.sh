#!/usr/bin/env bash
# The scripts' own contracts: scripts/bench and scripts/fuzz refuse a bad
# count with their usage, and scripts/check-portability, told that 32-bit
# programs cannot run, builds the i686 Windows program, runs the x86_64 one through Wine's
# 64-bit loader and counts the i686 run as skipped, not passed.
#   scripts_test.sh SOURCE-DIR
set -uo pipefail
root=$1
source "$root/scripts/lib.sh"
require_packages "${build_tools[@]}" "${portability_packages[@]}" || exit 1
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

for runs in 0 -3 abc --help; do
  "$root/scripts/bench" "$runs" >/dev/null 2>/tmp/bench-usage.$$
  status=$?
  ((status == 2)) || fail "scripts/bench $runs exited $status, not 2"
  grep -q '^usage: scripts/bench' /tmp/bench-usage.$$ || fail "scripts/bench $runs printed no usage"
done
for seconds in 0 abc "1 2"; do
  "$root/scripts/fuzz" $seconds >/dev/null 2>/tmp/bench-usage.$$
  status=$?
  ((status == 2)) || fail "scripts/fuzz $seconds exited $status, not 2"
  grep -q '^usage: scripts/fuzz' /tmp/bench-usage.$$ || fail "scripts/fuzz $seconds printed no usage"
done
rm -f /tmp/bench-usage.$$

out=$(TRISLIP_NO_32BIT=1 "$root/scripts/check-portability" --only windows-x86_64,windows-i686 </dev/null 2>&1)
status=$?
((status == 0)) || fail "check-portability without 32-bit runs exited $status"
grep -q '^windows-x86_64 *same bytes, CR LF' <<<"$out" || fail "the x86_64 Windows build did not run and match"
grep -q '^windows-i686 *SKIPPED (built, not run): 32-bit runs switched off' <<<"$out" ||
  fail "the i686 Windows run was not reported as skipped"
[[ $(tail -n 1 <<<"$out") == "portability: 1 passed, 0 failed, 1 skipped" ]] ||
  fail "closing line: $(tail -n 1 <<<"$out")"

if ((failures)); then
  printf '%s\n' "$out" | sed 's/^/    /' >&2
  exit 1
fi
echo "scripts: all checks passed"
