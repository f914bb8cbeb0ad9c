#!/usr/bin/env bash
# The stub against the floor under Wine: the self-extractor (packed by
# sfxpack, silent, its folder on the command line) against write_floor (the
# least Win32 calls that write the same tree: create, write, set the time,
# close; bench/floor/write_floor.cpp) on 10,000 and 100,000 small files in
# folders of 500 and on the many-file corpus, for the PE32 stub under 32-bit
# Wine (emulated where the kernel runs no 32-bit programs) and for its 64-bit
# twin under 64-bit Wine. Each architecture's rounds run under one persistent
# Wine server; stub and floor take turns going first; every run writes into a
# folder that never existed. A one-file tree, timed in the same rounds, gives
# each program's start-up, which is taken off before the cost per file:
#   cost per file = (median wall - median start-up wall) / files
# Prints both costs, their ratio and the verdicts: the stub at most 1.15 of
# the floor at 10,000 and at 100,000 files, and its cost per file at 100,000
# at most 1.15 of that at 10,000 (constant). Exits 1 when a verdict is missed.
#
# Usage: bench/run_floor.sh SFXPACK [WORKDIR]   (SFXPACK from a release build)
#   STUB64, STUB32    the stubs (default build/win64/bin/sfxstub.exe and
#                     build/win32/bin/sfxstub.exe of this tree)
#   FLOOR64, FLOOR32  the floors (default build/win64/bin/write_floor.exe and
#                     build/win32/bin/write_floor.exe)
#   BENCH_RUNS        pairs of the 64-bit twin (default 3; 0 leaves it out)
#   BENCH_RUNS32      pairs of the PE32 stub (default 1; 0 leaves it out)
#   FLOOR_SIZES       the small-file counts (default "10000 100000")
#   FLOOR_CORPUS      1 (default) adds the corpus, 0 leaves it out
# startup_min.exe beside each floor (the win32 and win64 presets build it)
# holds Wine's desktop during the rounds.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)

# Inside the Wine environment (see below): the timed rounds of one
# architecture.
if [ "${1:-}" = --rounds ]; then
  arch=$2 work=$3 runs=$4 out=$5
  shift 5
  shapes=("$@")
  . "$here/bench_lib.sh"
  results=$work/floor-results.txt
  winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
  floor=$work/write_floor-$arch.exe
  run_stub() { timed "$arch-stub-$1" wine "$work/$1-$arch.exe" -unzipDir "$(winpath "$2")"; }
  run_floor() {
    timed "$arch-floor-$1" wine "$floor" "$(winpath "$work/$1.lst")" \
      "$(winpath "$work/$1.dat")" "$(winpath "$2")"
  }
  # A window kept open holds Wine's desktop (its explorer process, which
  # ends soon after the last program with a window), so that each start of
  # the stub does not bring it up again.
  if [ -f "$work/startup_min-$arch.exe" ]; then
    wine "$work/startup_min-$arch.exe" hold >/dev/null 2>&1 </dev/null &
    holder=$!
    trap 'kill "$holder" 2>/dev/null || true; wait "$holder" 2>/dev/null || true' EXIT
  fi
  # The first starts after the prefix came up are not timed.
  wine "$work/tiny-$arch.exe" -unzipDir "$(winpath "$out/warm-$arch-stub")" </dev/null ||
    { echo "bench: the $arch stub failed under Wine (exit $?; is the prefix whole?)" >&2; exit 1; }
  wine "$floor" "$(winpath "$work/tiny.lst")" "$(winpath "$work/tiny.dat")" \
    "$(winpath "$out/warm-$arch-floor")" </dev/null ||
    { echo "bench: the $arch floor failed under Wine" >&2; exit 1; }
  for run in $(seq 1 "$runs"); do
    for shape in tiny "${shapes[@]}"; do
      n=$arch-$run-$shape
      if [ $((run % 2)) = 1 ]; then
        run_stub "$shape" "$out/$n-stub"
        run_floor "$shape" "$out/$n-floor"
      else
        run_floor "$shape" "$out/$n-floor"
        run_stub "$shape" "$out/$n-stub"
      fi
      if [ "$run" = 1 ]; then
        diff -rq "$work/$shape" "$out/$n-stub" >/dev/null ||
          { echo "bench: the $arch stub's $shape differs" >&2; exit 1; }
        diff -rq "$work/$shape" "$out/$n-floor" >/dev/null ||
          { echo "bench: the $arch floor's $shape differs" >&2; exit 1; }
      fi
    done
  done
  exit 0
fi

. "$here/bench_lib.sh"
sfxpack=$(realpath "${1:?usage: run_floor.sh SFXPACK [WORKDIR]}")
stub64=$(realpath "${STUB64:-$repo/build/win64/bin/sfxstub.exe}")
stub32=$(realpath "${STUB32:-$repo/build/win32/bin/sfxstub.exe}")
floor64=$(realpath "${FLOOR64:-$repo/build/win64/bin/write_floor.exe}")
floor32=$(realpath "${FLOOR32:-$repo/build/win32/bin/write_floor.exe}")
runs64=${BENCH_RUNS:-3}
runs32=${BENCH_RUNS32:-1}
read -r -a sizes <<<"${FLOOR_SIZES:-10000 100000}"
need_tools python3 diff /usr/bin/time wine Xvfb
work=$(realpath -m "${2:-$(mktemp -d)}")
mkdir -p "$work"
results=$work/floor-results.txt
: >"$results"

