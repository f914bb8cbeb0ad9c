#!/usr/bin/env bash
# The stub under Wine against the packer's native reader: sfxstub.exe
# extracting silently (ShowMain, ShowProgress and ShowFin 0, -unzipDir) the
# 100 MB mixed file and the many-file corpus, against "sfxpack extract" on
# the same self-extractor. Wine's start-up is inside the stub's figure. Every
# run writes into a directory never used before. Prints medians of
# BENCH_RUNS runs and ratios.
# Usage (with the Wine settings of the end-to-end tests, under xvfb-run -a):
#   bench/run_wine.sh SFXPACK SFXSTUB.EXE [WORKDIR]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_lib.sh"
sfxpack=$(realpath "${1:?usage: run_wine.sh SFXPACK SFXSTUB.EXE [WORKDIR]}")
stub=$(realpath "${2:?usage: run_wine.sh SFXPACK SFXSTUB.EXE [WORKDIR]}")
need_tools wine /usr/bin/time
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winedbg.exe=d"}
work=${3:-$(mktemp -d)}
mkdir -p "$work"
results=$work/wine-results.txt
: >"$results"
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

cat >"$work/silent.xml" <<'XML'
<?xml version="1.0" encoding="utf-8" ?>
<SfxConfig>
  <ShowMain>0</ShowMain>
  <ShowProgress>0</ShowProgress>
  <ShowFin>0</ShowFin>
</SfxConfig>
XML
echo "preparing data in $work"
mkdir -p "$work/mixed"
[ -f "$work/mixed/mixed.bin" ] || make_mixed "$work/mixed/mixed.bin" 100
[ -d "$work/corpus" ] || make_corpus "$work/corpus"
mkdir -p "$work/tiny"
printf 'x' >"$work/tiny/x.txt"
for shape in mixed corpus tiny; do
  "$sfxpack" create -q -o "$work/$shape.exe" --stub "$stub" --config "$work/silent.xml" "$work/$shape"
done
# The prefix is brought up before timing. The Wine server is shared with
# whoever else uses the prefix, so it is neither made persistent nor killed.
wine cmd /c exit >/dev/null 2>&1 || true
sync

n=0
for run in $(seq 1 "$BENCH_RUNS"); do
  for shape in mixed corpus; do
    n=$((n + 1))
    # Wine's start-up and the stub's own fixed cost: a one-file payload.
    timed "tiny-stub" wine "$work/tiny.exe" -unzipDir "$(winpath "$work/o$n-tiny")"
    timed "$shape-stub" wine "$work/$shape.exe" -unzipDir "$(winpath "$work/o$n-stub")"
    timed "$shape-sfxpack" "$sfxpack" extract "$work/$shape.exe" -C "$work/o$n-sfxpack"
    diff -rq "$work/$shape" "$work/o$n-stub" >/dev/null ||
      { echo "bench: the stub's $shape differs" >&2; exit 1; }
  done
done

echo
echo "start-up: the stub on a one-file payload"
print_row tiny-stub
startup=$(median tiny-stub 2)
for shape in mixed corpus; do
  echo
  echo "$shape: $(describe_tree "$work/$shape")"
  print_row "$shape-stub"
  print_row "$shape-sfxpack"
  r=$(ratio "$(median "$shape-stub" 2)" "$(median "$shape-sfxpack" 2)")
  if [ "$shape" = mixed ]; then
    echo "  stub under Wine / sfxpack extract wall $r (at most 1.3: $(verdict "$r" 1.3))"
  else
    echo "  stub under Wine / sfxpack extract wall $r (reported only)"
  fi
  net=$(awk -v a="$(median "$shape-stub" 2)" -v s="$startup" 'BEGIN {print a - s}')
  echo "  the same without the start-up: $(ratio "$net" "$(median "$shape-sfxpack" 2)")"
done
[ -n "${3:-}" ] || rm -rf "$work"
