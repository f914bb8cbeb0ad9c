#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) in build/fuzz and runs
# each one over its seed corpus for a while:
#   scripts/fuzz.sh [SECONDS]     each target SECONDS seconds (default 300)
#   scripts/fuzz.sh --smoke       each target 15 seconds (CI)
#   scripts/fuzz.sh TARGET...     only the named targets (after SECONDS)
# The seed corpus in fuzz/NAME/corpus (which also keeps the inputs of past
# findings) is replayed first; new inputs go to build/fuzz/corpus/NAME, a
# crashing input to build/fuzz/findings/. Prints one line per target and, last,
# "fuzz: N targets, M executions, K findings"; exits 1 when there was a
# finding.
set -euo pipefail
source "$(dirname "$0")/env.sh"
cd "$repo"

seconds=300
if [ "${1:-}" = --smoke ]; then
  seconds=15
  shift
elif [[ "${1:-}" =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(payload inflate xml enc_convert command_line charset_name pe_branding name_check)
fi

build=build/fuzz
{
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DSFX_FUZZ=ON \
      -DSFX_BUILD_TESTS=OFF -DSFX_BUILD_TOOLS=OFF -DSFX_WERROR=ON
  fi
  cmake --build "$build" -j2 --target sfx_fuzzers
} >"$build.log" 2>&1 || {
  cat "$build.log" >&2
  echo "fuzz: build failed"
  exit 1
}

total_runs=0
findings=0
mkdir -p "$build/findings"
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  mkdir -p "$work"
  log="$build/$t.log"
  set +e
  "$build/bin/${t}_fuzzer" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 \
    -artifact_prefix="$build/findings/$t-" "$work" "fuzz/$t/corpus" >"$log" 2>&1
  rc=$?
  set -e
  runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log" | tail -n 1)
  runs=${runs:-0}
  total_runs=$((total_runs + runs))
  if [ "$rc" = 0 ]; then
    echo "fuzz $t: ${seconds}s, $runs executions, no finding"
  else
    findings=$((findings + 1))
    echo "fuzz $t: FINDING after $runs executions (exit $rc); log in $log"
    grep -E "^(==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)" "$log" | head -n 5 || true
  fi
done
echo "fuzz: ${#targets[@]} targets, $total_runs executions, $findings findings"
[ "$findings" = 0 ]
