#!/usr/bin/env bash
# Extraction speed: "sfxpack extract" against "unzip -q" on the same data
# zipped at -6, and "cp -r" of the tree, in two shapes: one 100 MB file of
# mixed content (bound by decoding) and a many-file corpus (bound by file
# creation). Every timed run writes into a directory never used before.
# The payloads carry the integrity record (sfxpack's default); the same
# data packed with --no-integrity is extracted in the same rounds, and the
# ratio of the two shows what checking the record costs.
# Prints medians of BENCH_RUNS runs (default 3), peak memory and ratios,
# and exits with 1 when a ratio misses its target (each "OVER" line).
# Usage: bench/run_extract.sh SFXPACK [WORKDIR]   (SFXPACK from a release build)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_lib.sh"
sfxpack=$(realpath "${1:?usage: run_extract.sh SFXPACK [WORKDIR]}")
need_tools zip unzip /usr/bin/time
work=${2:-$(mktemp -d)}
mkdir -p "$work"
results=$work/extract-results.txt
: >"$results"
bash "$here/../tools/sfxpack/make_test_stub.sh" "$work/stub.exe"

echo "preparing data in $work"
mkdir -p "$work/mixed"
make_mixed "$work/mixed/mixed.bin" 100
[ -d "$work/corpus" ] || make_corpus "$work/corpus"
for shape in mixed corpus; do
  (cd "$work/$shape" && zip -r -6 -q "$work/$shape.zip" .)
  "$sfxpack" create -q -o "$work/$shape.exe" --stub "$work/stub.exe" "$work/$shape"
  "$sfxpack" create -q -o "$work/$shape-noint.exe" --stub "$work/stub.exe" \
    --no-integrity "$work/$shape"
done
# This run's outputs: folders that never existed, even when WORKDIR is
# given again.
out=$(mktemp -d "$work/out.XXXXXX")
sync

missed=""
# check NAME RATIO LIMIT: sets $v to "ok" or "OVER" and remembers a miss
# (not in a subshell, so that the miss is kept).
check() {
  v=$(verdict "$2" "$3")
  [ "$v" = ok ] || missed="$missed $1"
}

n=0
for run in $(seq 1 "$BENCH_RUNS"); do
  for shape in mixed corpus; do
    n=$((n + 1))
    timed "$shape-unzip" unzip -q "$work/$shape.zip" -d "$out/$n-unzip"
    # With and without the record in turns, first one then the other, so
    # that neither always follows the same run (the file system is slower
    # right after many deletions and creations).
    if [ $((run % 2)) = 1 ]; then
      timed "$shape-sfxpack" "$sfxpack" extract "$work/$shape.exe" -C "$out/$n-sfxpack"
      timed "$shape-norecord" "$sfxpack" extract "$work/$shape-noint.exe" -C "$out/$n-norecord"
    else
      timed "$shape-norecord" "$sfxpack" extract "$work/$shape-noint.exe" -C "$out/$n-norecord"
      timed "$shape-sfxpack" "$sfxpack" extract "$work/$shape.exe" -C "$out/$n-sfxpack"
    fi
    timed "$shape-cp" cp -r "$work/$shape" "$out/$n-cp"
    diff -rq "$work/$shape" "$out/$n-sfxpack" >/dev/null ||
      { echo "bench: extracted $shape differs" >&2; exit 1; }
  done
done

for shape in mixed corpus; do
  echo
  echo "$shape: $(describe_tree "$work/$shape"); zip $(stat -c %s "$work/$shape.zip") bytes, sfx $(stat -c %s "$work/$shape.exe") bytes"
  for tool in unzip sfxpack norecord cp; do print_row "$shape-$tool"; done
  sw=$(median "$shape-sfxpack" 2)
  su=$(median "$shape-sfxpack" 3)
  peak=$(awk -v k="$(median "$shape-sfxpack" 5)" 'BEGIN {printf "%.1f", k / 1024}')
  r_unzip=$(ratio "$sw" "$(median "$shape-unzip" 2)")
  r_user=$(ratio "$su" "$(median "$shape-unzip" 3)")
  r_cp=$(ratio "$sw" "$(median "$shape-cp" 2)")
  r_rec=$(ratio "$sw" "$(median "$shape-norecord" 2)")
  r_rec_user=$(ratio "$su" "$(median "$shape-norecord" 3)")
  check "$shape-record" "$r_rec" 1.03
  echo "  with/without the integrity record: wall $r_rec (at most 1.03: $v), user $r_rec_user"
  if [ "$shape" = mixed ]; then
    check "$shape-unzip-wall" "$r_unzip" 0.25
    echo "  sfxpack/unzip wall $r_unzip (at most 0.25: $v)"
  else
    check "$shape-cp-wall" "$r_cp" 0.9
    echo "  sfxpack/cp -r wall $r_cp (at most 0.9: $v)"
    echo "  sfxpack/unzip wall $r_unzip (reported only)"
    check "$shape-unzip-user" "$r_user" 0.35
    echo "  sfxpack/unzip user $r_user (at most 0.35: $v)"
  fi
  check "$shape-memory" "$peak" 16
  echo "  sfxpack peak memory $peak MB (at most 16: $v)"
done
[ -n "${2:-}" ] || rm -rf "$work"
if [ -n "$missed" ]; then
  echo
  echo "bench: targets missed:$missed" >&2
  exit 1
fi
