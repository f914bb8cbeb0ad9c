#!/usr/bin/env bash
# Packing speed: "sfxpack create" (all cores) against "zip -r -6" on the same
# data, in two shapes: the many-file corpus and one 100 MB file of mixed
# content. Prints medians of BENCH_RUNS runs (default 3), the output sizes,
# peak memory, the ratios and the verdicts: at most 0.2 of zip's wall time
# with a payload at most zip's size, on both shapes; exits 1 when one is
# missed. SFXPACK_BEFORE names a second sfxpack (an
# earlier build) timed in the same rounds, for a before-and-after figure.
# Usage: bench/run_create.sh SFXPACK [WORKDIR]   (SFXPACK from a release build)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_lib.sh"
sfxpack=$(realpath "${1:?usage: run_create.sh SFXPACK [WORKDIR]}")
before=${SFXPACK_BEFORE:+$(realpath "$SFXPACK_BEFORE")}
need_tools zip /usr/bin/time
work=${2:-$(mktemp -d)}
mkdir -p "$work"
results=$work/create-results.txt
: >"$results"
bash "$here/../tools/sfxpack/make_test_stub.sh" "$work/stub.exe"
echo "preparing data in $work"
[ -d "$work/corpus" ] || make_corpus "$work/corpus"
mkdir -p "$work/mixed"
[ -f "$work/mixed/mixed.bin" ] || make_mixed "$work/mixed/mixed.bin" 100
sync

for run in $(seq 1 "$BENCH_RUNS"); do
  for shape in corpus mixed; do
    rm -f "$work/$shape.zip" "$work/$shape.exe" "$work/$shape-before.exe"
    (cd "$work/$shape" && timed "$shape-zip" zip -r -6 -q "$work/$shape.zip" .)
    timed "$shape-sfxpack" "$sfxpack" create -q -o "$work/$shape.exe" --stub "$work/stub.exe" "$work/$shape"
    if [ -n "$before" ]; then
      timed "$shape-before" "$before" create -q -o "$work/$shape-before.exe" --stub "$work/stub.exe" "$work/$shape"
    fi
  done
done

missed=0
for shape in corpus mixed; do
  zsize=$(stat -c %s "$work/$shape.zip")
  ssize=$(( $(stat -c %s "$work/$shape.exe") - $(stat -c %s "$work/stub.exe") ))
  echo
  echo "$shape: $(describe_tree "$work/$shape"), $(nproc) cores"
  print_row "$shape-zip"
  print_row "$shape-sfxpack"
  r=$(ratio "$(median "$shape-sfxpack" 2)" "$(median "$shape-zip" 2)")
  vt=$(verdict "$r" 0.2)
  echo "  sfxpack/zip wall $r (at most 0.2: $vt)"
  # The sizes compared exactly (a ratio to two decimals would round up to 1).
  vs=$([ "$ssize" -le "$zsize" ] && echo ok || echo OVER)
  echo "  output: zip $zsize bytes, sfxpack payload $ssize bytes ($(ratio "$ssize" "$zsize") of zip's; at most 1: $vs)"
  [ "$vt" = ok ] && [ "$vs" = ok ] || missed=1
  if [ -n "$before" ]; then
    print_row "$shape-before"
    bsize=$(( $(stat -c %s "$work/$shape-before.exe") - $(stat -c %s "$work/stub.exe") ))
    echo "  before: sfxpack/zip wall $(ratio "$(median "$shape-before" 2)" "$(median "$shape-zip" 2)"), payload $bsize bytes"
  fi
done
[ -n "${2:-}" ] || rm -rf "$work"
echo
[ "$missed" = 0 ] && echo "verdict: ok" || echo "verdict: a target is missed"
exit "$missed"
