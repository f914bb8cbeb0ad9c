#!/usr/bin/env bash
# Writes the payload target's seed corpus with the packer:
#   fuzz/payload/make_corpus.sh PATH/TO/sfxpack
# Small trees, stored and deflated, plain and encrypted with the password
# "fuzz" the target tries. The stub (the smallest the packer accepts) is cut
# off, so each seed is the payload alone.
set -euo pipefail
pack=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree/docs/empty" "$work/corpus"
bash "$here/../../tools/sfxpack/make_test_stub.sh" "$work/stub.exe"
printf 'Read me first.\r\n%.0s' {1..20} >"$work/tree/readme.txt"
printf 'alpha beta gamma\n' >"$work/tree/docs/a.txt"
: >"$work/tree/docs/zero.bin"
cat >"$work/config.xml" <<'XML'
<?xml version="1.0" encoding="utf-8" ?>
<SfxConfig><ShowMain>0</ShowMain><RunAfterUnzip>setup.exe</RunAfterUnzip></SfxConfig>
XML
n=0
seed() {  # seed ARGS...: one payload, the stub bytes cut off
  n=$((n + 1))
  "$pack" create -o "$work/out.exe" --stub "$work/stub.exe" "$@" >/dev/null
  tail -c +1025 "$work/out.exe" >"$here/corpus/seed$n"
}
mkdir -p "$here/corpus"
seed "$work/tree"
seed --level 0 "$work/tree"
seed --config "$work/config.xml" --arg extra=1 "$work/tree/docs"
seed --password fuzz --key-bits 128 "$work/tree"
seed --password fuzz --key-bits 256 --level 0 "$work/tree/docs"
seed --password other "$work/tree/docs/a.txt"
seed --password fuzz --chunk-size 64 "$work/tree"
seed --chunk-size 16 --level 0 "$work/tree/docs"
