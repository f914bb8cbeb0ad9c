#!/usr/bin/env bash
# Packing speed: "sfxpack create" (all cores) against "zip -r -6" on the same
# many-file corpus. Prints medians of BENCH_RUNS runs (default 3), the output
# sizes, peak memory and the ratios.
# Usage: bench/run_create.sh SFXPACK [WORKDIR]   (SFXPACK from a release build)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_lib.sh"
sfxpack=$(realpath "${1:?usage: run_create.sh SFXPACK [WORKDIR]}")
need_tools zip /usr/bin/time
work=${2:-$(mktemp -d)}
mkdir -p "$work"
results=$work/create-results.txt
: >"$results"
printf 'MZ' >"$work/stub.exe"
echo "preparing data in $work"
[ -d "$work/corpus" ] || make_corpus "$work/corpus"
sync

for run in $(seq 1 "$BENCH_RUNS"); do
  rm -f "$work/c.zip" "$work/c.exe"
  (cd "$work/corpus" && timed zip zip -r -6 -q "$work/c.zip" .)
  timed sfxpack "$sfxpack" create -q -o "$work/c.exe" --stub "$work/stub.exe" "$work/corpus"
done

zsize=$(stat -c %s "$work/c.zip")
ssize=$(( $(stat -c %s "$work/c.exe") - $(stat -c %s "$work/stub.exe") ))
echo
echo "corpus: $(describe_tree "$work/corpus"), $(nproc) cores"
print_row zip
print_row sfxpack
r=$(ratio "$(median sfxpack 2)" "$(median zip 2)")
echo "  sfxpack/zip wall $r (at most 0.2: $(verdict "$r" 0.2))"
echo "  output: zip $zsize bytes, sfxpack payload $ssize bytes ($(ratio "$ssize" "$zsize") of zip's; at most 1: $(verdict "$(ratio "$ssize" "$zsize")" 1))"
[ -n "${2:-}" ] || rm -rf "$work"
