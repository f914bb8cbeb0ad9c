#!/usr/bin/env bash
# Start-up of the stub under Wine against a minimal Win32 GUI program
# (bench/startup/startup_min.cpp) in the same prefix, with one persistent
# wineserver and the same X display: the stub runs silently (ShowMain,
# ShowProgress and ShowFin 0) on a payload of one tiny file, each run into a
# directory never used before. The programs take turns, the order rotated
# every round. Prints the median wall times (start of "wine" to its exit)
# and CPU times of each, their ratios stub / minimal (target: at most 1.2
# for the wall time) and, for a stub built with SFX_STARTUP_MARKS, the
# median times of its phase marks. With
# STARTUP_BASELINE naming another stub (an earlier build, say), that one
# takes its turn too, on the same payload, and is reported beside.
#
# Usage: bench/run_startup.sh [win64|win32] [RUNS]
#   win64  the 64-bit twin under 64-bit Wine (default; 21 runs)
#   win32  the PE32 stub as it ships, under 32-bit Wine: emulated through
#          scripts/run32.sh where the kernel runs no 32-bit programs, where
#          each start takes seconds (default 5 runs)
# Needs build/PRESET/bin (sfxstub.exe, startup_min.exe) and the packer in
# build/native-release/bin. STARTUP_STUB and STARTUP_MIN name other
# executables (a stub built with -DSFX_STARTUP_MARKS=ON, say), STARTUP_WORK
# a scratch folder that is kept, STARTUP_HOLD=0 runs without a program
# holding Wine's desktop.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" = --inner ]; then
  # Inside wine_stage: the measuring loop. Args: WORK RUNS NAME... (the
  # programs, each WORK/NAME.exe; a name other than "min" is a stub).
  work=$2
  runs=$3
  shift 3
  names=("$@")
  results=$work/results.txt
  marks=$work/marks.txt
  : >"$results"
  : >"$marks"
  winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
  n=0
  # The user and system CPU time of this shell's finished children in a
  # "times" snapshot, in ms (bash reads the kernel's accounting).
  child_cpu() {
    tail -n 1 "$1" |
      awk '{t = 0; for (i = 1; i <= 2; i++) {split($i, p, "m"); t += p[1] * 60 + p[2]} printf "%.1f", t * 1000}'
  }
  # one NAME: one timed start; a stub extracts into a new directory. The
  # phase marks on stderr (marks builds) are kept with the program's name.
  # Between the two snapshots of "times" (taken in this shell) nothing but
  # Wine runs, so the CPU time is the Wine process's alone.
  one() {
    local name=$1 start end rc=0 out args=()
    n=$((n + 1))
    out=$work/o$n
    [ "$name" = min ] || args=(-unzipDir "$(winpath "$out")")
    times >"$work/times0.txt"
    start=$EPOCHREALTIME
    wine "$work/$name.exe" "${args[@]}" 2>"$work/err.txt" || rc=$?
    end=$EPOCHREALTIME
    times >"$work/times1.txt"
    if [ "$rc" != 0 ]; then
      echo "bench: $name exited with $rc" >&2
      cat "$work/err.txt" >&2
      exit 1
    fi
    if [ "$name" != min ]; then
      [ "$(cat "$out/x.txt" 2>/dev/null)" = x ] ||
        { echo "bench: the stub did not extract x.txt into $out" >&2; exit 1; }
      rm -rf "$out"
    fi
    # "NAME<TAB>MS<TAB>PHASE<TAB>STEP": STEP is the time since the run's
    # mark before (since the process was created for the first).
    awk -v n="$name" '$1 == "startup-mark" {t = $2; $1 = $2 = ""; sub(/^ +/, ""); sub(/\r$/, "");
                      printf "%s\t%s\t%s\t%.2f\n", n, t, $0, t - last; last = t}' \
      "$work/err.txt" >>"$marks"
    # "NAME WALL CPU": the wall time and the CPU time of the Wine process, in
    # ms (the persistent wineserver's share is not in it).
    awk -v n="$name" -v a="$start" -v b="$end" -v c0="$(child_cpu "$work/times0.txt")" \
      -v c1="$(child_cpu "$work/times1.txt")" \
      'BEGIN {printf "%s %.1f %.1f\n", n, (b - a) * 1000, c1 - c0}' >>"$results"
  }
  # Wine ends its desktop process a second after the last program using the
  # desktop has gone, and the next program to create a window starts it
  # again (seconds under emulation): whether a measured start pays for that
  # would depend on when it first touches the desktop. A held program keeps
  # the desktop up for every run, as a desktop is up on Windows
  # (STARTUP_HOLD=0: none is held).
  if [ "${STARTUP_HOLD:-1}" != 0 ]; then
    wine "$work/min.exe" hold >/dev/null 2>&1 </dev/null &
    holder=$!
    trap 'kill "$holder" 2>/dev/null || true; wait "$holder" 2>/dev/null || true' EXIT
  fi
  # A first start of each, not counted: files in the page cache, the
  # prefix's services up.
  for name in "${names[@]}"; do one "$name"; done
  : >"$results"
  : >"$marks"
  # Each round rotates the order by one, so that no program always follows
  # the same one.
  count=${#names[@]}
  for round in $(seq 0 $((runs - 1))); do
    for i in $(seq 0 $((count - 1))); do one "${names[(round + i) % count]}"; done
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
pack() {  # pack OUT.exe STUB
  "$sfxpack" create -q -o "$1" --stub "$2" --silent --unzip-dir 'C:\unused' "$work/tiny/x.txt"
}
pack "$work/stub.exe" "$stub"
names=(min stub)
if [ -n "${STARTUP_BASELINE:-}" ]; then
  pack "$work/base.exe" "$STARTUP_BASELINE"
  names+=(base)
fi

started_xvfb=
if [ -z "${DISPLAY:-}" ]; then
  xvfb_start
  started_xvfb=1
fi
echo "start-up under $wine_how: $runs runs each, interleaved"
wine_stage bash "$here/run_startup.sh" --inner "$work" "$runs" "${names[@]}"
[ -z "$started_xvfb" ] || xvfb_stop

results=$work/results.txt
median() {  # median VALUES...: of the numbers given on stdin
  sort -g | awk '{v[NR] = $1} END {if (NR == 0) exit; if (NR % 2) print v[(NR + 1) / 2]; else printf "%.1f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
col() { awk -v n="$1" -v f="$2" '$1 == n {print $f}' "$results"; }  # col NAME FIELD
stat_row() {  # stat_row NAME: medians of wall and CPU time, lowest and highest wall
  printf '  %-5s wall median %7.1f ms (lowest %7.1f, highest %7.1f)   CPU median %7.1f ms\n' "$1" \
    "$(col "$1" 2 | median)" "$(col "$1" 2 | sort -g | head -n 1)" \
    "$(col "$1" 2 | sort -g | tail -n 1)" "$(col "$1" 3 | median)"
}
echo "stub: $stub ($(stat -c %s "$stub") bytes)"
[ -z "${STARTUP_BASELINE:-}" ] || echo "base: $STARTUP_BASELINE ($(stat -c %s "$STARTUP_BASELINE") bytes)"
echo "min:  $min"
for name in "${names[@]}"; do
  stat_row "$name"
done
for name in "${names[@]:1}"; do
  row=
  for f in 2 3; do
    r=$(awk -v a="$(col "$name" "$f" | median)" -v b="$(col min "$f" | median)" 'BEGIN {printf "%.2f", a / b}')
    # Paired: each run against the minimal program's run of the same round.
    p=$(awk -v n="$name" -v f="$f" '$1 == "min" {m[++i] = $f} $1 == n {s[++j] = $f}
          END {for (k = 1; k <= i && k <= j; k++) if (m[k] > 0) print s[k] / m[k]}' "$results" | median)
    if [ "$f" = 2 ]; then
      row+=$(printf 'wall %s (per round %.2f; at most 1.2: %s)' "$r" "$p" \
        "$(awk -v r="$r" 'BEGIN {print (r <= 1.2) ? "ok" : "OVER"}')")
    else
      row+=$(printf ', CPU %s (per round %.2f)' "$r" "$p")
    fi
  done
  echo "  $name / minimal: $row"
done

if [ -s "$work/marks.txt" ]; then
  # Medians of each run's own steps (less disturbed by a slow moment early
  # in a run than the times since creation), then of those times.
  echo "phase marks: median ms since the mark before | median ms since the process was created"
  head=
  for name in "${names[@]}"; do head+=$(printf ' %7s' "$name"); done
  echo " $head  |$head  phase"
  # The phases in the order the stub passes them, then the others'.
  { grep '^stub' "$work/marks.txt" || true; grep -v '^stub' "$work/marks.txt" || true; } |
    awk -F '\t' '!($3 in seen) {seen[$3] = 1; print $3}' | while IFS= read -r phase; do
    steps=
    times=
    for name in "${names[@]}"; do
      v=$(awk -F '\t' -v n="$name" -v p="$phase" '$1 == n && $3 == p {print $4}' "$work/marks.txt" | median)
      steps+=$(printf ' %7s' "${v:--}")
      v=$(awk -F '\t' -v n="$name" -v p="$phase" '$1 == n && $3 == p {print $2}' "$work/marks.txt" | median)
      times+=$(printf ' %7s' "${v:--}")
    done
    echo " $steps  |$times  $phase"
  done
fi
[ -n "${STARTUP_WORK:-}" ] || rm -rf "$work"
