#!/usr/bin/env bash
# End-to-end tests of the stub: real payloads made by sfxpack, the real
# sfxstub.exe under Wine, its windows driven by sfxdriver.exe.
#
#   e2e.sh CASE     runs one case: a function case_CASE defined in one of the
#                   cases_*.sh files beside this script, each listed in the
#                   NAME.cases file of the same name (one case a line)
#
# Environment: SFX_PACK (the packer), SFX_WIN32_BIN (folder of sfxstub.exe and
# sfxdriver.exe), SFX_WORK (a scratch folder), optionally SFX_SHIPPED_STUB (the
# 32-bit sfxstub.exe when SFX_WIN32_BIN holds a 64-bit build), and the Wine
# settings and DISPLAY of the caller.
set -euo pipefail

: "${SFX_PACK:?}" "${SFX_WIN32_BIN:?}" "${SFX_WORK:?}"
here=$(cd "$(dirname "$0")" && pwd)
stub="$SFX_WIN32_BIN/sfxstub.exe"
driver="$SFX_WIN32_BIN/sfxdriver.exe"
# The binutils of the stub's machine: where the kernel runs no 32-bit programs
# the cases run a 64-bit build of the same code (see scripts/env.sh).
mingw=i686-w64-mingw32
i686-w64-mingw32-objdump -f "$stub" >/dev/null 2>&1 || mingw=x86_64-w64-mingw32
main_title="Marlith Zip Self-Extractor"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

winpath() {  # the Windows form of an absolute POSIX path (drive Z: is /)
  local p=${1//\//\\}
  printf 'Z:%s' "$p"
}

# Writes a configuration document with the given child elements (KEY=VALUE).
config() {
  local out=$1
  shift
  {
    echo '<?xml version="1.0" encoding="utf-8" ?>'
    echo '<SfxConfig>'
    local kv
    for kv in "$@"; do echo "  <${kv%%=*}>${kv#*=}</${kv%%=*}>"; done
    echo '</SfxConfig>'
  } >"$out"
}

# pack OUT.exe [sfxpack options...]: packs the example folder.
pack() {
  local out=$1
  shift
  "$SFX_PACK" create -o "$out" --stub "$stub" "$@" "$here/../../examples/hello" >/dev/null
}

# drive SCRIPT-LINES...: runs sfxdriver with the given commands, one a line.
# Its waits end on the awaited event; the limit (SFX_DRIVER_TIMEOUT_MS,
# 60 s by default) only bounds a failing case, and leaves room for emulated
# Wine on a busy machine, where a program takes several seconds to start.
drive() {
  local script="$SFX_WORK/script.txt"
  printf '%s\n' "$@" >"$script"
  wine "$driver" -t "${SFX_DRIVER_TIMEOUT_MS:-60000}" -f "$(winpath "$script")"
}

expect_lines() {  # expect_lines FILE LINE...: each line, in this order, indentation aside
  local file=$1 line n=0 at
  shift
  for line in "$@"; do
    at=$(tail -n +$((n + 1)) "$file" | sed 's/^ *//' | grep -nxF -m1 -- "$line" | cut -d: -f1)
    [ -n "$at" ] || fail "run log lacks, after line $n: $line"$'\n'"$(cat "$file")"
    n=$((n + at))
  done
}

for cases_file in "$here"/cases_*.sh; do
  # shellcheck source=/dev/null
  source "$cases_file"
done

name=${1:?usage: e2e.sh CASE}
rm -rf "$SFX_WORK"
mkdir -p "$SFX_WORK"
"case_$name"
