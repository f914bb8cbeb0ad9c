#!/usr/bin/env bash
# Peak memory of "sfxpack extract" (the stub's reader) on two payloads: one
# whose chunks each inflate about 1000:1 (2,000,000 zero bytes a chunk) and
# one of 1 GB of mixed content. The reader streams each chunk to the file,
# so both stay far below the 16 MB bound.
# Usage: bench/run_memory.sh SFXPACK [WORKDIR]   (SFXPACK from a release build)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_lib.sh"
sfxpack=$(realpath "${1:?usage: run_memory.sh SFXPACK [WORKDIR]}")
need_tools /usr/bin/time
work=${2:-$(mktemp -d)}
mkdir -p "$work/zeros" "$work/big"
results=$work/memory-results.txt
: >"$results"
bash "$here/../tools/sfxpack/make_test_stub.sh" "$work/stub.exe"

head -c 200000000 /dev/zero >"$work/zeros/zeros.bin"
"$sfxpack" create -q -o "$work/zeros.exe" --stub "$work/stub.exe" \
  --chunk-size 2000000 "$work/zeros"
make_mixed "$work/mixed.bin" 100
for i in $(seq 1 10); do cat "$work/mixed.bin"; done >"$work/big/big.bin"
rm -f "$work/mixed.bin"
"$sfxpack" create -q -o "$work/big.exe" --stub "$work/stub.exe" "$work/big"

timed zeros "$sfxpack" extract "$work/zeros.exe" -C "$work/out-zeros"
cmp -s "$work/zeros/zeros.bin" "$work/out-zeros/zeros.bin" || { echo "bench: zeros differ" >&2; exit 1; }
rm -rf "$work/out-zeros"
timed big "$sfxpack" extract "$work/big.exe" -C "$work/out-big"
cmp -s "$work/big/big.bin" "$work/out-big/big.bin" || { echo "bench: big differs" >&2; exit 1; }

zs=$(( $(stat -c %s "$work/zeros.exe") - 2 ))
echo "zeros: 200,000,000 bytes in 100 chunks, payload $zs bytes ($(ratio 200000000 "$zs"):1)"
print_row zeros
echo "big: 1 GB mixed, payload $(( $(stat -c %s "$work/big.exe") - 2 )) bytes"
print_row big
for p in zeros big; do
  peak=$(awk -v k="$(median "$p" 5)" 'BEGIN {printf "%.1f", k / 1024}')
  echo "  $p peak memory $peak MB (at most 16: $(verdict "$peak" 16))"
done
[ -n "${2:-}" ] || rm -rf "$work"
