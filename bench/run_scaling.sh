#!/usr/bin/env bash
# Extraction time against payload size: one file of mixed content of each
# size (make_mixed), extracted by the 64-bit twin of the stub under 64-bit
# Wine (silent, start-up included), by "sfxpack extract", by native
# "unzip -q" (the same file zipped at -6) and copied with "cp -r", each run
# into a directory never used before, the tools in a turning order. Writes
# the median wall times to a data file, one line a size:
#   MB  stub_wine64  sfxpack_extract  unzip  cp_r      (seconds)
# which bench/plot_scaling.sh draws.
#
# Usage: bench/run_scaling.sh SFXPACK [WORKDIR]   (SFXPACK from a release build)
#   BENCH_SIZES  sizes in MB (default "10 30 100", a few minutes; "10 30 100
#                300" for the full curve)
#   BENCH_RUNS   rounds (default 3)
#   STUB64       the stub (default build/win64/bin/sfxstub.exe of this tree)
#   The data file is WORKDIR/scaling.dat.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
tools=(stub sfxpack unzip cp)

# Inside the Wine environment (see below): the timed rounds.
if [ "${1:-}" = --rounds ]; then
  work=$2 out=$3 sfxpack=$4
  . "$here/bench_lib.sh"
  results=$work/scaling-results.txt
  winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
  read -r -a sizes <<<"$BENCH_SIZES"
  # The first start after the prefix came up is not timed.
  wine "$work/s${sizes[0]}.exe" -unzipDir "$(winpath "$out/warm")" </dev/null ||
    { echo "bench: the stub failed under Wine (exit $?; is the prefix whole?)" >&2; exit 1; }
  for run in $(seq 1 "$BENCH_RUNS"); do
    for mb in "${sizes[@]}"; do
      for i in 0 1 2 3; do
        tool=${tools[$(((i + run) % 4))]}
        dir=$out/$run-$mb-$tool
        case $tool in
          stub) timed "stub-$mb" wine "$work/s$mb.exe" -unzipDir "$(winpath "$dir")" ;;
          sfxpack) timed "sfxpack-$mb" "$sfxpack" extract "$work/s$mb.exe" -C "$dir" ;;
          unzip) timed "unzip-$mb" unzip -q "$work/s$mb.zip" -d "$dir" ;;
          cp) timed "cp-$mb" cp -r "$work/s$mb" "$dir" ;;
        esac
        cmp -s "$work/s$mb/mixed.bin" "$dir/mixed.bin" ||
          { echo "bench: $tool's copy of $mb MB differs" >&2; exit 1; }
      done
    done
  done
  exit 0
fi

. "$here/bench_lib.sh"
sfxpack=$(realpath "${1:?usage: run_scaling.sh SFXPACK [WORKDIR]}")
stub=$(realpath "${STUB64:-$repo/build/win64/bin/sfxstub.exe}")
export BENCH_SIZES=${BENCH_SIZES:-10 30 100}
export BENCH_RUNS
need_tools zip unzip /usr/bin/time wine Xvfb
[ -f "$stub" ] || { echo "bench: $stub is missing (build the win64 preset)" >&2; exit 1; }
work=$(realpath -m "${2:-$(mktemp -d)}")
mkdir -p "$work"
results=$work/scaling-results.txt
: >"$results"

echo "preparing data in $work"
for mb in $BENCH_SIZES; do
  mkdir -p "$work/s$mb"
  [ -f "$work/s$mb/mixed.bin" ] || make_mixed "$work/s$mb/mixed.bin" "$mb"
  rm -f "$work/s$mb.zip"
  (cd "$work/s$mb" && zip -6 -q "$work/s$mb.zip" mixed.bin)
  "$sfxpack" create -q -o "$work/s$mb.exe" --stub "$stub" --silent \
    --unzip-dir 'C:\sfxbench' "$work/s$mb"
done
out=$(mktemp -d "$work/out.XXXXXX")
sync

. "$repo/scripts/env.sh"
xvfb_start
trap 'xvfb_stop' EXIT
SFX_WIN_PRESET=win64 wine_select
echo "$BENCH_RUNS rounds of sizes $BENCH_SIZES MB; the stub under $wine_how"
wine_stage bash "$here/run_scaling.sh" --rounds "$work" "$out" "$sfxpack"

data=$work/scaling.dat
{
  echo "# extraction wall time (median of $BENCH_RUNS, seconds) of one file of mixed content; $(nproc) cores"
  echo "# MB stub_wine64 sfxpack_extract unzip cp_r"
  for mb in $BENCH_SIZES; do
    echo "$mb $(median "stub-$mb" 2) $(median "sfxpack-$mb" 2) $(median "unzip-$mb" 2) $(median "cp-$mb" 2)"
  done
} >"$data"
echo
cat "$data"
echo "wrote $data (draw it with bench/plot_scaling.sh $data OUT.png)"
# The outputs stay: deleting many files slows the creation of new ones.
