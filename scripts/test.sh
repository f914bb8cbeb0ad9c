#!/usr/bin/env bash
# Runs every test: the unit tests natively (Debug, ASan and UBSan), the same
# unit tests cross-built for Win32 under Wine, and the end-to-end tests of the
# stub under Wine and Xvfb. Installs what is missing first.
set -euo pipefail
source "$(dirname "$0")/env.sh"
cd "$repo"
bash scripts/setup.sh

summary=()
run_ctest() {  # run_ctest LABEL ctest-args...
  local label=$1 log
  shift
  log=$(mktemp)
  set +e
  ctest "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  set -e
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  summary+=("$label: ${line:-no result (exit $rc)}")
  local total failed
  total=$(sed -nE 's/.* out of ([0-9]+).*/\1/p' <<<"$line")
  failed=$(sed -nE 's/.* ([0-9]+) tests failed.*/\1/p' <<<"$line")
  all_total=$((all_total + ${total:-0}))
  all_failed=$((all_failed + ${failed:-0}))
  rm -f "$log"
  [ "$rc" = 0 ] || status=1
}
all_total=0
all_failed=0
status=0

echo "== native (Debug, sanitizers)"
build_preset native
run_ctest native --preset native

wine_select
echo "== win32 (MinGW-w64 i686)"
build_preset win32
if [ "$win_preset" != win32 ]; then
  echo "== $win_preset (MinGW-w64 x86_64)"
  build_preset "$win_preset"
fi
echo "== native-release (packer, tools)"
build_preset native-release -DSFX_WIN32_BIN_DIR="$win_bin" \
  -DSFX_SHIPPED_STUB="$repo/build/win32/bin/sfxstub.exe"

wine_init
xvfb_start
trap xvfb_stop EXIT
# A Wine program can meet the previous one's server on its way out ("wine
# client error: recvmsg"); a test that fails gets one more run, so only a
# test that fails twice counts.
echo "== $win_preset unit tests under Wine"
run_ctest "$win_preset" --preset "$win_preset" --repeat until-pass:2
echo "== end-to-end tests of the stub under Wine"
run_ctest e2e --preset native-release -L e2e --repeat until-pass:2
# The fuzz output goes through a file: tee to /dev/stderr would reopen, and
# so truncate, a log file that the caller sends this script's output to.
fuzz_out=$(mktemp)
fuzz_rc=0
bash scripts/fuzz.sh --smoke >"$fuzz_out" 2>&1 || fuzz_rc=$?
cat "$fuzz_out"
summary+=("$(tail -n 1 "$fuzz_out")")
rm -f "$fuzz_out"
[ "$fuzz_rc" = 0 ] || status=1

echo
printf '%s\n' "${summary[@]}"
echo "tests: $((all_total - all_failed)) passed, $all_failed failed"
exit $status
