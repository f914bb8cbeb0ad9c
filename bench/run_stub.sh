#!/usr/bin/env bash
# The stub as users meet it: the self-extractor started under Wine, silent
# (no dialog; the unzip folder on its command line), on one 100 MB file of
# mixed content, Wine's start-up included, against native "unzip -q" of the
# same data zipped at -6 in the same rounds. The 64-bit twin runs under
# 64-bit Wine; the PE32 stub as it ships runs separately, with fewer rounds,
# under 32-bit Wine (emulated where the kernel runs no 32-bit programs, where
# each start takes seconds). Beside them, so that a missed target shows
# where the time goes: the decoding alone ("sfxpack test" reads, inflates and
# checks the same payload and writes nothing) and the writing alone (cp of
# the same 100 MB). Every timed run writes into a directory never used
# before. Prints medians and ratios.
#
# Usage: bench/run_stub.sh SFXPACK [WORKDIR]   (SFXPACK from a release build)
#   STUB64, STUB32   the stubs (default build/win64/bin/sfxstub.exe and
#                    build/win32/bin/sfxstub.exe of this tree)
#   BENCH_RUNS       rounds of the 64-bit twin (default 5)
#   BENCH_RUNS32     rounds of the PE32 stub (default 2; 0 leaves it out)
#   BENCH_MB         size of the mixed file in MB (default 100)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)

# Inside the Wine environment (see below): the timed rounds of one stub.
if [ "${1:-}" = --rounds ]; then
  arch=$2 work=$3 runs=$4 sfxpack=$5 out=$6
  . "$here/bench_lib.sh"
  results=$work/stub-results.txt
  winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
  exe=$work/mixed-$arch.exe
  # The first start after the prefix came up is not timed.
  wine "$exe" -unzipDir "$(winpath "$out/warm-$arch")" </dev/null ||
    { echo "bench: the $arch stub failed under Wine (exit $?; is the prefix whole?)" >&2; exit 1; }
  for run in $(seq 1 "$runs"); do
    n="$arch-$run"
    # Turn by turn which tool goes first, so that neither always follows
    # the other's writing.
    if [ $((run % 2)) = 1 ]; then
      timed "$arch-stub" wine "$exe" -unzipDir "$(winpath "$out/$n-stub")"
      timed "$arch-unzip" unzip -q "$work/mixed.zip" -d "$out/$n-unzip"
    else
      timed "$arch-unzip" unzip -q "$work/mixed.zip" -d "$out/$n-unzip"
      timed "$arch-stub" wine "$exe" -unzipDir "$(winpath "$out/$n-stub")"
    fi
    if [ "$arch" = x64 ]; then
      timed "decode" "$sfxpack" test "$exe"
      mkdir "$out/$n-cp"
      timed "write" cp "$work/mixed/mixed.bin" "$out/$n-cp/"
      timed "extract" "$sfxpack" extract "$exe" -C "$out/$n-extract"
    fi
    cmp -s "$work/mixed/mixed.bin" "$out/$n-stub/mixed.bin" ||
      { echo "bench: the $arch stub's output differs" >&2; exit 1; }
  done
  exit 0
fi

runs64=${BENCH_RUNS:-5}
. "$here/bench_lib.sh"
sfxpack=$(realpath "${1:?usage: run_stub.sh SFXPACK [WORKDIR]}")
stub64=$(realpath "${STUB64:-$repo/build/win64/bin/sfxstub.exe}")
stub32=$(realpath "${STUB32:-$repo/build/win32/bin/sfxstub.exe}")
runs32=${BENCH_RUNS32:-2}
mb=${BENCH_MB:-100}
need_tools zip unzip /usr/bin/time wine Xvfb
work=$(realpath -m "${2:-$(mktemp -d)}")
mkdir -p "$work"
results=$work/stub-results.txt
: >"$results"

echo "preparing data in $work"
mkdir -p "$work/mixed"
[ -f "$work/mixed/mixed.bin" ] || make_mixed "$work/mixed/mixed.bin" "$mb"
rm -f "$work/mixed.zip"
(cd "$work/mixed" && zip -6 -q "$work/mixed.zip" mixed.bin)
arches=(x64)
[ "$runs32" = 0 ] || arches+=(x86)
for arch in "${arches[@]}"; do
  stub=$stub64
  [ "$arch" = x64 ] || stub=$stub32
  [ -f "$stub" ] || { echo "bench: $stub is missing (build the win64 and win32 presets)" >&2; exit 1; }
  # A placeholder folder: each run names its own on the command line.
  "$sfxpack" create -q -o "$work/mixed-$arch.exe" --stub "$stub" --silent \
    --unzip-dir 'C:\sfxbench' "$work/mixed"
done
# The outputs of this invocation: folders that never existed before.
out=$(mktemp -d "$work/out.XXXXXX")
sync

# Each stub's rounds run in its Wine environment (scripts/env.sh), with one
# persistent Wine server, on a virtual display.
. "$repo/scripts/env.sh"
xvfb_start
trap 'xvfb_stop' EXIT
for arch in "${arches[@]}"; do
  (  # the 64-bit settings must not reach the 32-bit run
    if [ "$arch" = x64 ]; then
      SFX_WIN_PRESET=win64 wine_select
      rounds=$runs64
    else
      SFX_WIN_PRESET=win32 wine_select
      rounds=$runs32
    fi
    echo "$arch stub: $rounds rounds under $wine_how"
    wine_stage bash "$here/run_stub.sh" --rounds "$arch" "$work" "$rounds" \
      "$sfxpack" "$out"
  )
done

echo
echo "mixed: $(describe_tree "$work/mixed"); zip $(stat -c %s "$work/mixed.zip") bytes, self-extractor $(stat -c %s "$work/mixed-x64.exe") bytes; $(nproc) cores"
for arch in "${arches[@]}"; do
  echo "$arch:"
  print_row "$arch-stub"
  print_row "$arch-unzip"
  r=$(ratio "$(median "$arch-stub" 2)" "$(median "$arch-unzip" 2)")
  echo "  stub under Wine / unzip wall $r (at most 0.6: $(verdict "$r" 0.6))"
done
echo "the same payload, in parts:"
print_row extract
print_row decode
print_row write
echo "  sfxpack extract / unzip wall $(ratio "$(median extract 2)" "$(median x64-unzip 2)")"
echo "  decode alone (sfxpack test) / unzip wall $(ratio "$(median decode 2)" "$(median x64-unzip 2)")"
echo "  write alone (cp) / unzip wall $(ratio "$(median write 2)" "$(median x64-unzip 2)")"
echo "  x64 stub minus decode minus write: $(awk -v s="$(median x64-stub 2)" -v d="$(median decode 2)" -v w="$(median write 2)" 'BEGIN {printf "%.3f s", s - d - w}') (Wine start-up and what the stub adds)"
# Deleting many files slows the creation of new ones for a while: the
# outputs are left for the caller (or go with a temporary WORKDIR).
[ -n "${2:-}" ] || rm -rf "$work"
