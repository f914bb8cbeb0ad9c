#!/usr/bin/env bash
# Runs every test: the unit tests natively (Debug, ASan and UBSan), the
# script that starts 32-bit programs, the unit tests cross-built for Win32
# and every end-to-end case with the stub as it ships (PE32) under 32-bit
# Wine (natively where the kernel runs 32-bit programs, emulated where it
# does not), the 64-bit twin's unit tests and a short end-to-end run under
# 64-bit Wine, and a short run of every fuzz target. Prints each stage's time.
# Installs what is missing first.
set -euo pipefail
source "$(dirname "$0")/env.sh"
cd "$repo"
bash scripts/setup.sh

summary=()
retried=()
all_total=0
all_failed=0
status=0
stage_start=$SECONDS
stage() {  # stage TITLE: ends the stage before (printing its time), starts one
  stage_end
  stage_title=$1
  stage_start=$SECONDS
  echo "== $1"
}
stage_end() {
  [ -n "${stage_title:-}" ] || return 0
  local t=$((SECONDS - stage_start))
  echo "== $stage_title: $((t / 60)) min $((t % 60)) s"
  times+=("$stage_title: $((t / 60)) min $((t % 60)) s")
  stage_title=
}
times=()

count() {  # count LABEL LINE RC: adds a ctest closing line to the summary
  local total failed
  summary+=("$1: ${2:-no result (exit $3)}")
  total=$(sed -nE 's/.* out of ([0-9]+).*/\1/p' <<<"$2")
  failed=$(sed -nE 's/.* ([0-9]+) tests failed.*/\1/p' <<<"$2")
  all_total=$((all_total + ${total:-0}))
  all_failed=$((all_failed + ${failed:-0}))
  [ "$3" = 0 ] || status=1
}

# Output of a Wine program that could not start (its loader or its server),
# not of the code under test.
wine_startup_failure='wine client error|could not load kernel32|failed to map the shared user data|wine: could not|wineserver: .*(mismatch|crashed)|wine: failed to'

