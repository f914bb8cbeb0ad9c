#!/usr/bin/env bash
# The password key's cost and what encryption costs extraction: one
# derivation at the default count with the native kdf_bench and with the
# Win32 kdf_bench.exe under Wine (the stub's own code), then "sfxpack
# extract" of the 100 MB mixed file packed plain, encrypted (salted scheme,
# default count) and encrypted in the earlier scheme, in wall and processor
# time; the salted figures also with one derivation's time taken out (the
# one derivation is a fixed cost per run, not per byte). The encrypted
# extraction must stay within 5% of the plain one.
# Usage (Wine settings of the end-to-end tests; the Wine part is skipped
# when KDF_BENCH_EXE is "-"):
#   bench/run_kdf.sh SFXPACK KDF_BENCH KDF_BENCH_EXE [WORKDIR]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_lib.sh"
usage="usage: run_kdf.sh SFXPACK KDF_BENCH KDF_BENCH_EXE [WORKDIR]"
sfxpack=$(realpath "${1:?$usage}")
native=$(realpath "${2:?$usage}")
winexe=${3:?$usage}
need_tools /usr/bin/time
work=${4:-$(mktemp -d)}
mkdir -p "$work"
results=$work/kdf-results.txt
: >"$results"

echo "one key derivation, native:"
native_out=$("$native" 600000 "$BENCH_RUNS")
sed 's/^/  /' <<<"$native_out"
if [ "$winexe" != - ]; then
  need_tools wine
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winedbg.exe=d"}
  echo "one key derivation, the Win32 build under Wine:"
  wine "$(realpath "$winexe")" 600000 "$BENCH_RUNS" | tr -d '\r' | sed 's/^/  /'
fi

echo "preparing data in $work"
mkdir -p "$work/mixed"
[ -f "$work/mixed/mixed.bin" ] || make_mixed "$work/mixed/mixed.bin" 100
stub=$work/stub.exe
printf 'MZ stub' >"$stub"
"$sfxpack" create -q -o "$work/plain.exe" --stub "$stub" "$work/mixed"
"$sfxpack" create -q -o "$work/encrypted.exe" --stub "$stub" --password 'bench pw' "$work/mixed"
"$sfxpack" create -q -o "$work/legacy.exe" --stub "$stub" --password 'bench pw' --legacy-encryption "$work/mixed"
sync
n=0
for run in $(seq 1 "$BENCH_RUNS"); do
  # One derivation alone, timed beside the extractions it is taken from.
  timed key "$native" 600000 1
  for kind in plain encrypted legacy; do
    n=$((n + 1))
    pw=()
    [ "$kind" = plain ] || pw=(--password 'bench pw')
    timed "$kind" "$sfxpack" extract "$work/$kind.exe" -C "$work/o$n" "${pw[@]}"
    cmp -s "$work/mixed/mixed.bin" "$work/o$n/mixed.bin" ||
      { echo "bench: the $kind extraction differs" >&2; exit 1; }
    rm -rf "$work/o$n"
  done
done
echo "sfxpack extract of 100 MB mixed data, medians of $BENCH_RUNS:"
print_row plain
print_row encrypted
print_row legacy
cpu() { awk -v u="$(median "$1" 3)" -v s="$(median "$1" 4)" 'BEGIN {print u + s}'; }
less_key() { awk -v e="$1" -v k="$2" 'BEGIN {print e - k}'; }
plain=$(median plain 2)
enc=$(median encrypted 2)
r_net=$(ratio "$(less_key "$enc" "$(median key 2)")" "$plain")
echo "  salted / plain, wall: $(ratio "$enc" "$plain") with the one derivation, $r_net without it" \
  "(limit 1.05: $(verdict "$r_net" 1.05))"
r_cpu=$(ratio "$(less_key "$(cpu encrypted)" "$(cpu key)")" "$(cpu plain)")
echo "  salted / plain, processor time without the derivation: $r_cpu" \
  "(limit 1.05: $(verdict "$r_cpu" 1.05))"
echo "  earlier scheme / plain, wall: $(ratio "$(median legacy 2)" "$plain")," \
  "processor time: $(ratio "$(cpu legacy)" "$(cpu plain)")"
