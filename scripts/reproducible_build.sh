#!/usr/bin/env bash
# Reproducible builds: builds the 32-bit stub again from a copy of this
# tree in another folder, with the same preset and toolchain, and compares
# it byte for byte with build/win32/bin/sfxstub.exe. With --all, also the
# 64-bit stub (build/win64) and the packer (build/native-release, which
# then must hold the stubs of build/win32 and build/win64, as the test
# command builds it). Only those targets are built.
#   scripts/reproducible_build.sh [--all]
# Exit status: 0 when every file compares equal, 1 otherwise.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
all=0
[ "${1:-}" = --all ] && all=1
work=$(mktemp -d "${TMPDIR:-/tmp}/sfx-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT
copy=$work/other-folder/tree

# The tracked and new files of the working tree, not its build folders.
mkdir -p "$copy"
(cd "$repo" && git ls-files -z --cached --others --exclude-standard |
  xargs -0 tar -cf - --no-recursion) | tar -xf - -C "$copy"

status=0
compare() {  # compare NAME FIRST SECOND
  if [ ! -f "$2" ]; then
    echo "reproducible: $1: no first build ($2); build the preset first"
    status=1
  elif cmp -s "$2" "$3"; then
    echo "reproducible: $1: identical ($(stat -c %s "$2") bytes)"
  else
    echo "reproducible: $1: DIFFERS between $2 and the build in another folder"
    cmp -l "$2" "$3" | head -n 5
    status=1
  fi
}
build() {  # build PRESET TARGET [CMAKE-ARGS...]
  local preset=$1 target=$2
  shift 2
  (cd "$copy" && cmake --preset "$preset" -DSFX_BUILD_TESTS=OFF "$@" >"$work/$preset.log" 2>&1 &&
    cmake --build --preset "$preset" --target "$target" >>"$work/$preset.log" 2>&1) || {
    cat "$work/$preset.log"
    echo "reproducible: the second $preset build failed"
    exit 1
  }
}

build win32 sfxstub
compare "win32 sfxstub.exe" "$repo/build/win32/bin/sfxstub.exe" "$copy/build/win32/bin/sfxstub.exe"
if [ "$all" = 1 ]; then
  build win64 sfxstub
  compare "win64 sfxstub.exe" "$repo/build/win64/bin/sfxstub.exe" "$copy/build/win64/bin/sfxstub.exe"
  build native-release sfxpack -DSFX_STUB_X86="$copy/build/win32/bin/sfxstub.exe" \
    -DSFX_STUB_X64="$copy/build/win64/bin/sfxstub.exe"
  compare "sfxpack" "$repo/build/native-release/bin/sfxpack" "$copy/build/native-release/bin/sfxpack"
fi
exit "$status"