# run_ctest LABEL [RUNNER...] -- CTEST-ARGS...: runs ctest (through RUNNER,
# for instance wine_stage, when given). A test that fails only because Wine
# did not start gets one more run; every such test is named in the summary.
# No other test runs twice.
run_ctest() {
  local label=$1 runner=()
  shift
  while [ "$1" != -- ]; do runner+=("$1"); shift; done
  shift
  local log rc line
  log=$(mktemp)
  set +e
  "${runner[@]}" ctest --output-on-failure "$@" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  set -e
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ "$rc" != 0 ] && [ -n "$line" ]; then
    # Failed tests whose own output shows a Wine start-up failure.
    local -a again
    mapfile -t again < <(awk -v pat="$wine_startup_failure" '
      /^ *Start +[0-9]+: / { name = ""; next }
      match($0, /Test +#[0-9]+: [^ ]+ /) && !/Passed/ { split(substr($0, RSTART, RLENGTH), f, " "); name = f[3]; next }
      name != "" && $0 ~ pat && !(name in seen) { seen[name] = 1; print name }' "$log")
    if ((${#again[@]})); then
      local name names="" passed_again=0
      for name in "${again[@]}"; do names+="${names:+|}$name"; done
      echo "== run again after a Wine start-up failure: ${again[*]}"
      set +e
      "${runner[@]}" ctest --output-on-failure "$@" -R "^($names)\$" 2>&1 | tee "$log.again"
      set -e
      for name in "${again[@]}"; do
        if grep -qE "Test +#[0-9]+: $name .*Passed" "$log.again"; then
          retried+=("$label: $name (Wine did not start; passed on the second run)")
          passed_again=$((passed_again + 1))
        else
          retried+=("$label: $name (Wine did not start; failed again)")
        fi
      done
      # The first run's count, less the tests that passed the second time.
      local total failed
      total=$(sed -nE 's/.* out of ([0-9]+).*/\1/p' <<<"$line")
      failed=$(($(sed -nE 's/.* ([0-9]+) tests failed.*/\1/p' <<<"$line") - passed_again))
      line="$(((total - failed) * 100 / total))% tests passed, $failed tests failed out of $total"
      [ "$failed" != 0 ] || rc=0
      rm -f "$log.again"
    fi
  fi
  rm -f "$log"
  count "$label" "$line" "$rc"
}

stage "native unit tests (Debug, sanitizers)"
build_preset native
run_ctest native -- --preset native

stage "the 32-bit runner (scripts/run32.sh)"
rc=0
out=$(bash scripts/run32_test.sh 2>&1) || rc=$?
echo "$out"
if [ "$rc" = 77 ]; then
  summary+=("run32: skipped")
else
  line=$(grep -E '^run32: [0-9]+ passed, [0-9]+ failed' <<<"$out" | tail -n 1 || true)
  p=$(sed -nE 's/^run32: ([0-9]+) passed.*/\1/p' <<<"$line")
  f=$(sed -nE 's/.* ([0-9]+) failed.*/\1/p' <<<"$line")
  summary+=("${line:-run32: no result (exit $rc)}")
  all_total=$((all_total + ${p:-0} + ${f:-0}))
  all_failed=$((all_failed + ${f:-0}))
  [ "$rc" = 0 ] || status=1
fi

wine_select
pe32_how=$wine_how
[ "$win_preset" = win32 ] || pe32_how="not run (SFX_WIN_PRESET=$win_preset)"
stage "builds: win32 (MinGW-w64 i686, the stub that ships), win64 (its 64-bit twin), native-release (packer, tools)"
build_preset win32
build_preset win64
build_preset native-release -DSFX_WIN32_BIN_DIR="$win_bin" \
  -DSFX_SHIPPED_STUB="$repo/build/win32/bin/sfxstub.exe" \
  -DSFX_STUB_X86="$repo/build/win32/bin/sfxstub.exe" -DSFX_STUB_X64="$repo/build/win64/bin/sfxstub.exe"

stage "packaging: the Debian package under lintian, the stubs and the packer built again in another folder"
run_ctest package -- --preset native-release -R '^sfxpack_deb$'
rc=0
out=$(bash scripts/reproducible_build.sh --all 2>&1) || rc=$?
echo "$out"
rp=$(grep -c ': identical (' <<<"$out" || true)
rf=$(grep -cE ': DIFFERS|failed|no first build' <<<"$out" || true)
[ "$rc" = 0 ] || [ "$rf" != 0 ] || rf=1
summary+=("reproducible builds: $rp passed, $rf failed")
all_total=$((all_total + rp + rf))
all_failed=$((all_failed + rf))
[ "$rc" = 0 ] || status=1

xvfb_start
trap xvfb_stop EXIT
# The sweeps run a sample (see tests/e2e/cases_sweep.sh).
export SFX_SWEEP_STRIDE=${SFX_SWEEP_STRIDE:-17} SFX_SWEEP_BIT_STRIDE=${SFX_SWEEP_BIT_STRIDE:-43}
stage "$win_preset unit tests under Wine: $wine_how"
run_ctest "$win_preset" wine_stage -- --preset "$win_preset"
stage "end-to-end tests of the $win_preset stub under Wine: $wine_how"
# The sweeps over payloads without the integrity record run in the 64-bit
# twin's stage below, where Wine starts a program in a fraction of the time.
run_ctest "e2e ($win_preset)" wine_stage -- --preset native-release -L e2e \
  -E '^e2e_stub_sweep_(plain|encrypted)_no_integrity$'

if [ "$win_preset" = win32 ]; then
  # The 64-bit twin: its unit tests and a short end-to-end run, natively
  # under 64-bit Wine, with its own stub and driver.
  win_preset=win64
  win_run=(env SFX_RUN32_MODE=direct bash "$repo/scripts/run32.sh")
  stage "win64 unit tests under 64-bit Wine"
  run_ctest win64 wine_stage -- --preset win64
  stage "end-to-end smoke run of the win64 stub under 64-bit Wine"
  smoke=(stub_file payload_found progress_mode run_log complete_run_log setup_exit_codes main_unzip_extracts packer_round_trip_aes256
         stub_sweep_plain_no_integrity stub_sweep_encrypted_no_integrity)
  sp=0
  sf=0
  for c in "${smoke[@]}"; do
    if SFX_PACK="$repo/build/native-release/bin/sfxpack" SFX_WIN32_BIN="$repo/build/win64/bin" \
      SFX_SHIPPED_STUB="$repo/build/win32/bin/sfxstub.exe" SFX_WORK="$repo/build/e2e-win64/$c" \
      wine_stage bash tests/e2e/e2e.sh "$c" >"$repo/build/e2e-win64.log" 2>&1; then
      sp=$((sp + 1))
      echo "win64 smoke: $c passed"
    else
      sf=$((sf + 1))
      echo "win64 smoke: $c FAILED"
      cat "$repo/build/e2e-win64.log"
    fi
  done
  summary+=("e2e smoke (win64): $sp passed, $sf failed")
  all_total=$((all_total + sp + sf))
  all_failed=$((all_failed + sf))
  [ "$sf" = 0 ] || status=1
fi

stage "fuzz smoke run"
# The fuzz output goes through a file: tee to /dev/stderr would reopen, and
# so truncate, a log file that the caller sends this script's output to.
fuzz_out=$(mktemp)
fuzz_rc=0
bash scripts/fuzz.sh --smoke >"$fuzz_out" 2>&1 || fuzz_rc=$?
cat "$fuzz_out"
summary+=("$(tail -n 1 "$fuzz_out")")
rm -f "$fuzz_out"
[ "$fuzz_rc" = 0 ] || status=1
stage_end

echo
printf '%s\n' "${times[@]}"
echo "the PE32 stub ran under: $pe32_how"
printf '%s\n' "${summary[@]}"
if ((${#retried[@]})); then
  echo "tests run a second time:"
  printf '  %s\n' "${retried[@]}"
else
  echo "tests run a second time: none"
fi
echo "tests: $((all_total - all_failed)) passed, $all_failed failed"
exit $status
