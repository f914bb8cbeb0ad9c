#!/usr/bin/env bash
# Writes the pe_branding target's seed corpus with the packer:
#   fuzz/pe_branding/make_corpus.sh PATH/TO/sfxpack
# Each seed is a 2-byte little-endian stub length, the stub and an .ico: the
# bare test stub, the same stub branded by the packer (icon, manifest and
# version resources in a new .rsrc section), and a small .ico of one 16x16
# image.
set -euo pipefail
pack=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash "$here/../../tools/sfxpack/make_test_stub.sh" "$work/stub.exe"
# The .ico: directory, one entry, a 32-bit BMP image with its AND mask.
{
  printf '\x00\x00\x01\x00\x01\x00'
  printf '\x10\x10\x00\x00\x01\x00\x20\x00\x68\x04\x00\x00\x16\x00\x00\x00'
  printf '\x28\x00\x00\x00\x10\x00\x00\x00\x20\x00\x00\x00\x01\x00\x20\x00'
  head -c 24 /dev/zero
  for _ in $(seq 256); do printf '\x20\x80\xe0\xff'; done
  head -c 64 /dev/zero
} >"$work/tiny.ico"
mkdir "$work/in"
printf 'x' >"$work/in/x.txt"
"$pack" create -q -o "$work/branded.exe" --stub "$work/stub.exe" --elevate \
  --icon "$work/tiny.ico" --version-info FileVersion=1.2.3.4 "$work/in"
image=$("$pack" info "$work/branded.exe" | sed -nE 's/^image: ([0-9]+) bytes$/\1/p')
head -c "$image" "$work/branded.exe" >"$work/branded-stub.exe"
seed() {  # seed NAME STUB ICO
  local size=0 f
  if [ -n "$2" ]; then size=$(stat -c %s "$2"); fi
  {
    printf "\\x$(printf %02x $((size & 255)))\\x$(printf %02x $((size >> 8)))"
    for f in "$2" "$3"; do
      if [ -n "$f" ]; then cat "$f"; fi
    done
  } >"$here/corpus/$1"
}
mkdir -p "$here/corpus"
seed bare "$work/stub.exe" "$work/tiny.ico"
seed branded "$work/branded-stub.exe" "$work/tiny.ico"
seed branded-no-icon "$work/branded-stub.exe" ""
seed icon-only "" "$work/tiny.ico"
