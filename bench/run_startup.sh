#!/usr/bin/env bash
# Start-up of the stub under Wine against a minimal Win32 GUI program
# (bench/startup/startup_min.cpp) in the same prefix, with one persistent
# wineserver and the same X display: the stub runs silently (ShowMain,
# ShowProgress and ShowFin 0) on a payload of one tiny file, each run into a
# directory never used before. The two programs take turns, the order
# swapped every round. Prints the median wall times (start of "wine" to its
# exit), their ratio stub / minimal (target: at most 1.2) and, for a stub
# built with SFX_STARTUP_MARKS, the median time of each phase mark.
#
# Usage: bench/run_startup.sh [win64|win32] [RUNS]
#   win64  the 64-bit twin under 64-bit Wine (default; 21 runs)
#   win32  the PE32 stub as it ships, under 32-bit Wine: emulated through
#          scripts/run32.sh where the kernel runs no 32-bit programs, where
#          each start takes seconds (default 5 runs)
# Needs build/PRESET/bin (sfxstub.exe, startup_min.exe) and the packer in
# build/native-release/bin. STARTUP_STUB and STARTUP_MIN name other
# executables (a stub built with -DSFX_STARTUP_MARKS=ON, say), STARTUP_WORK
# a scratch folder that is kept.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" = --inner ]; then
  # Inside wine_stage: the measuring loop. Args: WORK RUNS.
  work=$2
  runs=$3
  results=$work/results.txt
  marks=$work/marks.txt
  : >"$results"
  : >"$marks"
  winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
  n=0
  # one NAME: one timed start; the stub extracts into a new directory. The
  # phase marks on stderr (marks builds) are kept with the program's name.
  one() {
    local name=$1 start end rc=0 out
    n=$((n + 1))
    out=$work/o$n
    start=$EPOCHREALTIME
    if [ "$name" = stub ]; then
      wine "$work/tiny.exe" -unzipDir "$(winpath "$out")" 2>"$work/err.txt" || rc=$?
    else
      wine "$work/min.exe" 2>"$work/err.txt" || rc=$?
    fi
    end=$EPOCHREALTIME
    if [ "$rc" != 0 ]; then
      echo "bench: $name exited with $rc" >&2
      cat "$work/err.txt" >&2
      exit 1
    fi
    if [ "$name" = stub ]; then
      [ "$(cat "$out/x.txt" 2>/dev/null)" = x ] ||
        { echo "bench: the stub did not extract x.txt into $out" >&2; exit 1; }
      rm -rf "$out"
    fi
    awk -v n="$name" '$1 == "startup-mark" {t = $2; $1 = $2 = ""; sub(/^ +/, ""); print n "\t" t "\t" $0}' \
      "$work/err.txt" >>"$marks"
    # "NAME wall_ms", the wall time in milliseconds.
    awk -v n="$name" -v a="$start" -v b="$end" 'BEGIN {printf "%s %.1f\n", n, (b - a) * 1000}' >>"$results"
  }
  # A first start of each, not counted: files in the page cache, the
  # prefix's services up.
  one min
  one stub
  : >"$results"
  : >"$marks"
  for round in $(seq 1 "$runs"); do
    if ((round % 2)); then one min; one stub; else one stub; one min; fi
  done
  exit 0
fi

preset=${1:-win64}
case "$preset" in
  win64) runs=${2:-21} ;;
  win32) runs=${2:-5} ;;
  *) echo "usage: run_startup.sh [win64|win32] [RUNS]" >&2; exit 2 ;;
esac
source "$here/../scripts/env.sh"
SFX_WIN_PRESET=$preset wine_select
bin=$repo/build/$preset/bin
stub=${STARTUP_STUB:-$bin/sfxstub.exe}
min=${STARTUP_MIN:-$bin/startup_min.exe}
sfxpack=$repo/build/native-release/bin/sfxpack
for f in "$stub" "$min" "$sfxpack"; do
  [ -f "$f" ] || { echo "bench: $f is missing (build presets $preset and native-release)" >&2; exit 1; }
done

work=${STARTUP_WORK:-$(mktemp -d)}
mkdir -p "$work/tiny"
printf x >"$work/tiny/x.txt"
cp "$min" "$work/min.exe"
# The unzip directory of the payload is replaced by -unzipDir on each run.
"$sfxpack" create -q -o "$work/tiny.exe" --stub "$stub" --silent \
  --unzip-dir 'C:\unused' "$work/tiny/x.txt"

started_xvfb=
if [ -z "${DISPLAY:-}" ]; then
  xvfb_start
  started_xvfb=1
fi
echo "start-up under $wine_how: $runs runs each, interleaved"
wine_stage bash "$here/run_startup.sh" --inner "$work" "$runs"
[ -z "$started_xvfb" ] || xvfb_stop

results=$work/results.txt
median() {  # median VALUES...: of the numbers given on stdin
  sort -g | awk '{v[NR] = $1} END {if (NR == 0) exit; if (NR % 2) print v[(NR + 1) / 2]; else printf "%.1f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
stat_row() {  # stat_row NAME: median, lowest and highest wall time
  local vals
  vals=$(awk -v n="$1" '$1 == n {print $2}' "$results")
  printf '  %-8s median %7.1f ms  (lowest %7.1f, highest %7.1f)\n' "$1" \
    "$(median <<<"$vals")" "$(sort -g <<<"$vals" | head -n 1)" "$(sort -g <<<"$vals" | tail -n 1)"
}
echo "stub: $(basename "$stub") ($(stat -c %s "$stub") bytes), minimal: $(basename "$min")"
stat_row min
stat_row stub
m=$(awk '$1 == "min" {print $2}' "$results" | median)
s=$(awk '$1 == "stub" {print $2}' "$results" | median)
r=$(awk -v a="$s" -v b="$m" 'BEGIN {printf "%.2f", a / b}')
echo "  stub / minimal: $r (target at most 1.2: $(awk -v r="$r" 'BEGIN {print (r <= 1.2) ? "ok" : "OVER"}'))"
# Paired: each stub run against the minimal run of the same round.
awk '$1 == "min" {m[++i] = $2} $1 == "stub" {s[++j] = $2}
     END {for (k = 1; k <= i && k <= j; k++) print s[k] / m[k]}' "$results" |
  median | awk '{printf "  median of the per-round ratios: %.2f\n", $1}'

if [ -s "$work/marks.txt" ]; then
  echo "phase marks (median ms since the process was created):"
  printf '  %8s  %8s  %s\n' minimal stub phase
  # The phases in the order the stub passes them, then the minimal's others.
  { grep '^stub' "$work/marks.txt" || true; grep '^min' "$work/marks.txt" || true; } |
    awk -F '\t' '!($3 in seen) {seen[$3] = 1; print $3}' | while IFS= read -r phase; do
    row=
    for name in min stub; do
      v=$(awk -F '\t' -v n="$name" -v p="$phase" '$1 == n && $3 == p {print $2}' "$work/marks.txt" | median)
      row+=$(printf '  %8s' "${v:--}")
    done
    echo "$row  $phase"
  done
fi
[ -n "${STARTUP_WORK:-}" ] || rm -rf "$work"
