#!/usr/bin/env bash
# The system calls the stub makes per file, from a Wine relay trace: a
# silent self-extractor of FILES small files in two folders and the floor
# (write_floor) on the same tree, each run once under 64-bit Wine with
# WINEDEBUG=+relay, and the calls into ntdll's Nt* functions counted for
# each run. The counts of a one-file payload are taken off, so the table
# shows what the files and folders cost, divided by the number of files.
# Usage: bench/trace_calls.sh SFXPACK [STUB64] [FLOOR64]
#   FILES  the number of files (default 100); KEEP=1 keeps the traces
set -eu
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
sfxpack=$(realpath "${1:?usage: trace_calls.sh SFXPACK [STUB64] [FLOOR64]}")
stub=$(realpath "${2:-$repo/build/win64/bin/sfxstub.exe}")
floor=$(realpath "${3:-$repo/build/win64/bin/write_floor.exe}")
files=${FILES:-100}
work=$(mktemp -d)
[ -n "${KEEP:-}" ] && echo "traces kept in $work" || trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree/a" "$work/tree/b" "$work/one"
for i in $(seq 1 "$files"); do
  printf 'file %s\n' "$i" >"$work/tree/$([ $((i % 2)) = 0 ] && echo a || echo b)/f$i.txt"
done
printf 'x' >"$work/one/x.txt"
for t in tree one; do
  "$sfxpack" create -q -o "$work/$t.exe" --stub "$stub" --silent --unzip-dir 'C:\sfxbench' "$work/$t"
  python3 "$here/floor/make_listing.py" "$work/$t" "$work/$t.lst" "$work/$t.dat"
done
cp "$floor" "$work/write_floor.exe"
cat >"$work/run.sh" <<'INNER'
set -eu
work=$1
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
wine "$work/one.exe" -unzipDir "$(winpath "$work/warm")" </dev/null
for t in tree one; do
  WINEDEBUG=+relay wine "$work/$t.exe" -unzipDir "$(winpath "$work/out-stub-$t")" \
    </dev/null 2>"$work/stub-$t.trace"
  WINEDEBUG=+relay wine "$work/write_floor.exe" "$(winpath "$work/$t.lst")" \
    "$(winpath "$work/$t.dat")" "$(winpath "$work/out-floor-$t")" </dev/null 2>"$work/floor-$t.trace"
done
INNER
. "$repo/scripts/env.sh"
SFX_WIN_PRESET=win64 wine_select
xvfb_start
wine_stage bash "$work/run.sh" "$work"
xvfb_stop
diff -rq "$work/tree" "$work/out-stub-tree" && diff -rq "$work/tree" "$work/out-floor-tree"
count() { grep -o 'Call ntdll\.Nt[A-Za-z]*' "$1" | sed 's/Call ntdll\.//' | sort | uniq -c; }
echo "calls into ntdll's Nt* functions per file ($files files in 2 folders, a one-file run taken off)"
for tool in stub floor; do
  echo "$tool:"
  join -1 2 -2 2 -a 1 -e 0 -o 0,1.1,2.1 <(count "$work/$tool-tree.trace" | sort -k2) \
    <(count "$work/$tool-one.trace" | sort -k2) |
    awk -v n="$files" '{d = ($2 - $3) / n; if (d >= 0.005) {printf "  %-32s %6.2f\n", $1, d; t += d}}
      END {printf "  %-32s %6.2f\n", "all", t}'
done