echo "preparing data in $work"
shapes=()
for count in "${sizes[@]}"; do
  shapes+=("small$count")
  [ -d "$work/small$count" ] ||
    python3 "$here/floor/make_listing.py" --make "$count" "$work/small$count" \
      "$work/small$count.lst" "$work/small$count.dat"
done
if [ "${FLOOR_CORPUS:-1}" = 1 ]; then
  shapes+=(corpus)
  [ -d "$work/corpus" ] || make_corpus "$work/corpus"
  python3 "$here/floor/make_listing.py" "$work/corpus" "$work/corpus.lst" "$work/corpus.dat"
fi
rm -rf "$work/tiny"
mkdir -p "$work/tiny"
printf 'x' >"$work/tiny/x.txt"
python3 "$here/floor/make_listing.py" "$work/tiny" "$work/tiny.lst" "$work/tiny.dat"

arches=()
[ "$runs64" = 0 ] || arches+=(x64)
[ "$runs32" = 0 ] || arches+=(x86)
for arch in "${arches[@]}"; do
  stub=$stub64 floor=$floor64
  [ "$arch" = x64 ] || { stub=$stub32 floor=$floor32; }
  for f in "$stub" "$floor"; do
    [ -f "$f" ] || { echo "bench: $f is missing (build the win64 and win32 presets)" >&2; exit 1; }
  done
  cp "$floor" "$work/write_floor-$arch.exe"
  holder=$(dirname "$floor")/startup_min.exe
  rm -f "$work/startup_min-$arch.exe"
  [ ! -f "$holder" ] || cp "$holder" "$work/startup_min-$arch.exe"
  for shape in tiny "${shapes[@]}"; do
    # A placeholder folder: each run names its own on the command line.
    "$sfxpack" create -q -o "$work/$shape-$arch.exe" --stub "$stub" --silent \
      --unzip-dir 'C:\sfxbench' "$work/$shape"
  done
done
out=$(mktemp -d "$work/out.XXXXXX")
sync

. "$repo/scripts/env.sh"
xvfb_start
trap 'xvfb_stop' EXIT
for arch in "${arches[@]}"; do
  (
    if [ "$arch" = x64 ]; then
      SFX_WIN_PRESET=win64 wine_select
      rounds=$runs64
    else
      SFX_WIN_PRESET=win32 wine_select
      rounds=$runs32
    fi
    echo "$arch: $rounds pairs under $wine_how"
    wine_stage bash "$here/run_floor.sh" --rounds "$arch" "$work" "$rounds" "$out" "${shapes[@]}"
  )
done

# per_file ARCH TOOL SHAPE: seconds per file, start-up taken off.
per_file() {
  awk -v a="$(median "$1-$2-$3" 2)" -v s="$(median "$1-$2-tiny" 2)" \
    -v n="$(find "$work/$3" -type f | wc -l)" 'BEGIN {printf "%.6f", (a - s) / n}'
}
ms() { awk -v s="$1" 'BEGIN {printf "%.3f ms", s * 1000}'; }

echo
echo "$(nproc) cores; the floor: CreateDirectoryW a folder; CreateFileW, WriteFile, SetFileTime, CloseHandle a file"
missed=0
for arch in "${arches[@]}"; do
  echo "$arch: start-up (one file): stub $(median "$arch-stub-tiny" 2) s, floor $(median "$arch-floor-tiny" 2) s"
  for shape in "${shapes[@]}"; do
    stub_cost=$(per_file "$arch" stub "$shape")
    floor_cost=$(per_file "$arch" floor "$shape")
    r=$(ratio "$stub_cost" "$floor_cost")
    echo "  $shape: $(describe_tree "$work/$shape"); payload $(stat -c %s "$work/$shape-$arch.exe") bytes"
    printf '    stub  wall %8.3f s  per file %s\n' "$(median "$arch-stub-$shape" 2)" "$(ms "$stub_cost")"
    printf '    floor wall %8.3f s  per file %s\n' "$(median "$arch-floor-$shape" 2)" "$(ms "$floor_cost")"
    if [ "$shape" = corpus ]; then
      echo "    stub / floor per file $r (reported only)"
    else
      v=$(verdict "$r" 1.15)
      echo "    stub / floor per file $r (at most 1.15: $v)"
      [ "$v" = ok ] || missed=1
    fi
  done
  if [ "${#sizes[@]}" -ge 2 ]; then
    lo=${sizes[0]} hi=${sizes[${#sizes[@]} - 1]}
    for tool in stub floor; do
      g=$(ratio "$(per_file "$arch" "$tool" "small$hi")" "$(per_file "$arch" "$tool" "small$lo")")
      if [ "$tool" = stub ]; then
        v=$(verdict "$g" 1.15)
        echo "  stub per file at $hi / at $lo: $g (constant, at most 1.15: $v)"
        [ "$v" = ok ] || missed=1
      else
        echo "  floor per file at $hi / at $lo: $g (reported only)"
      fi
    done
  fi
done
[ -n "${2:-}" ] || rm -rf "$work"
exit "$missed"
